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

double butterworthDb(double ratio, int order)
{
    return -10.0 * std::log10(1.0 + std::pow(ratio, 2.0 * order));
}

} // namespace

class TestIirLowpass : public QObject {
    Q_OBJECT
private slots:
    // The prewarped design puts -3 dB exactly at fc and follows the
    // Butterworth magnitude on the warped axis tan(πf)/tan(πfc): at a small
    // cut-off, and at the receiver's (312500 Hz in, 39062.5 Hz working rate).
    void butterworthMagnitude_data()
    {
        QTest::addColumn<double>("fc");
        QTest::addColumn<double>("ratio");
        const double receiver = (39062.5 / 2 - 2000.0) / 312500.0;
        for (double ratio : {0.7, 1.0, 1.2})
            QTest::addRow("0.01, %g fc", ratio) << 0.01 << ratio;
        for (double ratio : {0.5, 0.95, 1.0, 1.1, 1.3})
            QTest::addRow("receiver, %g fc", ratio) << receiver << ratio;
    }

    void butterworthMagnitude()
    {
        QFETCH(double, fc);
        QFETCH(double, ratio);
        IirLowpassZorvani f;
        QVERIFY(f.init(fc, 11));
        const double warped = std::tan(kPi * ratio * fc) / std::tan(kPi * fc);
        const double measured = gainDb(f, ratio * fc);
        const double expected = butterworthDb(warped, 11);
        QVERIFY2(std::abs(measured - expected) < 0.01,
                 qPrintable(QString("%1 dB, expected %2 dB").arg(measured).arg(expected)));
        if (ratio == 1.0)
            QVERIFY(std::abs(measured + 3.0103) < 0.01);
    }

    void dcGainAndOddOrders_data()
    {
        QTest::addColumn<int>("order");
        QTest::newRow("1") << 1;
        QTest::newRow("2") << 2;
        QTest::newRow("4") << 4;
        QTest::newRow("11") << 11;
    }

    void dcGainAndOddOrders()
    {
        QFETCH(int, order);
        IirLowpassZorvani f;
        QVERIFY(f.init(0.05, order));
        QCOMPARE(f.order(), order);
        Signal x(20000, C{0.25, -0.5});
        QVERIFY(f.process(x.data(), 20000));
        QVERIFY(std::abs(x.back().re - 0.25) < 1e-9);
        QVERIFY(std::abs(x.back().im + 0.5) < 1e-9);
        QVERIFY(std::abs(gainDb(f, 0.05) + 3.0103) < 0.01);
    }

    void cutoffLimits_data()
    {
        QTest::addColumn<double>("set");
        QTest::addColumn<double>("used");
        QTest::newRow("0") << 0.0 << 1e-7;
        QTest::newRow("-0.1") << -0.1 << 1e-7;
        QTest::newRow("0.5") << 0.5 << 0.4999999;
        QTest::newRow("0.8") << 0.8 << 0.4999999;
        QTest::newRow("0.2") << 0.2 << 0.2;
    }

    void cutoffLimits()
    {
        QFETCH(double, set);
        QFETCH(double, used);
        IirLowpassZorvani f;
        QVERIFY(f.init(set, 11));
        QCOMPARE(f.cutoff(), used);
        Signal x = noise(5000, 2);
        QVERIFY(f.process(x.data(), 5000));
        for (const C& c : x)
            QVERIFY2(std::isfinite(c.re) && std::isfinite(c.im), "unstable filter");
        if (used == 1e-7) {
            // Essentially nothing passes at 0.01 cycles per sample.
            Signal t = tone(5000, 0.01);
            f.reset();
            QVERIFY(f.process(t.data(), 5000));
            QVERIFY(std::abs(toStd(t.back())) < 1e-12);
        }
    }

    void invalidInputRefused()
    {
        IirLowpassZorvani f;
        Signal x = noise(10, 1), before = x;
        MessageCapture capture;
        QVERIFY(!f.process(x.data(), 10));  // not designed yet
        QVERIFY(f.init(0.1, 4));
        QVERIFY(!f.init(0.1, 0));
        QVERIFY(!f.init(0.1, IirLowpassZorvani::kMaxOrder + 1));
        QVERIFY(!f.init(std::nan(""), 4));
        QVERIFY(!f.process(nullptr, 10));
        QVERIFY(!f.process(x.data(), 0));
        QVERIFY(sameBits(x, before));
        QCOMPARE(f.order(), 4);
        QCOMPARE(capture.all().size(), 6);
        QVERIFY2(QRegularExpression("^source/zorvaniDsp/Filters/IirLowpassZorvani:\\d+ : code: -?\\d+ , text: .+$")
                     .match(capture.all().first())
                     .hasMatch(),
                 qPrintable(capture.all().first()));
    }
};

QTEST_APPLESS_MAIN(TestIirLowpass)
#include "tst_iirlowpass.moc"
