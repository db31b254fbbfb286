// What the engine hands to the rest of the plug-in: the audio paths (main,
// VAC, line out), the wide-band stages (notches by band, blankers), the
// panorama workers and the taps.
#include "DeviceFunctionsAbstract.h"
#include "EngineTestSupport.h"
#include "IqTapAbstract.h"
#include "ThreadPoolAbstract.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"
#include "zorvaniDsp/PanoramaBank.h"

#include <QtTest>

using namespace enginetest;

namespace {

// Runs every job at once on the submitting thread.
class InlinePool : public ThreadPoolAbstract {
public:
    bool submit(ThreadPoolItemAbstract* job) override
    {
        job->run();
        return true;
    }
};

class BandCatalogue : public DeviceFunctionsAbstract {
public:
    QList<DeviceBand> bands() const override
    {
        return {DeviceBand{3500000, 3800000, "80m"}, DeviceBand{7000000, 7200000, "40m"},
                DeviceBand{14000000, 14350000, "20m"}};
    }
};

class Analyzer : public SignalAnalyzerAbstract {
public:
    double rate = 0.0;
    bool active = true;
    int writes = 0;
    std::size_t samples = 0;
    quint32 receiver = 99;
    void setSampleRate(double hz) override { rate = hz; }
    bool isActive(int which) const override { return which == 0 && active; }
    void write(quint32 rx, const Sample*, std::size_t count) override
    {
        ++writes;
        samples += count;
        receiver = rx;
    }
};

// Amplitude of the tone at hz in the newest n samples of a raw ring.
double rawToneAmplitude(CircularBuffer<Sample>& ring, double hz, double fs, uint32_t n)
{
    std::vector<Sample> x(n);
    if (!ring.peekLatest(x.data(), n))
        return -1.0;
    double re = 0.0, im = 0.0;
    for (uint32_t k = 0; k < n; ++k) {
        const double ph = -2.0 * kPi * hz * double(k) / fs;
        re += x[k].re * std::cos(ph) - x[k].im * std::sin(ph);
        im += x[k].re * std::sin(ph) + x[k].im * std::cos(ph);
    }
    return std::hypot(re, im) / double(n);
}

// The raw rings have no consumer inside the engine: a full ring takes no
// more blocks, so the tests read the old ones away.
void keepLatest(CircularBuffer<Sample>& ring, uint32_t n)
{
    std::vector<Sample> sink(8192);
    if (ring.fill() > n)
        ring.read(sink.data(), ring.fill() - n);
}

std::vector<float> pull(const std::function<bool(float*, quint32, quint32)>& f, quint32 frames)
{
    std::vector<float> buffer(frames * 2, 9.0f);
    const bool ok = f(buffer.data(), quint32(buffer.size()), 2);
    if (!ok)
        buffer.assign(buffer.size(), -1.0f);
    return buffer;
}

bool allZero(const std::vector<float>& v)
{
    return std::all_of(v.begin(), v.end(), [](float x) { return x == 0.0f; });
}

} // namespace

class TestEnginePaths : public QObject {
    Q_OBJECT
private slots:
    void soundCardPathOpensOnce();
    void vacAndLineOutCarryChannelZero();
    void vacFollowsItsRate();
    void notchesFollowTheReceiversBand();
    void blankerReachesTheBlock();
    void panoramasAndBandScope();
    void panoramaBankSettings();
    void signalAnalyzerGetsChannelZero();
};

void TestEnginePaths::soundCardPathOpensOnce()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    auto main = [&](float* b, quint32 l, quint32 c) { return dsp.soundCardPull(b, l, c); };
    QVERIFY(allZero(pull(main, 256)));
    dsp.soundCardOpen();
    dsp.setSoundCardOutput(true); // already open: nothing changes
    QVERIFY(dsp.soundCardConverter().isRunning());
    QVERIFY(allZero(pull(main, 256))); // open but short of frames: silence
    dsp.soundCardClose();
    QVERIFY(!dsp.soundCardConverter().isRunning());
}

