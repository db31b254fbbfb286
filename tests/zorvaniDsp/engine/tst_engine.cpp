// The engine and one receiver driven block by block on the test thread.
#include "AllocationCounter.h"
#include "DeviceFunctionsAbstract.h"
#include "IqTapAbstract.h"
#include "zorvaniDsp/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QtTest>

#include <cmath>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Complex tone of amplitude a at f Hz, continuing from sample index `start`.
void tone(Sample* x, int n, double f, double fs, double a, long start)
{
    for (int k = 0; k < n; ++k) {
        const double ph = 2.0 * kPi * f * double(start + k) / fs;
        x[k] = Sample{a * std::cos(ph), a * std::sin(ph)};
    }
}

class FortyMetres : public DeviceFunctionsAbstract {
public:
    QList<DeviceBand> bands() const override { return {DeviceBand{7000000, 7200000, "40m"}}; }
};

class CountingTap : public IqTapAbstract {
public:
    bool active = true;
    int blocks = 0;
    std::size_t lastCount = 0;
    quint32 lastReceiver = 99;
    bool isActive() const override { return active; }
    void write(quint32 receiver, const Sample*, std::size_t count) override
    {
        ++blocks;
        lastCount = count;
        lastReceiver = receiver;
    }
};

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void stoppedReceiverStillFillsRawRing();
    void invalidReceiverRefused();
    void noAudioWithoutMixerFrames();
    void queuedAgcIsClamped();
    void presetsAndAgcIndex();
    void modeSetsTapsByClass_data();
    void modeSetsTapsByClass();
    void modeChangeFadesThroughReceiver();
    void modeChangeRefadesOnlyItsReceiver();
    void decimationFollowsRate_data();
    void decimationFollowsRate();
    void mixerGainsFollowControls();
    void blockEntryAllocatesNothing();
    void receiverBlockAllocatesNothing_data();
    void receiverBlockAllocatesNothing();
};

void TestEngine::stoppedReceiverStillFillsRawRing()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    CountingTap tap;
    dsp.setIqTap(&tap);
    std::vector<Sample> block(200), audio(200, Sample{7.0, 7.0});
    tone(block.data(), 200, 1000.0, 39062.5, 0.5, 0);
    const std::vector<Sample> sent = block;
    QVERIFY(!dsp.receiver(1)->isRunning());
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 1));
    QCOMPARE(tap.blocks, 1);
    QCOMPARE(tap.lastCount, std::size_t(200));
    QCOMPARE(tap.lastReceiver, 1u);
    QCOMPARE(dsp.rawIqRing(1)->fill(), 200u);
    QCOMPARE(dsp.rawIqRing(0)->fill(), 0u);
    QCOMPARE(dsp.receiver(1)->inputRing().fill(), 0u); // not queued, not woken
    std::vector<Sample> raw(200);
    QVERIFY(dsp.rawIqRing(1)->read(raw.data(), 200));
    for (int k = 0; k < 200; ++k)
        QVERIFY(raw[size_t(k)].re == sent[size_t(k)].re && raw[size_t(k)].im == sent[size_t(k)].im);
    QCOMPARE(audio[0].re, 7.0); // nothing written to the audio buffer

    tap.active = false;
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 0));
    QCOMPARE(tap.blocks, 1); // an inactive tap gets nothing
    QVERIFY(dsp.rawIqRing(2) == nullptr);
}

void TestEngine::invalidReceiverRefused()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    std::vector<Sample> block(200, Sample{0.1, 0.1}), audio(200);
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 2));
    QVERIFY(!dsp.processBlock(block.data(), audio.data(), 255));
    QCOMPARE(dsp.rawIqRing(0)->fill() + dsp.rawIqRing(1)->fill(), 0u);
}

void TestEngine::noAudioWithoutMixerFrames()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    std::vector<Sample> block(200, Sample{0.1, 0.1}), audio(200, Sample{3.0, -3.0});
    for (int i = 0; i < 5; ++i)
        QVERIFY(!dsp.processBlock(block.data(), audio.data(), 0));
    for (const Sample& s : audio)
        QVERIFY(s.re == 3.0 && s.im == -3.0);
}

void TestEngine::queuedAgcIsClamped()
{
    ReceiverZorvani rx(0);
    rx.queueAgc(AgcSettings{0.01, 5000.0, 0, true});
    std::vector<Sample> block(200, Sample{0.01, 0.0});
    QVERIFY(rx.inputRing().write(block.data(), 200));
    rx.processBuffered();
    const AgcSettings applied = rx.appliedAgc();
    QCOMPARE(applied.attackMs, 0.1);
    QCOMPARE(applied.decayMs, 3000.0);
    QCOMPARE(applied.hangMs, 1u);
    QVERIFY(applied.enabled);
}

