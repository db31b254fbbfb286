#include "DspTestSupport.h"

#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <QtTest>

using namespace dsptest;

namespace {

// Steady tone of magnitude 0.1 with one impulse of magnitude 5 at `at`.
Signal toneWithImpulse(int n, int at)
{
    Signal x = toneHz(n, 1234.0, 0.1, 0.2);
    if (at >= 0)
        x[static_cast<size_t>(at)] = {3.0, -4.0};
    return x;
}

} // namespace

class TestNoiseBlanker : public QObject {
    Q_OBJECT
private slots:
    // NB1 delays by two samples and blanks seven slots from an impulse far
    // above the average (the average has settled near 0.1 by 6000); with a
    // threshold of 60 the impulse (50 x the average) passes.
    void nb1()
    {
        for (double threshold : {0.0, 60.0}) {
            ZorvaniNB nb;
            nb.setNb1(true);
            if (threshold > 0.0)
                nb.setNb1Threshold(threshold);
            const int at = 6000;
            const Signal input = toneWithImpulse(8000, at);
            Signal x = input;
            inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
            QVERIFY(silent(x.data(), 2));
            for (int k = 2; k < 8000; ++k) {
                const bool blanked = threshold == 0.0 && k >= at && k < at + 7;
                const C expected = blanked ? C{0.0, 0.0} : input[k - 2];
                QVERIFY2(x[k].re == expected.re && x[k].im == expected.im, qPrintable(QString("slot %1").arg(k)));
            }
        }
    }

    // NB2 replaces the impulse by the smoothed sample s = 0.75 s + 0.25 x,
    // taken before the comparison, and touches nothing else.
    void nb2ReplacesImpulseBySmoothedValue()
    {
        ZorvaniNB nb;
        nb.setNb2(true);
        const int at = 6000;
        const Signal input = toneWithImpulse(8000, at);
        Signal x = input;
        inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
        C s{0.0, 0.0};
        for (int k = 0; k <= at; ++k)
            s = {0.75 * s.re + 0.25 * input[k].re, 0.75 * s.im + 0.25 * input[k].im};
        QVERIFY2(std::fabs(x[at].re - s.re) < 1e-15 && std::fabs(x[at].im - s.im) < 1e-15,
                 qPrintable(QString("replaced by %1,%2 expected %3,%4").arg(x[at].re).arg(x[at].im).arg(s.re).arg(s.im)));
        x[at] = input[at];
        QVERIFY(sameBits(x, input));
    }

    void sharedAverage_data()
    {
        QTest::addColumn<bool>("nb1");
        QTest::addColumn<bool>("nb2");
        QTest::addColumn<int>("updates");
        QTest::newRow("off") << false << false << 0;
        QTest::newRow("NB1") << true << false << 1;
        QTest::newRow("NB2") << false << true << 1;
        QTest::newRow("both") << true << true << 2;
    }

    // One average serves both: A_n = 0.5 + (1 - 0.5) 0.999^(updates n) for
    // magnitude 0.5, each blanker on updating it once per sample. Both off,
    // the block is left alone.
    void sharedAverage()
    {
        QFETCH(bool, nb1);
        QFETCH(bool, nb2);
        QFETCH(int, updates);
        ZorvaniNB nb;
        nb.setNb1(nb1);
        nb.setNb2(nb2);
        Signal x(500, C{0.3, 0.4});
        nb.process(x.data(), 500);
        const double expected = 0.5 + 0.5 * std::pow(0.999, updates * 500);
        QVERIFY2(std::fabs(nb.averageMagnitude() - expected) < 1e-12, qPrintable(QString::number(nb.averageMagnitude())));
        QVERIFY(nb1 || nb2 || sameBits(x, Signal(500, C{0.3, 0.4})));
    }
};

QTEST_APPLESS_MAIN(TestNoiseBlanker)
#include "tst_noiseblanker.moc"
