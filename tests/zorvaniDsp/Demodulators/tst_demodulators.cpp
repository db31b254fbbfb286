#include "DspTestSupport.h"

#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FastAtan2.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"

#include <QtTest>

using namespace dsptest;

class TestDemodulators : public QObject {
    Q_OBJECT

private:
    // Carrier at `offsetHz`, modulated `depth` by a 1 kHz tone, with faint noise.
    static Signal amSignal(int n, double offsetHz, double depth, double phase)
    {
        Signal x(static_cast<size_t>(n));
        const Signal hiss = gaussian(n, 1e-4, 7);
        for (int k = 0; k < n; ++k) {
            const double a = 0.5 * (1.0 + depth * std::cos(2.0 * kPi * 1000.0 * k / kFs));
            const double p = 2.0 * kPi * offsetHz * k / kFs + phase;
            x[k] = {a * std::cos(p) + hiss[k].re, a * std::sin(p) + hiss[k].im};
        }
        return x;
    }

    // FM carrier whose instantaneous frequency is deviationHz * cos(2 pi toneHz t),
    // or a constant offset when toneHz is 0.
    static Signal fmSignal(int n, double deviationHz, double toneHz)
    {
        Signal x(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) {
            const double t = k / kFs;
            const double phase = toneHz > 0.0
                                     ? deviationHz / toneHz * std::sin(2.0 * kPi * toneHz * t)
                                     : 2.0 * kPi * deviationHz * t;
            x[k] = {std::cos(phase), std::sin(phase)};
        }
        return x;
    }

private slots:
    void fastAtan2_data()
    {
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("x");
        for (int i = 0; i < 72; ++i) {
            const double a = -kPi + (i + 0.5) * 2.0 * kPi / 72.0;
            QTest::addRow("angle %d", i) << 0.7 * std::sin(a) << 0.7 * std::cos(a);
        }
        QTest::newRow("+y axis") << 1.0 << 0.0;
        QTest::newRow("-y axis") << -2.0 << 0.0;
        QTest::newRow("-x axis") << 0.0 << -1.0;
        QTest::newRow("+x axis") << 0.0 << 3.0;
        QTest::newRow("origin") << 0.0 << 0.0;
    }

    void fastAtan2()
    {
        QFETCH(double, y);
        QFETCH(double, x);
        // The rational approximation is good to about 0.005 rad everywhere.
        const double reference = std::atan2(y, x);
        const double approx = ox::dsp::fastAtan2(y, x);
        const double err = std::remainder(approx - reference, 2.0 * kPi);
        QVERIFY2(std::fabs(err) < 0.0055, qPrintable(QString("atan2(%1,%2): %3 vs %4").arg(y).arg(x).arg(approx).arg(reference)));
        QCOMPARE(static_cast<double>(ox::dsp::fastAtan2(static_cast<float>(y), static_cast<float>(x))) == 0.0,
                 approx == 0.0);
    }

    void amToneThd_data()
    {
        QTest::addColumn<double>("offsetHz");
        QTest::newRow("centred carrier") << 0.0;
        QTest::newRow("carrier at +300 Hz") << 300.0;
    }