void TestEngine::presetsAndAgcIndex()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    const double expected[5][5] = {{0, 1.0, 800, -120, 800},
                                   {0, 1.0, 500, -120, 500},
                                   {0, 1.0, 250, -120, 250},
                                   {0, 0.7, 100, -120, 100},
                                   {-6, 1.0, 1000, -120, 1000}};
    for (int p = 0; p < 5; ++p) {
        const zorvaniDsp::AgcParam a = dsp.agcPreset(p);
        QCOMPARE(a.level1, expected[p][0]);
        QCOMPARE(a.attack, expected[p][1]);
        QCOMPARE(a.decay, expected[p][2]);
        QCOMPARE(a.level2, expected[p][3]);
        QCOMPARE(double(a.hang), expected[p][4]);
    }
    std::vector<Sample> block(200);
    auto applied = [&](int rx) -> AgcSettings {
        dsp.receiver(rx)->inputRing().write(block.data(), 200);
        dsp.receiver(rx)->processBuffered();
        return dsp.receiver(rx)->appliedAgc();
    };
    // Created with "Long", enabled.
    QCOMPARE(dsp.agcIndex(0), 1);
    AgcSettings s = applied(0);
    QCOMPARE(s.decayMs, 800.0);
    QVERIFY(s.enabled);

    dsp.setAgc(0, 4); // "Fast"
    s = applied(0);
    QCOMPARE(s.attackMs, 0.7);
    QCOMPARE(s.decayMs, 100.0);
    QCOMPARE(s.hangMs, 100u);
    QVERIFY(s.enabled);

    dsp.setAgc(0, 0); // off: first record's values, disabled
    s = applied(0);
    QCOMPARE(s.decayMs, 800.0);
    QVERIFY(!s.enabled);

    dsp.setAgc(0, 6); // no such preset
    QCOMPARE(dsp.agcIndex(0), 0);

    dsp.setAgc(1, 5); // "User"
    dsp.setAgcDecay(4, 1200.0);
    dsp.setAgcHang(4, 5000);
    s = applied(1);
    QCOMPARE(s.decayMs, 1200.0);
    QCOMPARE(s.hangMs, 3000u); // clamped on the way in
    QCOMPARE(dsp.agcPreset(4).hang, 5000u);
}

void TestEngine::modeSetsTapsByClass_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("taps");
    // Class taps: SSB 1001, AM 1101, DIG 1201, CW 1301.
    QTest::newRow("AM") << 0 << 1101;
    QTest::newRow("SAM") << 1 << 1101;
    QTest::newRow("DSB keeps SSB taps") << 2 << 1001;
    QTest::newRow("LSB") << 3 << 1001;
    QTest::newRow("USB") << 4 << 1001;
    QTest::newRow("CW") << 5 << 1301;
    QTest::newRow("NFM") << 6 << 1101;
    QTest::newRow("DIGL") << 7 << 1201;
    QTest::newRow("DIGU") << 8 << 1201;
    QTest::newRow("WFM") << 9 << 1101;
    QTest::newRow("DRM") << 10 << 1201;
}

void TestEngine::modeSetsTapsByClass()
{
    QFETCH(int, mode);
    QFETCH(int, taps);
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setMode(1, 2); // DSB: receiver 1 keeps its taps
    dsp.setFirTaps(zorvaniDsp::FirSsb, 1001);
    dsp.setFirTaps(zorvaniDsp::FirAm, 1101);
    dsp.setFirTaps(zorvaniDsp::FirDig, 1201);
    dsp.setFirTaps(zorvaniDsp::FirCw, 1301);
    QCOMPARE(dsp.receiver(0)->taps(), 1001u); // created in LSB
    QCOMPARE(dsp.receiver(1)->taps(), 1537u);
    dsp.setMode(0, mode);
    QCOMPARE(dsp.receiver(0)->taps(), uint(taps));
    QCOMPARE(dsp.receiver(0)->pendingMode(), mode);
}

