// The decimation low-passes: the half-band cascade of the working chain and
// the order-11 IIR it replaced there (the squelch still filters with it).
#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

constexpr double kPassEdge = kFs / 2.0 - 2000.0;

// Steady-state gain in dB of the cascade for a complex tone at `hz` (input
// rate factor x the working rate): the amplitude of the one tone it leaves at
// the folded frequency, once the filters have filled.
double gainDb(int factor, double hz)
{
    DecimatorZorvani d;
    const int outputs = 384, settle = 128;
    Signal x = tone(outputs * factor, hz / (kFs * factor));
    if (!d.init(factor, kFs, kPassEdge) || d.process(x.data(), int(x.size())) != outputs)
        return NAN;
    return db(std::abs(dft(x.data() + settle, outputs - settle, std::fmod(hz / kFs, 1.0))));
}

// The order-11 Butterworth low-pass (bilinear, cut-off prewarped to the pass
// edge) that decimated before: its magnitude at `hz` for the input rate.
double butterworthDb(int factor, double hz)
{
    const double rate = kFs * factor;
    return -10.0 * std::log10(1.0 + std::pow(std::tan(kPi * std::abs(hz) / rate) / std::tan(kPi * kPassEdge / rate), 22.0));
}

// Steady-state gain in dB for a complex tone at rel: the mean |y| once the
// start-up transient has died away.
double iirGainDb(IirLowpassZorvani& f, double rel)
{
    f.reset();
    const int settle = 60000, measure = 4000;
    Signal x = tone(settle + measure, rel);
    f.process(x.data(), int(x.size()));
    double sum = 0.0;
    for (int k = settle; k < settle + measure; ++k)
        sum += std::abs(toStd(x[k]));
    return db(sum / measure);
}

} // namespace

class TestDecimator : public QObject {
    Q_OBJECT
private slots:
    // Flat where the IIR was flat; in the band that folds into the working
    // band (past the working rate minus the pass edge) at least as deep as
    // the IIR, down to the depth of the 24-bit input (0.5 dB for the
    // estimate of the window's length). Input rates 78125, 156250, 312500 Hz.
    void spectralMask()
    {
        for (int factor : {2, 4, 8}) {
            const double nyquist = kFs * factor / 2.0;
            double worstPass = 0.0, worstMargin = -1e9, worstAt = 0.0;
            for (double hz = -nyquist; hz < nyquist; hz += nyquist / 199.0) {
                const double g = gainDb(factor, hz);
                QVERIFY2(std::isfinite(g), qPrintable(QString("no output at %1 Hz").arg(hz)));
                const double mask = std::max(butterworthDb(factor, hz), -DecimatorZorvani::kAttenuationDb + 0.5);
                if (std::abs(hz) <= kPassEdge)
                    worstPass = std::max(worstPass, std::abs(g));
                else if (std::abs(hz) >= kFs - kPassEdge && g - mask > worstMargin)
                    worstMargin = g - mask, worstAt = hz;
            }
            QVERIFY2(worstPass < 1e-4, qPrintable(QString("x%1: passband ripple %2 dB").arg(factor).arg(worstPass)));
            QVERIFY2(worstMargin <= 0.0, qPrintable(QString("x%1: %2 dB above the mask at %3 Hz").arg(factor).arg(worstMargin).arg(worstAt)));
        }
    }

    // A low tone comes out late by the stated delay: its phase lags by
    // 2 pi f delay (under a cycle at 100 Hz).
    void delayFromPhase()
    {
        const double hz = 100.0;
        for (int factor : {1, 2, 4, 8}) {
            DecimatorZorvani d;
            QVERIFY(d.init(factor, kFs, kPassEdge));
            Signal x = tone(512 * factor, hz / (kFs * factor));
            QCOMPARE(d.process(x.data(), int(x.size())), 512);
            const std::complex<double> expected = std::polar(1.0, 2.0 * kPi * hz * 256 / kFs);
            const double lag = -std::arg(dft(x.data() + 256, 256, hz / kFs) / expected) / (2.0 * kPi * hz);
            QVERIFY2(std::abs(lag - d.delaySeconds()) < 1e-8,
                     qPrintable(QString("x%1: %2 s, stated %3 s").arg(factor).arg(lag).arg(d.delaySeconds())));
        }
    }

