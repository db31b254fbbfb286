#include "ModesTestSupport.h"

#include "zorvaniDsp/Demodulators/WfmInterpolator.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"

#include <QtTest>

using namespace modestest;

namespace {

constexpr double kIn = 312500.0;

using CF = Ostrovix::complex<float>;

// FM broadcast signal at 312500 Hz built here: multiplex
// m = 0.9 [(L + R)/2 + (L - R)/2 sin(2 p)] + pilotLevel sin(p), p the 19 kHz
// pilot phase, 75 kHz deviation for |m| = 1.
struct Broadcast {
    double leftHz = 1000.0, rightHz = 3000.0;
    double leftAmp = 1.0, rightAmp = 1.0;
    double pilotLevel = 0.1;
    double pilotHz = 19000.0, pilotPhase = 0.7;
    bool stereo = true;

    std::vector<CF> make(int n) const
    {
        std::vector<CF> x(static_cast<size_t>(n));
        double phase = 0.0;
        for (int k = 0; k < n; ++k) {
            const double t = k / kIn;
            const double l = leftAmp * std::cos(2.0 * kPi * leftHz * t);
            const double r = rightAmp * std::cos(2.0 * kPi * rightHz * t);
            const double p = 2.0 * kPi * pilotHz * t + pilotPhase;
            double m = 0.9 * (l + r) / 2.0 + pilotLevel * std::sin(p);
            if (stereo)
                m += 0.9 * (l - r) / 2.0 * std::sin(2.0 * p);
            phase += 2.0 * kPi * 75000.0 * m / kIn;
            x[static_cast<size_t>(k)] = {static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase))};
        }
        return x;
    }
};

std::vector<CF> complexNoiseFloat(int n)
{
    const std::vector<Sample> x = complexNoise(n, 0.5, 17);
    std::vector<CF> y(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        y[static_cast<size_t>(k)] = {static_cast<float>(x[k].re), static_cast<float>(x[k].im)};
    return y;
}

// Runs the receiver over `in` in blocks of `block` inputs; returns the audio.
std::vector<Sample> run(WfmReceiverZorvani& rx, const std::vector<CF>& in, int block)
{
    std::vector<Sample> out;
    std::vector<Sample> buffer(
        static_cast<size_t>(WfmReceiverZorvani::maxOutput(block, rx.inputRate(), rx.outputRate())));
    for (size_t done = 0; done < in.size(); done += static_cast<size_t>(block)) {
        const int n = static_cast<int>(std::min(in.size() - done, static_cast<size_t>(block)));
        const int frames = rx.process(in.data() + done, n, buffer.data());
        out.insert(out.end(), buffer.begin(), buffer.begin() + frames);
    }
    return out;
}

// One-pole de-emphasis y = (1 - a) x + a y at the audio rate, |H(f)|.
double deemphasis(double hz, double tau)
{
    const double a = std::exp(-1.0 / (kFs * tau));
    return (1.0 - a) / std::abs(1.0 - a * std::polar(1.0, -2.0 * kPi * hz / kFs));
}

} // namespace

class TestWfm : public QObject {
    Q_OBJECT

private slots:
    void stereoSeparation()
    {
        Broadcast b;
        const std::vector<CF> in = b.make(static_cast<int>(kIn)); // 1 s
        WfmReceiverZorvani rx(kIn, kFs, true, 75e-6);
        const std::vector<Sample> out = run(rx, in, 1600);
        QVERIFY(std::fabs(out.size() - kFs) <= 1.0);
        QVERIFY2(rx.pilotDetected(), "pilot not detected");
        QVERIFY(rx.stereo());
        const int first = static_cast<int>(out.size()) - 6250;
        const double l1 = toneAmplitude(out, first, 6250, 1000.0, 0);
        const double r1 = toneAmplitude(out, first, 6250, 1000.0, 1);
        const double l3 = toneAmplitude(out, first, 6250, 3000.0, 0);
        const double r3 = toneAmplitude(out, first, 6250, 3000.0, 1);
        // Channel separation: each tone's level on its own side over its leak.
        const double leftToRight = db(l1 / r1);
        const double rightToLeft = db(r3 / l3);
        QVERIFY2(leftToRight >= 25.0 && rightToLeft >= 25.0,
                 qPrintable(QString("separation L %1 dB, R %2 dB").arg(leftToRight).arg(rightToLeft)));
        // The left tone's level: 0.9 of full deviation through the de-emphasis.
        const double expected = 0.9 * deemphasis(1000.0, 75e-6);
        QVERIFY2(std::fabs(db(l1 / expected)) < 0.5, qPrintable(QString("left level %1 expected %2").arg(l1).arg(expected)));
    }

    void monoWithoutPilot_data()
    {
        QTest::addColumn<bool>("stereoFlag");
        QTest::addColumn<double>("pilot");
        QTest::newRow("stereo on, no pilot") << true << 0.0;
        QTest::newRow("stereo off, pilot present") << false << 0.1;
    }