void TestEnginePaths::vacAndLineOutCarryChannelZero()
{
    Rig rig(39062.5, 4, 100.0, 2900.0, 0.0);
    zorvaniDsp& dsp = rig.dsp;
    ReceiverZorvani* rx = dsp.receiver(0);
    auto vac = [&](float* b, quint32 l, quint32 c) { return dsp.vacPull(0, b, l, c); };
    auto line = [&](float* b, quint32 l, quint32 c) { return dsp.lineOutPull(0, b, l, c); };
    QVERIFY(allZero(pull(vac, 512)));
    QVERIFY(allZero(pull(line, 512)));

    dsp.openVac(0, 48000);
    dsp.openVac(0, 48000); // open already: the thread keeps running
    QVERIFY(rx->vacConverter().isRunning());
    rx->lineoutOpen();
    QVERIFY(!dsp.receiver(1)->vacOpen());

    // Feed in small steps so that the converters' rings never overflow; take
    // what lies beyond each ring's reserve, as a steady host does.
    const Signal signal = toneSignal(1000.0, 0.05);
    std::vector<double> vacLeft, lineLeft;
    const struct {
        std::function<bool(float*, quint32, quint32)> pull;
        ResamplerSCZorvani& converter;
        std::vector<double>& left;
    } paths[] = {{vac, rx->vacConverter(), vacLeft}, {line, rx->lineOutConverter(), lineLeft}};
    for (int step = 0; step < 60; ++step) {
        rig.run(signal, 0.025); // 1000 samples: about 1229 frames at 48000 Hz
        for (const auto& p : paths) {
            CircularBuffer<Sample>& ring = p.converter.outputRing();
            QTRY_VERIFY_WITH_TIMEOUT(p.converter.inputRing().fill() == 0, 5000);
            if (ring.fill() <= ring.prefill())
                continue;
            const std::vector<float> v = pull(p.pull, ring.fill() - ring.prefill());
            for (size_t i = 0; i < v.size(); i += 2)
                p.left.push_back(v[i]);
        }
    }
    // Channel 0 at a quarter of its level, converted to 48000 Hz. USB: the
    // receiver's channel is complex (re = audio), so the VAC hears re.
    const double entry = analyse(Rig::tail(rig.entryLeft, 8192), 39062.5, 900.0, 1100.0).amplitude;
    const Spectrum sv = analyse(Rig::tail(vacLeft, 8000), 48000.0, 100.0, 5000.0);
    const Spectrum sl = analyse(Rig::tail(lineLeft, 8000), 48000.0, 100.0, 5000.0);
    QVERIFY2(std::fabs(sv.peakHz - 1000.0) <= 5.0, qPrintable(QString("VAC peak %1 Hz").arg(sv.peakHz)));
    QVERIFY2(std::fabs(sl.peakHz - 1000.0) <= 5.0, qPrintable(QString("line peak %1 Hz").arg(sl.peakHz)));
    QVERIFY2(std::fabs(sv.amplitude / entry - 0.25) < 0.01, qPrintable(QString("VAC/entry %1").arg(sv.amplitude / entry)));
    QVERIFY2(std::fabs(sl.amplitude / entry - 0.25) < 0.01, qPrintable(QString("line/entry %1").arg(sl.amplitude / entry)));

    // Closed paths give silence even with frames left in their rings.
    rig.run(signal, 0.05);
    QTRY_VERIFY_WITH_TIMEOUT(rx->vacConverter().outputRing().fill() > 0, 5000);
    rx->vacClose();
    rx->lineoutClose();
    QVERIFY(!rx->vacConverter().isRunning());
    QVERIFY(!rx->lineOutConverter().isRunning());
    QVERIFY(allZero(pull(vac, 64)));
    QVERIFY(allZero(pull(line, 64)));
}

void TestEnginePaths::vacFollowsItsRate()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    ReceiverZorvani* rx = dsp.receiver(1);
    dsp.openVac(1, 0); // no rate: the path stays closed
    QVERIFY(!rx->vacOpen());
    dsp.openVac(1, 44100);
    QCOMPARE(rx->vacConverter().inputRate(), 39062.5);
    QCOMPARE(rx->vacConverter().outputRate(), 44100.0);
    // A VAC reopened at another rate is retuned without a restart.
    dsp.openVac(1, 96000);
    QVERIFY(rx->vacConverter().isRunning());
    QCOMPARE(rx->vacConverter().outputRate(), 96000.0);
    // Paths of receivers that do not exist are silent.
    auto vac = [&](float* b, quint32 l, quint32 c) { return dsp.vacPull(5, b, l, c); };
    auto line = [&](float* b, quint32 l, quint32 c) { return dsp.lineOutPull(-1, b, l, c); };
    QVERIFY(allZero(pull(vac, 64)));
    QVERIFY(allZero(pull(line, 64)));
}