    // A refused design keeps the working one.
    void invalidDesignKept()
    {
        DecimatorZorvani d;
        QVERIFY(d.init(4, kFs, kPassEdge));
        QVERIFY(!d.init(3, kFs, kPassEdge) && !d.init(16, kFs, kPassEdge) && !d.init(2, kFs, kFs / 2.0));
        QVERIFY(!d.init(2, kFs, 0.0) && !d.init(2, std::nan(""), kPassEdge));
        QCOMPARE(d.factor(), 4);
        Signal x = noise(16, 1);
        QCOMPARE(d.process(x.data(), 16), 4);
    }

    // The prewarped design puts -3 dB exactly at fc and follows the
    // Butterworth magnitude on the warped axis tan(πf)/tan(πfc), with unit
    // gain at DC, for odd and even orders: at small cut-offs, and at the
    // receiver's (312500 Hz in, 39062.5 Hz working rate).
    void iirButterworthMagnitude()
    {
        const double receiver = (39062.5 / 2 - 2000.0) / 312500.0;
        const double rows[][3] = {{0.01, 0.7, 11}, {0.01, 1.0, 11}, {0.01, 1.2, 11}, {receiver, 0.5, 11}, {receiver, 0.95, 11},
                                  {receiver, 1.0, 11}, {receiver, 1.1, 11}, {receiver, 1.3, 11}, {0.05, 1.0, 1}, {0.05, 1.0, 2}, {0.05, 1.0, 4}};
        for (const auto& r : rows) { // cut-off, tone / cut-off, order
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], int(r[2])) && f.order() == int(r[2]));
            const double measured = iirGainDb(f, r[1] * r[0]);
            const double expected = -10.0 * std::log10(1.0 + std::pow(std::tan(kPi * r[1] * r[0]) / std::tan(kPi * r[0]), 2.0 * r[2]));
            Signal x(20000, C{0.25, -0.5});
            QVERIFY(f.process(x.data(), 20000));
            QVERIFY2(std::abs(measured - expected) < 0.01 && (r[1] != 1.0 || std::abs(measured + 3.0103) < 0.01)
                         && std::abs(x.back().re - 0.25) < 1e-9 && std::abs(x.back().im + 0.5) < 1e-9,
                     qPrintable(QString("fc %1 x %2, order %3: %4 dB, expected %5 dB").arg(r[0]).arg(r[1]).arg(r[2]).arg(measured).arg(expected)));
        }
    }

    // The cut-off is kept inside (0, 0.5) and the filter stays stable there;
    // at the lowest essentially nothing passes at 0.01 cycles per sample.
    // A refused design or block changes nothing and is logged.
    void iirLimitsAndRefusals()
    {
        const double rows[][2] = {{0.0, 1e-7}, {-0.1, 1e-7}, {0.5, 0.4999999}, {0.8, 0.4999999}, {0.2, 0.2}};
        for (const auto& r : rows) {
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], 11) && f.cutoff() == r[1]);
            Signal x = noise(5000, 2), t = tone(5000, 0.01);
            QVERIFY(f.process(x.data(), 5000));
            QVERIFY2(std::all_of(x.begin(), x.end(), [](const C& c) { return std::isfinite(c.re) && std::isfinite(c.im); }), "unstable filter");
            f.reset();
            QVERIFY(f.process(t.data(), 5000) && (r[1] != 1e-7 || std::abs(toStd(t.back())) < 1e-12));
        }
        IirLowpassZorvani f;
        Signal x = noise(10, 1), before = x;
        MessageCapture capture;
        QVERIFY(!f.process(x.data(), 10)); // not designed yet
        QVERIFY(f.init(0.1, 4));
        QVERIFY(!f.init(0.1, 0) && !f.init(0.1, IirLowpassZorvani::kMaxOrder + 1) && !f.init(std::nan(""), 4));
        QVERIFY(!f.process(nullptr, 10) && !f.process(x.data(), 0));
        QVERIFY(sameBits(x, before) && f.order() == 4);
        QCOMPARE(capture.all().size(), 6);
        QVERIFY2(QRegularExpression("^source/zorvaniDsp/Filters/IirLowpassZorvani:\\d+ : code: -?\\d+ , text: .+$")
                     .match(capture.all().first()).hasMatch(), qPrintable(capture.all().first()));
    }
};

QTEST_APPLESS_MAIN(TestDecimator)
#include "tst_decimator.moc"
