// Audio made by the whole engine from synthetic IQ, measured with a DFT
// written here: at the per-block entry's output (working rate) and at the
// main output (sound-card converter, 48000 Hz). The engine's threads are not
// started: the test runs each stage's step itself, so the run is exact and
// repeatable.
#include "zorvaniDsp/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/ResamplerSCZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <vector>

using Sample = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Input signal: complex sample at time t seconds.
using Signal = std::function<Sample(double t)>;

struct Spectrum {
    double peakHz = 0.0;
    double toneFraction = 0.0; // power at the peak / total power (mean removed)
    double amplitude = 0.0;
};

// Hann-windowed single-frequency DFT of the mean-free signal, searched on a
// grid: where the energy is and how much of it the tone holds.
Spectrum analyse(const std::vector<double>& input, double fs, double fromHz, double toHz)
{
    std::vector<double> x = input;
    double mean = 0.0;
    for (double v : x)
        mean += v;
    mean /= double(x.size());
    double power = 0.0;
    for (double& v : x) {
        v -= mean;
        power += v * v;
    }
    power /= double(x.size());
    const size_t n = x.size();
    std::vector<double> w(n);
    double wsum = 0.0;
    for (size_t k = 0; k < n; ++k) {
        w[k] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(k) / double(n));
        wsum += w[k];
    }
    auto amplitudeAt = [&](double f) {
        double re = 0.0, im = 0.0;
        for (size_t k = 0; k < n; ++k) {
            const double ph = 2.0 * kPi * f * double(k) / fs;
            re += x[k] * w[k] * std::cos(ph);
            im -= x[k] * w[k] * std::sin(ph);
        }
        return 2.0 * std::hypot(re, im) / wsum;
    };
    Spectrum s;
    for (double f = fromHz; f <= toHz; f += 5.0) {
        const double a = amplitudeAt(f);
        if (a > s.amplitude) {
            s.amplitude = a;
            s.peakHz = f;
        }
    }
    s.toneFraction = power > 0.0 ? (s.amplitude * s.amplitude / 2.0) / power : 0.0;
    return s;
}

// The engine with receiver 0 alone audible, driven block by block.
struct Rig {
    zorvaniDsp dsp{nullptr, nullptr, nullptr};
    std::vector<double> entryLeft, entryRight, mainLeft, mainRight;
    long t = 0;

    Rig(double rate, int mode, double lowHz, double highHz, double offsetHz)
    {
        dsp.setSampleRate(rate);
        dsp.setChannelEnable(0, 1, false);
        dsp.setRxEnable(1, false);
        dsp.setMode(0, mode);
        dsp.setAgc(0, 4); // "Fast"
        dsp.setFilter(0, lowHz, highHz);
        dsp.setChannelOffset(0, 0, offsetHz);
        dsp.setChannelOffset(0, 1, offsetHz);
    }

    // Feeds `seconds` more of the signal to receiver 0.
    void run(const Signal& signal, double seconds)
    {
        ReceiverZorvani* rx = dsp.receiver(0);
        const double fs = dsp.sampleRate();
        const long end = t + long(seconds * fs);
        std::vector<Sample> block(200), audio(200), drain(4096);
        while (t < end) {
            for (int k = 0; k < 200; ++k, ++t)
                block[size_t(k)] = signal(double(t) / fs);
            if (dsp.processBlock(block.data(), audio.data(), 0)) {
                for (const Sample& s : audio) {
                    entryLeft.push_back(s.re);
                    entryRight.push_back(s.im);
                }
            }
            rx->inputRing().write(block.data(), 200);
            if (rx->inputRing().fill() < rx->wakeThreshold())
                continue;
            rx->processBuffered();
            while (dsp.mixer().mixOnce()) {
            }
            while (dsp.soundCardConverter().convertPending() > 0) {
                CircularBuffer<Sample>& out = dsp.soundCardConverter().outputRing();
                const uint32_t n = out.fill();
                out.read(drain.data(), n);
                for (uint32_t i = 0; i < n; ++i) {
                    mainLeft.push_back(drain[i].re);
                    mainRight.push_back(drain[i].im);
                }
            }
        }
    }

