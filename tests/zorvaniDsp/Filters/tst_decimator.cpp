#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"

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
};

QTEST_APPLESS_MAIN(TestDecimator)
#include "tst_decimator.moc"