    void amToneThd()
    {
        QFETCH(double, offsetHz);
        DemodAMZorvani am;
        QVERIFY(!am.setBandwidth(0.0));
        QVERIFY(am.setBandwidth(5000.0 / kFs));
        Signal x = amSignal(20000, offsetHz, 0.5, 0.4);
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(am.process(p, n)); });
        // 6250 samples hold whole cycles of 1 kHz and its harmonics.
        const double distortion = thd(x, 12000, 6250, 1000.0);
        QVERIFY2(distortion < 0.01, qPrintable(QString("THD %1").arg(distortion)));
        const double distortionIm = thd(x, 12000, 6250, 1000.0, 1);
        QVERIFY2(distortionIm < 0.01, qPrintable(QString("THD of im %1").arg(distortionIm)));
        // The detected audio stays mono at full level: 0.5 x 50 % = 0.25.
        const double re = realAmplitude(x, 12000, 6250, 1000.0, 0);
        QVERIFY2(std::fabs(re - 0.25) < 0.005, qPrintable(QString("tone amplitude %1").arg(re)));
        for (int k = 12000; k < 18250; ++k)
            QVERIFY2(std::fabs(x[k].re - x[k].im) < 1e-9, qPrintable(QString("re and im differ at %1").arg(k)));
    }

    void samToneThd()
    {
        SamDemodZorvani sam;
        QVERIFY(!sam.setBandwidth(0.7));
        QVERIFY(sam.setBandwidth(5000.0 / kFs));
        Signal x = amSignal(60000, 50.0, 0.5, 2.0);
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(sam.process(p, n)); });
        const double distortion = thd(x, 50000, 6250, 1000.0);
        QVERIFY2(distortion < 0.01, qPrintable(QString("THD %1").arg(distortion)));
        // Locked: the loop frequency cancels the 50 Hz offset (x e^(j theta)),
        // within the loop's steady chatter of beta * pi.
        QVERIFY2(std::fabs(sam.frequency() + 2.0 * kPi * 50.0 / kFs) < 2.0 * SamDemodZorvani::kBeta * kPi,
                 qPrintable(QString("nu %1").arg(sam.frequency())));
    }

    void loopsSurviveNonFiniteSamples()
    {
        // One NaN sample must not leave the loops' state broken.
        SamDemodZorvani sam;
        FmDemodZorvani fm;
        Signal a = toneHz(40000, 50.0, 0.8);
        a[20000] = {std::nan(""), 0.0};
        Signal b = a;
        inBlocks(a, 200, [&](C* p, int n) { QVERIFY(sam.process(p, n)); });
        inBlocks(b, 200, [&](C* p, int n) { QVERIFY(fm.process(p, n)); });
        QVERIFY(std::isfinite(sam.frequency()) && std::isfinite(sam.phase()));
        QVERIFY(std::isfinite(fm.frequency()) && std::isfinite(fm.phase()));
        QVERIFY2(std::isfinite(a.back().re) && a.back().re > 0.0, qPrintable(QString("SAM output %1").arg(a.back().re)));
        QVERIFY2(std::isfinite(b.back().re), "FM output not finite");
    }

    // A steady 1 kHz offset: the loop settles on it, the DC blocker removes it.
    void fmSettlesOnDeviation()
    {
        FmDemodZorvani fm;
        Signal x = fmSignal(200000, 1000.0, 0.0);
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(fm.process(p, n)); });
        const double expected = 2.0 * kPi * 1000.0 / kFs;
        QVERIFY2(std::fabs(fm.frequency() - expected) < 1e-6,
                 qPrintable(QString("nu %1 expected %2").arg(fm.frequency(), 0, 'g', 10).arg(expected, 0, 'g', 10)));
        QVERIFY(fm.phase() >= 0.0 && fm.phase() < 2.0 * kPi);
        QVERIFY2(std::fabs(x.back().re) < 1e-3, qPrintable(QString("residual %1").arg(x.back().re)));
    }

    void fmOutputScale()
    {
        // 3 kHz peak deviation by a 1 kHz tone: the input frequency swings by
        // 2 pi 3000 / fs. nu follows it through the loop's closed-loop response
        // beta z / (z^2 + (alpha + beta - 2) z + 1 - alpha) (from the loop
        // recursion), then the gain and the DC blocker apply.
        FmDemodZorvani fm;
        Signal x = fmSignal(40000, 3000.0, 1000.0);
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(fm.process(p, n)); });
        const double w = 2.0 * kPi * 1000.0 / kFs;
        const std::complex<double> z = std::polar(1.0, -w);
        const double blocker = std::abs((1.0 - z) / (1.0 - 0.995 * z));
        const double alpha = 0.4825486315913922, beta = 0.058213295462681294;
        const std::complex<double> zp = std::polar(1.0, w);
        const double loop = std::abs(beta * zp / (zp * zp + (alpha + beta - 2.0) * zp + 1.0 - alpha));
        const double expected = 0.5595290968074446 * 2.0 * kPi * 3000.0 / kFs * loop * blocker;
        const double measured = realAmplitude(x, 30000, 6250, 1000.0);
        QVERIFY2(std::fabs(measured / expected - 1.0) < 0.02,
                 qPrintable(QString("amplitude %1 expected %2").arg(measured).arg(expected)));
        QVERIFY2(thd(x, 30000, 6250, 1000.0) < 0.01, "FM audio distorted");
        QCOMPARE(realAmplitude(x, 30000, 6250, 1000.0, 1), measured);
    }
};

QTEST_APPLESS_MAIN(TestDemodulators)
#include "tst_demodulators.moc"
