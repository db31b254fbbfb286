#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

constexpr double kWorking = kFs;
constexpr double kPassEdge = kWorking / 2.0 - 2000.0;

// Steady-state gain in dB of the cascade for a complex tone at `hz` (input
// rate factor x the working rate): the amplitude of the one tone it leaves at
// the folded frequency, once the filters have filled.
double gainDb(int factor, double hz)
{
    DecimatorZorvani d;
    if (!d.init(factor, kWorking, kPassEdge))
        return NAN;
    const int outputs = 384, settle = 128;
    const double rate = kWorking * factor;
    Signal x = tone(outputs * factor, hz / rate);
    if (d.process(x.data(), int(x.size())) != outputs)
        return NAN;
    double folded = std::fmod(hz / kWorking, 1.0);
    return db(std::abs(dft(x.data() + settle, outputs - settle, folded)));
}

// The order-11 Butterworth low-pass (bilinear, cut-off prewarped to the pass
// edge) that decimated before: its magnitude at `hz` for the input rate.
double butterworthDb(int factor, double hz)
{
    const double rate = kWorking * factor;
    const double ratio = std::tan(kPi * std::abs(hz) / rate) / std::tan(kPi * kPassEdge / rate);
    return -10.0 * std::log10(1.0 + std::pow(ratio, 22.0));
}

} // namespace

class TestDecimator : public QObject {
    Q_OBJECT
private slots:
    void spectralMask_data()
    {
        QTest::addColumn<int>("factor");
        QTest::newRow("78125 Hz") << 2;
        QTest::newRow("156250 Hz") << 4;
        QTest::newRow("312500 Hz") << 8;
    }

    // Flat where the IIR was flat; in the band that folds into the working
    // band (past the working rate minus the pass edge) at least as deep as
    // the IIR, down to the depth of the 24-bit input (0.5 dB for the
    // estimate of the window's length).
    void spectralMask()
    {
        QFETCH(int, factor);
        const double nyquist = kWorking * factor / 2.0;
        const double stopEdge = kWorking - kPassEdge;
        double worstPass = 0.0, worstMargin = -1e9, worstAt = 0.0;
        for (double hz = -nyquist; hz < nyquist; hz += nyquist / 199.0) {
            const double g = gainDb(factor, hz);
            QVERIFY2(std::isfinite(g), qPrintable(QString("no output at %1 Hz").arg(hz)));
            if (std::abs(hz) <= kPassEdge) {
                worstPass = std::max(worstPass, std::abs(g));
            } else if (std::abs(hz) >= stopEdge) {
                const double mask = std::max(butterworthDb(factor, hz), -DecimatorZorvani::kAttenuationDb + 0.5);
                if (g - mask > worstMargin) {
                    worstMargin = g - mask;
                    worstAt = hz;
                }
            }
        }
        QVERIFY2(worstPass < 1e-4, qPrintable(QString("passband ripple %1 dB").arg(worstPass)));
        QVERIFY2(worstMargin <= 0.0,
                 qPrintable(QString("%1 dB above the mask at %2 Hz").arg(worstMargin).arg(worstAt)));
    }

    // A low tone comes out late by the stated delay: its phase lags by
    // 2 pi f delay (under a cycle at 100 Hz).
    void delayFromPhase()
    {
        const double twoPi = 2.0 * kPi, hz = 100.0;
        for (int factor : {1, 2, 4, 8}) {
            DecimatorZorvani d;
            QVERIFY(d.init(factor, kWorking, kPassEdge));
            Signal x = tone(512 * factor, hz / (kWorking * factor));
            QCOMPARE(d.process(x.data(), int(x.size())), 512);
            const std::complex<double> expected = std::polar(1.0, twoPi * hz * 256 / kWorking);
            const double lag = -std::arg(dft(x.data() + 256, 256, hz / kWorking) / expected) / (twoPi * hz);
            QVERIFY2(std::abs(lag - d.delaySeconds()) < 1e-8,
                     qPrintable(QString("x%1: %2 s, stated %3 s").arg(factor).arg(lag).arg(d.delaySeconds())));
        }
    }

    // A refused design keeps the working one.
    void invalidDesignKept()
    {
        DecimatorZorvani d;
        QVERIFY(d.init(4, kWorking, kPassEdge));
        QVERIFY(!d.init(3, kWorking, kPassEdge));
        QVERIFY(!d.init(16, kWorking, kPassEdge));
        QVERIFY(!d.init(2, kWorking, kWorking / 2.0));
        QVERIFY(!d.init(2, kWorking, 0.0));
        QVERIFY(!d.init(2, std::nan(""), kPassEdge));
        QCOMPARE(d.factor(), 4);
        Signal x = noise(16, 1);
        QCOMPARE(d.process(x.data(), 16), 4);
    }
};

QTEST_APPLESS_MAIN(TestDecimator)
#include "tst_decimator.moc"
