#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// Steady-state gain in dB for a complex tone at rel: the mean |y| once the
// start-up transient has died away.
double gainDb(IirLowpassZorvani& f, double rel)
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

class TestIirLowpass : public QObject {
    Q_OBJECT
private slots:
    // The prewarped design puts -3 dB exactly at fc and follows the
    // Butterworth magnitude on the warped axis tan(πf)/tan(πfc): at a small
    // cut-off, and at the receiver's (312500 Hz in, 39062.5 Hz working rate).
    void butterworthMagnitude()
    {
        const double receiver = (39062.5 / 2 - 2000.0) / 312500.0;
        const double rows[][2] = {{0.01, 0.7}, {0.01, 1.0}, {0.01, 1.2}, {receiver, 0.5}, {receiver, 0.95},
                                  {receiver, 1.0}, {receiver, 1.1}, {receiver, 1.3}};
        for (const auto& r : rows) {
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], 11));
            const double measured = gainDb(f, r[1] * r[0]);
            const double expected = -10.0 * std::log10(1.0 + std::pow(std::tan(kPi * r[1] * r[0]) / std::tan(kPi * r[0]), 22.0));
            QVERIFY2(std::abs(measured - expected) < 0.01 && (r[1] != 1.0 || std::abs(measured + 3.0103) < 0.01),
                     qPrintable(QString("fc %1 x %2: %3 dB, expected %4 dB").arg(r[0]).arg(r[1]).arg(measured).arg(expected)));
        }
    }

    // Unit gain at DC and -3 dB at fc for odd and even orders.
    void dcGainAndOddOrders()
    {
        for (int order : {1, 2, 4, 11}) {
            IirLowpassZorvani f;
            QVERIFY(f.init(0.05, order));
            QCOMPARE(f.order(), order);
            Signal x(20000, C{0.25, -0.5});
            QVERIFY(f.process(x.data(), 20000));
            QVERIFY2(std::abs(x.back().re - 0.25) < 1e-9 && std::abs(x.back().im + 0.5) < 1e-9 && std::abs(gainDb(f, 0.05) + 3.0103) < 0.01,
                     qPrintable(QString("order %1").arg(order)));
        }
    }

    // The cut-off is kept inside (0, 0.5) and the filter stays stable there;
    // at the lowest essentially nothing passes at 0.01 cycles per sample.
    void cutoffLimits()
    {
        const double rows[][2] = {{0.0, 1e-7}, {-0.1, 1e-7}, {0.5, 0.4999999}, {0.8, 0.4999999}, {0.2, 0.2}};
        for (const auto& r : rows) {
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], 11));
            QCOMPARE(f.cutoff(), r[1]);
            Signal x = noise(5000, 2);
            QVERIFY(f.process(x.data(), 5000));
            QVERIFY2(std::all_of(x.begin(), x.end(), [](const C& c) { return std::isfinite(c.re) && std::isfinite(c.im); }), "unstable filter");
            Signal t = tone(5000, 0.01);
            f.reset();
            QVERIFY(f.process(t.data(), 5000) && (r[1] != 1e-7 || std::abs(toStd(t.back())) < 1e-12));
        }
    }

    void invalidInputRefused()
    {
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

QTEST_APPLESS_MAIN(TestIirLowpass)
#include "tst_iirlowpass.moc"