    static std::vector<double> tail(const std::vector<double>& v, size_t n)
    {
        return std::vector<double>(v.end() - long(std::min(n, v.size())), v.end());
    }
};

} // namespace

class TestEngineChain : public QObject {
    Q_OBJECT
private slots:
    void toneComesOutAtItsAudioFrequency_data();
    void toneComesOutAtItsAudioFrequency();
    void squelchEdges_data();
    void squelchEdges();
};

void TestEngineChain::toneComesOutAtItsAudioFrequency_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<int>("mode");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("offset");
    QTest::addColumn<int>("kind"); // 0 tone, 1 AM, 2 FM
    QTest::addColumn<double>("toneHz");
    QTest::addColumn<double>("expectedHz");

    // USB: a tone 1 kHz above the channel frequency is heard at 1 kHz.
    QTest::newRow("USB 39062.5") << 39062.5 << 4 << 100.0 << 2900.0 << 0.0 << 0 << 1000.0 << 1000.0;
    QTest::newRow("USB 312500") << 312500.0 << 4 << 100.0 << 2900.0 << 0.0 << 0 << 1000.0 << 1000.0;
    QTest::newRow("USB offset 78125") << 78125.0 << 4 << 100.0 << 2900.0 << 15000.0 << 0 << 16000.0 << 1000.0;
    // LSB: 1 kHz below.
    QTest::newRow("LSB 78125") << 78125.0 << 3 << -2900.0 << -100.0 << 0.0 << 0 << -1000.0 << 1000.0;
    QTest::newRow("LSB offset 156250") << 156250.0 << 3 << -2900.0 << -100.0 << -20000.0 << 0 << -21500.0 << 1500.0;
    // CW: a carrier on the channel frequency is heard at the 700 Hz pitch.
    QTest::newRow("CW 156250") << 156250.0 << 5 << -250.0 << 250.0 << 0.0 << 0 << 0.0 << 700.0;
    // AM and NFM: the 1 kHz modulation.
    QTest::newRow("AM 39062.5") << 39062.5 << 0 << -5000.0 << 5000.0 << 0.0 << 1 << 1000.0 << 1000.0;
    QTest::newRow("NFM 312500") << 312500.0 << 6 << -6000.0 << 6000.0 << 0.0 << 2 << 1000.0 << 1000.0;
}