void TestEnginePaths::notchesFollowTheReceiversBand()
{
    zorvaniDsp dsp(nullptr, nullptr, std::make_shared<BandCatalogue>());
    const double fs = 39062.5;
    dsp.setCentreFrequency(0, 7100000.0);
    dsp.setCentreFrequency(1, 13990000.0);
    dsp.setChannelOffset(1, 0, 20000.0); // 14.01 MHz: the 20 m band
    // A notch at +3 kHz in 40 m (band index 1): only receiver 0 is in 40 m.
    dsp.onRnfParam(1, 0, true, 7103000.0, 200.0);
    dsp.onRnfEnabled(1, true);
    // The same notch in 20 m at +3 kHz of receiver 1's centre (not its channel).
    dsp.onRnfParam(2, 0, true, 13993000.0, 200.0);

    const Signal signal = toneSignal(3000.0, 0.1);
    std::vector<Sample> block(200), audio(200);
    for (long t = 0; t < 20000; t += 200) {
        for (quint32 r = 0; r < 2; ++r) {
            for (int k = 0; k < 200; ++k)
                block[size_t(k)] = signal(double(t + k) / fs);
            keepLatest(*dsp.rawIqRing(int(r)), 4000);
            dsp.processBlock(block.data(), audio.data(), r);
        }
    }
    const double notched = rawToneAmplitude(*dsp.rawIqRing(0), 3000.0, fs, 4000);
    const double open = rawToneAmplitude(*dsp.rawIqRing(1), 3000.0, fs, 4000);
    QVERIFY2(std::fabs(open - 0.1) < 1e-3, qPrintable(QString("receiver 1 (bank off) %1").arg(open)));
    QVERIFY2(notched < 0.1 * 0.01, qPrintable(QString("receiver 0 notched only to %1").arg(notched)));

    // Switching 20 m on engages receiver 1's bank.
    dsp.onRnfEnabled(2, true);
    for (long t = 20000; t < 40000; t += 200) {
        for (int k = 0; k < 200; ++k)
            block[size_t(k)] = signal(double(t + k) / fs);
        keepLatest(*dsp.rawIqRing(1), 4000);
        dsp.processBlock(block.data(), audio.data(), 1);
    }
    QVERIFY(rawToneAmplitude(*dsp.rawIqRing(1), 3000.0, fs, 4000) < 0.1 * 0.01);
}

void TestEnginePaths::blankerReachesTheBlock()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    std::vector<Sample> block(200, Sample{0.01, 0.0}), audio(200), raw(200);
    auto impulseBlock = [&](quint32 rx) {
        std::fill(block.begin(), block.end(), Sample{0.01, 0.0});
        block[100] = Sample{5.0, 0.0};
        keepLatest(*dsp.rawIqRing(int(rx)), 0);
        dsp.processBlock(block.data(), audio.data(), rx);
        dsp.rawIqRing(int(rx))->peekLatest(raw.data(), 200);
        return std::count_if(raw.begin(), raw.end(), [](const Sample& s) { return s.re == 0.0 && s.im == 0.0; });
    };
    QCOMPARE(impulseBlock(0), 0L); // blankers off: the impulse passes
    dsp.setNb1(0, true);
    // Let the running average settle on the steady level.
    for (int i = 0; i < 50; ++i) {
        std::fill(block.begin(), block.end(), Sample{0.01, 0.0});
        dsp.processBlock(block.data(), audio.data(), 0);
    }
    QCOMPARE(impulseBlock(0), 7L); // seven output samples blanked
    QCOMPARE(impulseBlock(1), 0L); // the other receiver's blanker is off
}

