#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <QtTest>

using namespace dsptest;

namespace {

constexpr int kAt = 6000;

// A steady tone of magnitude 0.1 with one impulse of magnitude 5 at kAt,
// through the blanker in 200-sample blocks.
Signal blanked(ZorvaniNB& nb, Signal& input)
{
    input = toneHz(8000, 1234.0, 0.1, 0.2);
    input[kAt] = {3.0, -4.0};
    Signal x = input;
    inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
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
            Signal input;
            const Signal x = blanked(nb, input);
            QVERIFY(silent(x.data(), 2));
            for (int k = 2; k < 8000; ++k) {
                const C expected = threshold == 0.0 && k >= kAt && k < kAt + 7 ? C{0.0, 0.0} : input[k - 2];
                QVERIFY2(x[k].re == expected.re && x[k].im == expected.im, qPrintable(QString("threshold %1, slot %2").arg(threshold).arg(k)));
            }
        }
    }

    // NB2 replaces the impulse by the smoothed sample s = 0.75 s + 0.25 x,
    // taken before the comparison, and touches nothing else.
    void nb2ReplacesImpulseBySmoothedValue()
    {
        ZorvaniNB nb;
        nb.setNb2(true);
        Signal input;
        Signal x = blanked(nb, input);
        C s{0.0, 0.0};
        for (int k = 0; k <= kAt; ++k)
            s = {0.75 * s.re + 0.25 * input[k].re, 0.75 * s.im + 0.25 * input[k].im};
        QVERIFY2(std::fabs(x[kAt].re - s.re) < 1e-15 && std::fabs(x[kAt].im - s.im) < 1e-15,
                 qPrintable(QString("replaced by %1,%2 expected %3,%4").arg(x[kAt].re).arg(x[kAt].im).arg(s.re).arg(s.im)));
        x[kAt] = input[kAt];
        QVERIFY(sameBits(x, input));
    }

    // One average serves both: A_n = 0.5 + (1 - 0.5) 0.999^(updates n) for
    // magnitude 0.5, each blanker on updating it once per sample. Both off,
    // the block is left alone.
    void sharedAverage()
    {
        for (int on = 0; on < 4; ++on) { // bit 0 NB1, bit 1 NB2
            ZorvaniNB nb;
            nb.setNb1(on & 1);
            nb.setNb2(on & 2);
            Signal x(500, C{0.3, 0.4});
            nb.process(x.data(), 500);
            const double expected = 0.5 + 0.5 * std::pow(0.999, ((on & 1) + (on >> 1)) * 500);
            QVERIFY2(std::fabs(nb.averageMagnitude() - expected) < 1e-12, qPrintable(QString("%1: %2").arg(on).arg(nb.averageMagnitude())));
            QVERIFY(on || sameBits(x, Signal(500, C{0.3, 0.4})));
        }
    }
};

QTEST_APPLESS_MAIN(TestNoiseBlanker)
#include "tst_noiseblanker.moc"