void TestEngineChain::toneComesOutAtItsAudioFrequency()
{
    QFETCH(double, rate);
    QFETCH(int, mode);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, offset);
    QFETCH(int, kind);
    QFETCH(double, toneHz);
    QFETCH(double, expectedHz);

    Signal signal;
    if (kind == 0) {
        signal = [toneHz](double t) {
            const double ph = 2.0 * kPi * toneHz * t;
            return Sample{0.05 * std::cos(ph), 0.05 * std::sin(ph)};
        };
    } else if (kind == 1) {
        signal = [toneHz](double t) { return Sample{0.05 * (1.0 + 0.5 * std::cos(2.0 * kPi * toneHz * t)), 0.0}; };
    } else {
        // 2.5 kHz peak deviation.
        signal = [toneHz](double t) {
            const double ph = 2.5 * std::sin(2.0 * kPi * toneHz * t);
            return Sample{0.05 * std::cos(ph), 0.05 * std::sin(ph)};
        };
    }

    Rig rig(rate, mode, low, high, offset);
    QCOMPARE(rig.dsp.receiver(0)->decimation(), int(std::lround(rate / 39062.5)));
    rig.run(signal, 1.5);
    QVERIFY2(rig.entryLeft.size() >= 50000, "the per-block entry delivered too little audio");
    QVERIFY2(rig.mainLeft.size() >= 8192, "the main output delivered too little audio");
    QCOMPARE(rig.dsp.receiver(0)->activeMode(), mode);

    const std::vector<double> entry = Rig::tail(rig.entryLeft, 8192);
    const std::vector<double> entryRight = Rig::tail(rig.entryRight, 8192);
    for (size_t k = 0; k < entry.size(); ++k)
        QVERIFY2(std::isfinite(entry[k]) && std::isfinite(entryRight[k]), "non-finite audio");
    const Spectrum e = analyse(entry, 39062.5, 100.0, 5000.0);
    QVERIFY2(std::fabs(e.peakHz - expectedHz) <= 5.0,
             qPrintable(QString("entry peak at %1 Hz, expected %2 Hz").arg(e.peakHz).arg(expectedHz)));
    QVERIFY2(e.toneFraction > 0.9, qPrintable(QString("entry tone holds %1 of the power").arg(e.toneFraction)));
    QVERIFY2(e.amplitude > 0.05, qPrintable(QString("entry tone amplitude %1").arg(e.amplitude)));
    const Spectrum er = analyse(entryRight, 39062.5, 100.0, 5000.0);
    QVERIFY2(std::fabs(er.peakHz - expectedHz) <= 5.0, "right channel of the entry output");

    const std::vector<double> main = Rig::tail(rig.mainLeft, 8192);
    const Spectrum m = analyse(main, 48000.0, 100.0, 5000.0);
    QVERIFY2(std::fabs(m.peakHz - expectedHz) <= 5.0,
             qPrintable(QString("main output peak at %1 Hz, expected %2 Hz").arg(m.peakHz).arg(expectedHz)));
    QVERIFY2(m.toneFraction > 0.9, qPrintable(QString("main output tone holds %1 of the power").arg(m.toneFraction)));
    // The converter keeps the level (DC gain 1 of its low-pass).
    QVERIFY2(std::fabs(m.amplitude / e.amplitude - 1.0) < 0.05,
             qPrintable(QString("main %1 vs entry %2").arg(m.amplitude).arg(e.amplitude)));
}

void TestEngineChain::squelchEdges_data()
{
    QTest::addColumn<double>("aboveMeterDb"); // squelch level minus the meter level
    QTest::addColumn<bool>("passes");
    QTest::newRow("meter + 2.5 dB passes") << 2.5 << true;
    QTest::newRow("meter + 2.9 dB passes") << 2.9 << true;
    QTest::newRow("meter + 3.1 dB mutes") << 3.1 << false;
    QTest::newRow("meter + 10 dB mutes") << 10.0 << false;
    QTest::newRow("far below passes") << -40.0 << true;
}

void TestEngineChain::squelchEdges()
{
    QFETCH(double, aboveMeterDb);
    QFETCH(bool, passes);
    // A complex tone of amplitude 0.1 has mean power 0.01: -20 dB.
    const Signal signal = [](double t) {
        const double ph = 2.0 * kPi * 1000.0 * t;
        return Sample{0.1 * std::cos(ph), 0.1 * std::sin(ph)};
    };
    Rig rig(39062.5, 4, 100.0, 2900.0, 0.0);
    rig.run(signal, 1.0);
    ReceiverZorvani* rx = rig.dsp.receiver(0);
    const double meter = rx->meterLevel(0);
    QVERIFY2(std::fabs(meter + 20.0) < 0.2, qPrintable(QString("meter reads %1 dB").arg(meter)));

    rx->setSquelchLevel(meter + aboveMeterDb);
    rx->setSquelchEnabled(true);
    // From the next block on the channel is muted or not; the meter stays put.
    const size_t before = rig.entryLeft.size();
    rig.run(signal, 0.2);
    // Skip the block in flight between the receiver and the entry.
    const std::vector<double> after(rig.entryLeft.begin() + long(before) + 800, rig.entryLeft.end());
    QVERIFY(after.size() >= 5000);
    double peak = 0.0;
    for (double v : after)
        peak = std::max(peak, std::fabs(v));
    if (passes)
        QVERIFY2(peak > 0.1, qPrintable(QString("audio peak %1 with the squelch open").arg(peak)));
    else
        QVERIFY2(peak == 0.0, qPrintable(QString("audio peak %1 with the squelch closed").arg(peak)));
}

QTEST_GUILESS_MAIN(TestEngineChain)
#include "tst_enginechain.moc"
