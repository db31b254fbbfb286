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
    void bothOffLeaveEverything()
    {
        ZorvaniNB nb;
        Signal x = toneWithImpulse(600, 300);
        const Signal original = x;
        nb.process(x.data(), 600);
        QVERIFY(sameBits(x, original));
        QCOMPARE(nb.averageMagnitude(), 1.0);
    }

    void nb1DelaysByTwo()
    {
        ZorvaniNB nb;
        nb.setNb1(true);
        // Magnitude 0.1, well under 2.65 x the average: no blanking.
        Signal x = toneWithImpulse(1000, -1);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
        QCOMPARE(x[0].re, 0.0);
        QCOMPARE(x[1].im, 0.0);
        for (int k = 2; k < 1000; ++k)
            QVERIFY2(x[k].re == input[k - 2].re && x[k].im == input[k - 2].im, qPrintable(QString("sample %1").arg(k)));
    }

    void nb1BlanksSeven()
    {
        ZorvaniNB nb;
        nb.setNb1(true);
        const int at = 6000; // the average has settled near 0.1 by then
        Signal x = toneWithImpulse(8000, at);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
        for (int k = at - 20; k < at + 30; ++k) {
            const bool blanked = k >= at && k < at + 7;
            const C expected = blanked ? C{0.0, 0.0} : input[k - 2];
            QVERIFY2(x[k].re == expected.re && x[k].im == expected.im,
                     qPrintable(QString("slot %1 (impulse at %2): %3 expected %4").arg(k).arg(at).arg(x[k].re).arg(expected.re)));
        }
    }

    void nb2ReplacesImpulseBySmoothedValue()
    {
        ZorvaniNB nb;
        nb.setNb2(true);
        const int at = 6000;
        Signal x = toneWithImpulse(8000, at);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
        // Smoothed sample s = 0.75 s + 0.25 x, taken before the comparison.
        C s{0.0, 0.0};
        for (int k = 0; k <= at; ++k)
            s = {0.75 * s.re + 0.25 * input[k].re, 0.75 * s.im + 0.25 * input[k].im};
        QVERIFY2(std::fabs(x[at].re - s.re) < 1e-15 && std::fabs(x[at].im - s.im) < 1e-15,
                 qPrintable(QString("replaced by %1,%2 expected %3,%4").arg(x[at].re).arg(x[at].im).arg(s.re).arg(s.im)));
        for (int k = 0; k < 8000; ++k) {
            if (k != at)
                QVERIFY2(x[k].re == input[k].re && x[k].im == input[k].im, qPrintable(QString("sample %1 touched").arg(k)));
        }
    }

    void sharedAverage_data()
    {
        QTest::addColumn<bool>("nb1");
        QTest::addColumn<bool>("nb2");
        QTest::addColumn<int>("updates");
        QTest::newRow("NB1") << true << false << 1;
        QTest::newRow("NB2") << false << true << 1;
        QTest::newRow("both") << true << true << 2;
    }

    void sharedAverage()
    {
        QFETCH(bool, nb1);
        QFETCH(bool, nb2);
        QFETCH(int, updates);
        ZorvaniNB nb;
        nb.setNb1(nb1);
        nb.setNb2(nb2);
        Signal x(500, C{0.3, 0.4}); // magnitude 0.5
        nb.process(x.data(), 500);
        // A_n = 0.5 + (1 - 0.5) 0.999^(updates n)
        const double expected = 0.5 + 0.5 * std::pow(0.999, updates * 500);
        QVERIFY2(std::fabs(nb.averageMagnitude() - expected) < 1e-12,
                 qPrintable(QString("average %1 expected %2").arg(nb.averageMagnitude()).arg(expected)));
    }

    void thresholds()
    {
        // With threshold 60 the impulse (50 x the average) passes NB1.
        ZorvaniNB nb;
        nb.setNb1(true);
        nb.setNb1Threshold(60.0);
        Signal x = toneWithImpulse(8000, 6000);
        const Signal input = x;
        nb.process(x.data(), 8000);
        QCOMPARE(x[6002].re, input[6000].re);
    }

};

QTEST_APPLESS_MAIN(TestNoiseBlanker)
#include "tst_noiseblanker.moc"
