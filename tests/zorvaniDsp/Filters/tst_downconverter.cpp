#include "DspTestSupport.h"
#include "vector/Nco.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"

#include <QtTest>

using namespace dsptest;

class TestDownConverter : public QObject {
    Q_OBJECT
private slots:
    // An IF offset of +1000 Hz: the +1000 Hz tone lands at 0 Hz as a constant.
    void toneLandsAtZero()
    {
        DownConverterZorvani dc;
        dc.setFrequency(-1000.0 / kFs);
        QCOMPARE(dc.frequency(), -0.0256); // runs at 1 - 0.0256 = 0.9744 cycles per sample
        Signal x = toneHz(3125, 1000.0, 0.5, 0.3); // 80 whole cycles
        QVERIFY(dc.process(x.data(), int(x.size())));
        QVERIFY2(maxDifference(x, Signal(3125, C{0.5 * std::cos(0.3), 0.5 * std::sin(0.3)})) < 1e-9,
                 "output is not a constant at 0 Hz");
    }

    // The oscillator stays within rounding of exp(j2π·rel·k) over a long run,
    // whatever the cut of the stream; a new frequency continues from the
    // current phase; reset starts from phase 0.
    void oscillatorAgainstExactTone_data()
    {
        QTest::addColumn<double>("rel");
        QTest::newRow("0.9744") << 0.9744;
        QTest::newRow("0.5") << 0.5;
        QTest::newRow("1e-4") << 1e-4;
        QTest::newRow("0.318309886") << 0.318309886;
    }

    void oscillatorAgainstExactTone()
    {
        QFETCH(double, rel);
        const int n = 100000;
        ox::vec::Nco<double> nco, cut;
        nco.setFrequency(rel);
        cut.setFrequency(rel);
        Signal whole(n), pieces(n);
        nco.generate(whole.data(), n);
        QVERIFY2(maxDifference(whole, tone(n, rel)) < 1e-9, qPrintable(QString::number(maxDifference(whole, tone(n, rel)))));
        std::mt19937 gen(3);
        for (int done = 0, len = 0; done < n; done += len) {
            len = std::min(int(gen() % 500) + 1, n - done);
            cut.generate(pieces.data() + done, len);
        }
        QVERIFY2(sameBits(whole, pieces), "cut stream differs");
        QCOMPARE(cut.phase(), nco.phase());

        const double phase = nco.phase();
        nco.setFrequency(0.2);
        Signal b(100);
        nco.generate(b.data(), 100);
        QVERIFY(maxDifference(b, tone(100, 0.2, 1.0, phase)) < 1e-9);
        nco.reset();
        nco.generate(b.data(), 100);
        QVERIFY(maxDifference(b, tone(100, 0.2)) < 1e-12);
    }

    void limits_data()
    {
        QTest::addColumn<double>("set");
        QTest::addColumn<double>("stored");
        QTest::addColumn<double>("cycles"); // frequency the oscillator runs at
        QTest::newRow("+0.5 accepted") << 0.5 << 0.5 << 0.5;
        QTest::newRow("-0.5 accepted, wraps to 0.5") << -0.5 << -0.5 << 0.5;
        QTest::newRow("0.7 limited") << 0.7 << 0.5 << 0.5;
        QTest::newRow("-3 limited") << -3.0 << -0.5 << 0.5;
        QTest::newRow("0.1") << 0.1 << 0.1 << 0.1;
        QTest::newRow("NaN ignored as 0") << std::nan("") << 0.0 << 0.0;
    }

    void limits()
    {
        QFETCH(double, set);
        QFETCH(double, stored);
        QFETCH(double, cycles);
        DownConverterZorvani dc;
        dc.setFrequency(set);
        QCOMPARE(dc.frequency(), stored);
        dc.setRit(set);
        QCOMPARE(dc.rit(), stored);
        dc.setRit(0.0);
        Signal x(64, C{1.0, 0.0});
        QVERIFY(dc.process(x.data(), 64));
        QVERIFY(maxDifference(x, tone(64, cycles)) < 1e-9);
    }

    // Main term + RIT: a tone at IF + RIT moves to 0; the sum is limited too.
    // (Each channel has its own: tst_enginechain.)
    void rit()
    {
        DownConverterZorvani dc, sum;
        dc.setFrequency(-1000.0 / kFs);
        dc.setRit(-250.0 / kFs);
        Signal x = toneHz(2000, 1250.0);
        QVERIFY(dc.process(x.data(), 2000));
        QVERIFY(std::abs(std::abs(dft(x.data(), 2000, 0.0)) - 1.0) < 1e-9);
        sum.setFrequency(0.4);
        sum.setRit(0.3); // 0.7 is limited to 0.5
        Signal y(32, C{1.0, 0.0});
        QVERIFY(sum.process(y.data(), 32));
        QVERIFY(maxDifference(y, tone(32, 0.5)) < 1e-9);
    }

    // The refusal names the function as the log readers expect.
    void refusalMessage()
    {
        DownConverterZorvani dc;
        MessageCapture capture;
        QVERIFY(!dc.process(nullptr, 200));
        QCOMPARE(dc.phase(), 0.0);
        QCOMPARE(capture.all().size(), 1);
        const QString text = capture.all().first();
        QVERIFY2(QRegularExpression("^bool __cdecl DownConverterZorvani::process\\(class Ostrovix::complex<double> "
                                    "\\*,int\\)\\d+ Incorrect input parameters$")
                     .match(text)
                     .hasMatch(),
                 qPrintable(text));
    }
};

QTEST_APPLESS_MAIN(TestDownConverter)
#include "tst_downconverter.moc"