void TestEngine::modeChangeFadesThroughReceiver()
{
    ReceiverZorvani rx(0);
    rx.setMode(ReceiverZorvani::USB);
    QCOMPARE(rx.activeMode(), int(ReceiverZorvani::LSB));
    QCOMPARE(rx.faderState(), ReceiverZorvani::ModulationSwitcher::FadeOut);
    std::vector<Sample> block(200, Sample{0.0, 0.0});
    int blocks = 0;
    while (rx.faderState() == ReceiverZorvani::ModulationSwitcher::FadeOut && blocks < 1000) {
        QCOMPARE(rx.activeMode(), int(ReceiverZorvani::LSB));
        QVERIFY(rx.inputRing().write(block.data(), 200));
        rx.processBuffered();
        ++blocks;
    }
    QCOMPARE(rx.faderState(), ReceiverZorvani::ModulationSwitcher::Switch);
    QVERIFY(rx.faderGain(0) < 1e-6);
    QVERIFY(rx.inputRing().write(block.data(), 200));
    rx.processBuffered();
    QCOMPARE(rx.activeMode(), int(ReceiverZorvani::USB));
    QCOMPARE(rx.faderState(), ReceiverZorvani::ModulationSwitcher::FadeIn);
    for (int i = 0; i < 1000 && rx.faderState() != ReceiverZorvani::ModulationSwitcher::Pass; ++i) {
        QVERIFY(rx.inputRing().write(block.data(), 200));
        rx.processBuffered();
    }
    QCOMPARE(rx.faderState(), ReceiverZorvani::ModulationSwitcher::Pass);
    QVERIFY(std::fabs(rx.faderGain(1) - 1.0) < 1e-5);
}

void TestEngine::modeChangeRefadesOnlyItsReceiver()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    std::vector<Sample> block(200), out(4096);
    auto settle = [&] {
        for (int i = 0; i < 1000; ++i) {
            bool busy = false;
            for (int r = 0; r < 2; ++r) {
                ReceiverZorvani* rx = dsp.receiver(r);
                rx->inputRing().write(block.data(), 200);
                rx->processBuffered();
                for (int ch = 0; ch < 2; ++ch)
                    rx->outputRing(ch).read(out.data(), rx->outputRing(ch).fill());
                busy = busy || rx->faderState() != ReceiverZorvani::ModulationSwitcher::Pass;
            }
            if (!busy)
                return true;
        }
        return false;
    };
    QVERIFY(settle()); // the fade of the initial AGC preset
    dsp.setMode(0, ReceiverZorvani::AM);
    QCOMPARE(dsp.receiver(0)->faderState(), ReceiverZorvani::ModulationSwitcher::FadeOut);
    QCOMPARE(dsp.receiver(1)->faderState(), ReceiverZorvani::ModulationSwitcher::Pass);
    QVERIFY(settle());
    // The same mode again, or the same AGC index again: no fade.
    dsp.setMode(0, ReceiverZorvani::AM);
    dsp.setAgc(0, dsp.agcIndex(0));
    QCOMPARE(dsp.receiver(0)->faderState(), ReceiverZorvani::ModulationSwitcher::Pass);
    // A new AGC index fades that receiver.
    dsp.setAgc(1, 3);
    QCOMPARE(dsp.receiver(1)->faderState(), ReceiverZorvani::ModulationSwitcher::FadeOut);
    QCOMPARE(dsp.receiver(0)->faderState(), ReceiverZorvani::ModulationSwitcher::Pass);
}

void TestEngine::decimationFollowsRate_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("decimation");
    QTest::newRow("39062.5") << 39062.5 << 1;
    QTest::newRow("78125") << 78125.0 << 2;
    QTest::newRow("156250") << 156250.0 << 4;
    QTest::newRow("312500") << 312500.0 << 8;
}

void TestEngine::decimationFollowsRate()
{
    QFETCH(double, rate);
    QFETCH(int, decimation);
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(rate);
    for (int r = 0; r < 2; ++r) {
        QCOMPARE(dsp.receiver(r)->decimation(), decimation);
        QCOMPARE(dsp.receiver(r)->wakeThreshold(), uint32_t(decimation * 200));
    }
    // One wake-up's worth becomes 200 frames per channel.
    ReceiverZorvani* rx = dsp.receiver(0);
    std::vector<Sample> block(200, Sample{0.01, 0.0});
    for (int i = 0; i < decimation; ++i)
        QVERIFY(rx->inputRing().write(block.data(), 200));
    rx->processBuffered();
    QCOMPARE(rx->inputRing().fill(), 0u);
    QCOMPARE(rx->outputRing(0).fill(), 200u);
    QCOMPARE(rx->outputRing(1).fill(), 200u);
}

void TestEngine::mixerGainsFollowControls()
{
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setVolume(0, 0, -80.0);
    dsp.setVolume(0, 1, -6.0);
    dsp.setBalance(0, 1, 0.5);
    // All four channels enabled: volumes apply.
    MixerGainTable t = dsp.updateMixerGains();
    QCOMPARE(t[0][0].gain, 0.0);
    QVERIFY(std::fabs(t[0][1].gain - std::pow(10.0, -0.3)) < 1e-12);
    QCOMPARE(t[0][1].balance, 0.5);
    QCOMPARE(t[1][0].gain, 1.0);
    // Only receiver 0 channel 0 left: unity gain despite its -80 dB.
    dsp.setChannelEnable(0, 1, false);
    dsp.setRxEnable(1, false);
    t = dsp.updateMixerGains();
    QCOMPARE(t[0][0].gain, 1.0);
    QCOMPARE(t[0][0].balance, 0.0);
    QCOMPARE(t[0][1].gain, 0.0);
    QCOMPARE(t[1][0].gain, 0.0);
    QCOMPARE(t[1][1].gain, 0.0);
    dsp.setRxEnable(1, true);
    t = dsp.updateMixerGains();
    QCOMPARE(t[0][0].gain, 0.0);
}