void TestEnginePaths::panoramasAndBandScope()
{
    InlinePool pool;
    zorvaniDsp dsp(&pool, nullptr, nullptr);
    std::vector<float> panorama, waterfall;
    QVERIFY(!dsp.readSpectrum(2, panorama, waterfall));

    QSignalSpy spectra(&dsp, &zorvaniDsp::spectrum);
    QSignalSpy scope(&dsp, &zorvaniDsp::bandscope);
    std::vector<Sample> block(200, Sample{0.1, 0.0}), audio(200);
    // Packets at about their real pace until the first frame interval has
    // passed with a full FFT's worth of samples.
    QElapsedTimer clock;
    clock.start();
    while (spectra.isEmpty() && clock.elapsed() < 5000) {
        dsp.processBlock(block.data(), audio.data(), 1);
        QTest::qWait(1);
    }
    QVERIFY2(spectra.count() >= 1, "no panorama frame for receiver 1");
    QCOMPARE(spectra.first().at(0).toUInt(), 1u);
    QCOMPARE(scope.count(), 0);
    QVERIFY(dsp.readSpectrum(1, panorama, waterfall));
    QVERIFY(panorama.size() == 4096 && waterfall.size() == 4096);

    // The band scope runs only while switched on with the engine running.
    std::vector<Sample> frame(4096, Sample{0.0, 0.1});
    dsp.setBandScopeActive(true);
    QVERIFY(!dsp.bandScope()->isOn());
    dsp.start();
    dsp.setBandScopeActive(true);
    QVERIFY(dsp.bandScope()->isOn());
    clock.restart();
    while (scope.isEmpty() && clock.elapsed() < 5000) {
        dsp.writeBandScope(frame.data(), 4096);
        QTest::qWait(5);
    }
    QCOMPARE(scope.count(), 1);
    dsp.readBandScope(panorama, waterfall);
    QCOMPARE(panorama.size(), size_t(4096));
    dsp.setBandScopeActive(false);
    QVERIFY(!dsp.bandScope()->isOn());
    dsp.stop();
}

// The panoramas take every setting; the band scope keeps its own size,
// averaging and slopes.
void TestEnginePaths::panoramaBankSettings()
{
    PanoramaBank bank(nullptr, 1900000.0);
    QVERIFY(bank.receiver(2) == nullptr);
    // 5 frames per second is raised to 10 (100 ms apart), 100 lowered to 40 (25 ms).
    bank.setFrameRate(5);
    QCOMPARE(bank.bandScope().frameInterval(), 100);
    bank.setFrameRate(100);
    QCOMPARE(bank.frameRate(), 40);
    QCOMPARE(bank.receiver(1)->frameInterval(), 25);
    bank.setFftSize(1000);
    QCOMPARE(bank.receiver(0)->fftSize(), 4096u);
    bank.setFftSize(2048);
    bank.setAveraging(9);
    bank.setHideSlopes(true);
    bank.setWaterfallFilter(true);
    bank.setCentreFrequency(1, 7050000.0);
    for (int p = 0; p < 2; ++p) {
        QCOMPARE(bank.receiver(p)->fftSize(), 2048u);
        QCOMPARE(bank.receiver(p)->averageCount(), 9);
        QVERIFY(bank.receiver(p)->hideSlopes() && bank.receiver(p)->waterfallFilter());
    }
    QCOMPARE(bank.bandScope().fftSize(), 4096u);
    QCOMPARE(bank.bandScope().averageCount(), 15);
    QVERIFY(!bank.bandScope().hideSlopes() && bank.bandScope().waterfallFilter());
    QCOMPARE(bank.receiver(1)->centerFrequency(), 7050000.0);
    QCOMPARE(bank.receiver(0)->centerFrequency(), 1900000.0);
}

void TestEnginePaths::signalAnalyzerGetsChannelZero()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    Analyzer analyzer;
    dsp.setSignalAnalyzer(&analyzer);
    QCOMPARE(analyzer.rate, 39062.5);
    ReceiverZorvani* rx = dsp.receiver(1);
    std::vector<Sample> block(200, Sample{0.01, 0.0});
    auto step = [&] {
        rx->inputRing().write(block.data(), 200);
        rx->processBuffered();
    };
    step();
    QCOMPARE(analyzer.samples, std::size_t(200));
    QCOMPARE(analyzer.receiver, 1u);
    analyzer.active = false;
    step();
    dsp.setSignalAnalyzer(nullptr);
    analyzer.active = true;
    step();
    QCOMPARE(analyzer.writes, 1);
}

QTEST_GUILESS_MAIN(TestEnginePaths)
#include "tst_enginepaths.moc"