    void monoWithoutPilot()
    {
        QFETCH(bool, stereoFlag);
        QFETCH(double, pilot);
        Broadcast b;
        b.pilotLevel = pilot;
        b.stereo = pilot > 0.0;
        const std::vector<CF> in = b.make(static_cast<int>(0.8 * kIn));
        WfmReceiverZorvani rx(kIn, kFs, stereoFlag, 75e-6);
        const std::vector<Sample> out = run(rx, in, 1600);
        QVERIFY(!rx.pilotDetected());
        QVERIFY(!rx.stereo());
        QCOMPARE(rx.stereoEnabled(), stereoFlag);
        for (const Sample& s : out)
            QVERIFY2(s.re == s.im, "mono frames differ between the ears");
        const int first = static_cast<int>(out.size()) - 6250;
        // Both tones in both ears at the mono level 0.9 / 2.
        const double l1 = toneAmplitude(out, first, 6250, 1000.0, 0);
        const double expected = 0.45 * deemphasis(1000.0, 75e-6);
        QVERIFY2(std::fabs(db(l1 / expected)) < 0.5, qPrintable(QString("mono level %1 expected %2").arg(l1).arg(expected)));
    }

    void pilotDetection_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("offsetHz");
        QTest::addColumn<bool>("detected");
        // Locked, the in-phase arm settles at level / 2; detection needs
        // twice the block's smallest in-phase value above 0.04 for 0.4 s,
        // and the loop holds only 19000 +- 50 Hz.
        QTest::newRow("10 %") << 0.1 << 0.0 << true;
        QTest::newRow("5 %") << 0.05 << 0.0 << true;
        QTest::newRow("3 %, too weak") << 0.03 << 0.0 << false;
        QTest::newRow("10 %, +30 Hz") << 0.1 << 30.0 << true;
        QTest::newRow("10 %, -30 Hz") << 0.1 << -30.0 << true;
        QTest::newRow("10 %, +120 Hz, out of range") << 0.1 << 120.0 << false;
    }

    void pilotDetection()
    {
        QFETCH(double, level);
        QFETCH(double, offsetHz);
        QFETCH(bool, detected);
        Broadcast b;
        b.pilotLevel = level;
        b.pilotHz = 19000.0 + offsetHz;
        WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
        run(rx, b.make(static_cast<int>(1.2 * kIn)), 1600);
        QCOMPARE(rx.pilotDetected(), detected);
        QCOMPARE(rx.stereo(), detected);
    }

    void pilotLossDropsStereo()
    {
        Broadcast b;
        WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
        run(rx, b.make(static_cast<int>(kIn)), 1600);
        QVERIFY(rx.pilotDetected());
        b.pilotLevel = 0.0;
        b.stereo = false;
        run(rx, b.make(16000), 1600);
        QVERIFY2(!rx.pilotDetected(), "pilot still reported after it went");
        rx.setStereo(false);
        QVERIFY(!rx.stereo());
    }

    void deemphasisTimeConstant()
    {
        // A 10 kHz and a 1 kHz mono tone through both time constants: the
        // ratio of the 10 kHz levels is the ratio of the one-pole responses.
        Broadcast b;
        b.leftHz = b.rightHz = 10000.0;
        b.leftAmp = b.rightAmp = 0.3;
        b.pilotLevel = 0.0;
        b.stereo = false;
        const std::vector<CF> in = b.make(100000);
        WfmReceiverZorvani rx50(kIn, kFs, false, 50e-6);
        WfmReceiverZorvani rx75(kIn, kFs, false, 75e-6);
        const std::vector<Sample> out50 = run(rx50, in, 1600);
        const std::vector<Sample> out75 = run(rx75, in, 1600);
        const int first = static_cast<int>(out50.size()) - 6250;
        const double a50 = toneAmplitude(out50, first, 6250, 10000.0);
        const double a75 = toneAmplitude(out75, first, 6250, 10000.0);
        const double expected = deemphasis(10000.0, 75e-6) / deemphasis(10000.0, 50e-6);
        QVERIFY2(std::fabs(db(a75 / a50) - db(expected)) < 0.05,
                 qPrintable(QString("75/50 ratio %1 dB, expected %2 dB").arg(db(a75 / a50)).arg(db(expected))));
        QVERIFY(a75 < a50);
        QCOMPARE(rx75.deemphasisTau(), 75e-6);
    }

    void continuity()
    {
        Broadcast b;
        const std::vector<CF> in = b.make(9000);
        WfmReceiverZorvani once(kIn, kFs, true, 50e-6);
        WfmReceiverZorvani split(kIn, kFs, true, 50e-6);
        const std::vector<Sample> a = run(once, in, 9000);
        // 200-sample blocks, and blocks that cross the receiver's internal chunk.
        const std::vector<Sample> c = run(split, std::vector<CF>(in.begin(), in.begin() + 400), 200);
        std::vector<Sample> d = c;
        const std::vector<Sample> rest = run(split, std::vector<CF>(in.begin() + 400, in.end()), 8600);
        d.insert(d.end(), rest.begin(), rest.end());
        QVERIFY2(sameSamples(a, d), "split blocks differ from one block");
    }

    void resetReproduces()
    {
        Broadcast b;
        const std::vector<CF> in = b.make(5000);
        WfmReceiverZorvani rx(kIn, kFs, true, 50e-6);
        const std::vector<Sample> a = run(rx, in, 1600);
        rx.reset();
        const std::vector<Sample> c = run(rx, in, 1600);
        QVERIFY(sameSamples(a, c));
    }

    void converterMask_data()
    {
        QTest::addColumn<double>("inRate");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("lowDb");
        QTest::addColumn<double>("highDb");
        // Passband flat to 10 kHz; inputs above the audio rate's Nyquist
        // frequency (aliasing to hz' = fs - hz) are suppressed.
        QTest::newRow("312500: 1 kHz") << kIn << 1000.0 << -0.05 << 0.05;
        QTest::newRow("312500: 10 kHz") << kIn << 10000.0 << -0.05 << 0.05;
        QTest::newRow("312500: 25 kHz") << kIn << 25000.0 << -300.0 << -80.0;
        QTest::newRow("312500: 30 kHz") << kIn << 30000.0 << -300.0 << -80.0;
        QTest::newRow("100000 (ratio 2.56): 1 kHz") << 100000.0 << 1000.0 << -0.05 << 0.05;
        QTest::newRow("100000 (ratio 2.56): 10 kHz") << 100000.0 << 10000.0 << -0.5 << 0.05;
        QTest::newRow("100000 (ratio 2.56): 30 kHz") << 100000.0 << 30000.0 << -300.0 << -80.0;
        QTest::newRow("39062.5 (ratio 1): 10 kHz") << kFs << 10000.0 << -0.05 << 0.05;
    }

    void converterMask()
    {
        QFETCH(double, inRate);
        QFETCH(double, hz);
        QFETCH(double, lowDb);
        QFETCH(double, highDb);
        WfmInterpolator converter(inRate, kFs, static_cast<int>(std::lround(inRate / 1000.0)), 15000.0 / inRate, 4096);
        const int n = static_cast<int>(inRate);
        std::vector<Sample> in(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k)
            in[static_cast<size_t>(k)] = {std::cos(2.0 * kPi * hz * k / inRate), 0.0};
        std::vector<Sample> out, buffer(static_cast<size_t>(converter.maxOutput(4096)));
        for (int done = 0; done < n; done += 4096) {
            const int frames = converter.process(in.data() + done, std::min(4096, n - done), buffer.data());
            out.insert(out.end(), buffer.begin(), buffer.begin() + frames);
        }
        QVERIFY(std::fabs(out.size() - kFs) <= 1.0);
        const double heard = hz < kFs / 2.0 ? hz : kFs - hz;
        const double level = db(toneAmplitude(out, 20000, 6250, heard));
        QVERIFY2(level >= lowDb && level <= highDb, qPrintable(QString("%1 Hz heard at %2 dB").arg(heard).arg(level)));
    }

    void everyDeviceRate_data()
    {
        QTest::addColumn<double>("inRate");
        QTest::newRow("39062.5") << 39062.5;
        QTest::newRow("78125") << 78125.0;
        QTest::newRow("156250") << 156250.0;
        QTest::newRow("312500") << 312500.0;
    }

    void everyDeviceRate()
    {
        // The receiver is built for whatever rate the device streams at; it
        // must give one audio frame per inRate / 39062.5 inputs and finite audio.
        QFETCH(double, inRate);
        WfmReceiverZorvani rx(inRate, kFs, true, 50e-6);
        std::vector<CF> in = complexNoiseFloat(static_cast<int>(inRate / 5));
        const std::vector<Sample> out = run(rx, in, static_cast<int>(200 * inRate / kFs));
        QVERIFY(std::fabs(out.size() - kFs / 5) <= 1.0);
        for (const Sample& s : out)
            QVERIFY2(std::isfinite(s.re) && std::isfinite(s.im), "audio not finite");
    }

    void outputCount()
    {
        QVERIFY(WfmReceiverZorvani::maxOutput(1600, kIn, kFs) >= 200);
        WfmReceiverZorvani rx(kIn, kFs, false, 50e-6);
        std::vector<CF> in(1600, CF{1.0f, 0.0f});
        std::vector<Sample> out(static_cast<size_t>(WfmReceiverZorvani::maxOutput(1600, kIn, kFs)));
        int total = 0;
        for (int i = 0; i < 10; ++i) {
            const int frames = rx.process(in.data(), 1600, out.data());
            QVERIFY(frames >= 199 && frames <= 201);
            total += frames;
        }
        QCOMPARE(total, 2000);
        QCOMPARE(rx.process(nullptr, 10, out.data()), 0);
        QCOMPARE(rx.process(in.data(), 0, out.data()), 0);
    }
};

QTEST_APPLESS_MAIN(TestWfm)
#include "tst_wfm.moc"