void TestEngine::blockEntryAllocatesNothing()
{
    // Every wide-band stage at work: both blankers, an active notch, the
    // panorama worker, an active IQ tap, and mixed audio to take.
    zorvaniDsp dsp(nullptr, nullptr, std::make_shared<FortyMetres>());
    dsp.setCentreFrequency(0, 7100000.0);
    dsp.onRnfParam(0, 0, true, 7101000.0, 100.0);
    dsp.onRnfEnabled(0, true);
    dsp.setNb1(0, true);
    dsp.setNb2(0, true);
    CountingTap tap;
    dsp.setIqTap(&tap);
    ReceiverZorvani* rx = dsp.receiver(0);
    std::vector<Sample> block(200), audio(200), sink(8192);
    long t = 0;
    int delivered = 0;
    auto packet = [&] {
        tone(block.data(), 200, 1000.0, 39062.5, 0.3, t);
        t += 200;
        if (dsp.processBlock(block.data(), audio.data(), 0))
            ++delivered;
        dsp.rawIqRing(0)->read(sink.data(), 200);
        rx->inputRing().write(block.data(), 200);
        rx->processBuffered();
        dsp.mixer().mixOnce();
    };
    for (int i = 0; i < 100; ++i)
        packet();
    delivered = 0;
    testsupport::AllocationScope scope;
    for (int i = 0; i < 200; ++i)
        packet();
    const auto allocations = scope.count();
    QCOMPARE(allocations, 0u);
    QCOMPARE(delivered, 200);
    QCOMPARE(tap.blocks, 300);
}

void TestEngine::receiverBlockAllocatesNothing_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("mode");
    for (double rate : {39062.5, 312500.0}) {
        for (int mode = 0; mode <= 10; ++mode)
            QTest::newRow(qPrintable(QString("mode %1 at %2").arg(mode).arg(rate))) << rate << mode;
    }
}

void TestEngine::receiverBlockAllocatesNothing()
{
    QFETCH(double, rate);
    QFETCH(int, mode);
    zorvaniDsp dsp(nullptr, nullptr, nullptr);
    dsp.setSampleRate(rate);
    dsp.setMode(0, mode);
    dsp.setFilter(0, mode == ReceiverZorvani::WFM ? -100000.0 : -3000.0, mode == ReceiverZorvani::WFM ? 100000.0 : 3000.0);
    // Every optional stage on.
    dsp.setNr(0, true);
    dsp.setAnf(0, true);
    dsp.setApf(0, true);
    dsp.setSsbApf(0, true);
    dsp.setDse(0, true);
    dsp.setEqualizerEnable(0, true);
    dsp.setEqualizerGains(0, QList<int>{3, -3, 6});
    dsp.setSqlEnable(0, 0, true);
    dsp.setSqlValue(0, 0, -120);
    dsp.setEnableCTCSS(0, mode == ReceiverZorvani::NFM);
    dsp.setWfmStereo(0, true);
    ReceiverZorvani* rx = dsp.receiver(0);
    QSignalSpy levels(&dsp, &zorvaniDsp::dBmMeter);
    const int d = rx->decimation();
    std::vector<Sample> block(200), out(ReceiverZorvani::kRingSize);
    long t = 0;
    auto oneWake = [&] {
        for (int i = 0; i < d; ++i, t += 200) {
            tone(block.data(), 200, 1000.0, rate, 0.3, t);
            rx->inputRing().write(block.data(), 200);
        }
        rx->processBuffered();
        rx->outputRing(0).read(out.data(), rx->outputRing(0).fill());
        rx->outputRing(1).read(out.data(), rx->outputRing(1).fill());
    };
    // Through the fade to the new mode and into the steady state.
    for (int i = 0; i < 250; ++i)
        oneWake();
    QCOMPARE(rx->activeMode(), mode);
    QCOMPARE(levels.count(), 500); // the receiver's meters reach the engine's signal
    // The spy copies each emission; detach it before counting.
    QObject::disconnect(&dsp, &zorvaniDsp::dBmMeter, nullptr, nullptr);
    testsupport::AllocationScope scope;
    for (int i = 0; i < 20; ++i)
        oneWake();
    const auto allocations = scope.count();
    QCOMPARE(allocations, 0u);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
