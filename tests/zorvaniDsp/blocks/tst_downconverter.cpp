#include "BlockTestSupport.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"

#include <QtTest>

using namespace blocktest;

class TestDownConverter : public QObject {
    Q_OBJECT
private slots:
    // An IF offset of +1000 Hz at 39062.5 Hz: the +1000 Hz tone lands at 0 Hz.
    void toneLandsAtZero()
    {
        const double fs = 39062.5;
        DownConverterZorvani dc;
        dc.setFrequency(-1000.0 / fs);
        Signal x = tone(3125, 1000.0 / fs, 0.5, 0.3);  // 80 whole cycles
        QVERIFY(dc.process(x.data(), int(x.size())));
        for (const C& c : x) {
            QVERIFY2(std::abs(toStd(c) - std::polar(0.5, 0.3)) < 1e-9, "output is not a constant at 0 Hz");
        }
        QVERIFY(std::abs(std::abs(dft(x.data(), 3125, 0.0)) - 0.5) < 1e-9);
        QVERIFY(std::abs(dft(x.data(), 3125, 1000.0 / fs)) < 1e-9);
    }

    // -1000/39062.5 wraps to 1 - 0.0256 = 0.9744 cycles per sample.
    void negativeTermWrapsIntoUnitInterval()
    {
        DownConverterZorvani dc;
        dc.setFrequency(-1000.0 / 39062.5);
        QCOMPARE(dc.frequency(), -0.0256);
        Signal x(400, C{1.0, 0.0});
        QVERIFY(dc.process(x.data(), 400));
        QVERIFY2(maxDifference(x, tone(400, 0.9744)) < 1e-9, "oscillator is not exp(j2π·0.9744k)");
    }

    void limits_data()
    {
        QTest::addColumn<double>("set");
        QTest::addColumn<double>("stored");
        QTest::addColumn<double>("cycles");  // frequency the oscillator runs at
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
    void ritAddsToMainTerm()
    {
        const double fs = 39062.5;
        DownConverterZorvani dc;
        dc.setFrequency(-1000.0 / fs);
        dc.setRit(-250.0 / fs);
        Signal x = tone(2000, 1250.0 / fs);
        QVERIFY(dc.process(x.data(), 2000));
        QVERIFY(std::abs(std::abs(dft(x.data(), 2000, 0.0)) - 1.0) < 1e-9);

        DownConverterZorvani sum;
        sum.setFrequency(0.4);
        sum.setRit(0.3);  // 0.7 is limited to 0.5
        Signal y(32, C{1.0, 0.0});
        QVERIFY(sum.process(y.data(), 32));
        QVERIFY(maxDifference(y, tone(32, 0.5)) < 1e-9);
    }

    // Each channel has its own shifter: RIT on channel 1 leaves channel 0 alone.
    void ritOfOneChannelLeavesTheOther()
    {
        const double fs = 39062.5;
        DownConverterZorvani channel0, channel1, reference;
        for (auto* dc : {&channel0, &channel1, &reference})
            dc->setFrequency(-3000.0 / fs);
        channel1.setRit(-500.0 / fs);
        const Signal input = noise(800, 7);
        Signal a = input, b = input, r = input;
        QVERIFY(channel0.process(a.data(), 800));
        QVERIFY(channel1.process(b.data(), 800));
        QVERIFY(reference.process(r.data(), 800));
        QVERIFY(sameBits(a, r));
        QCOMPARE(channel0.rit(), 0.0);
        QVERIFY(maxDifference(b, r) > 0.1);
    }

    void continuity_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("maxBlock");
        QTest::newRow("200 + 200") << 200 << 16384;
        QTest::newRow("1 + 399") << 1 << 16384;
        QTest::newRow("pieces of 64") << 200 << 64;
    }

    // Blocks join without a phase step: two blocks give exactly one block's output.
    void continuity()
    {
        QFETCH(int, first);
        QFETCH(int, maxBlock);
        DownConverterZorvani whole, split(maxBlock);
        for (auto* dc : {&whole, &split}) {
            dc->setFrequency(0.3183);
            dc->setRit(-0.01);
        }
        const Signal input = noise(400, 3);
        Signal a = input, b = input;
        QVERIFY(whole.process(a.data(), 400));
        QVERIFY(split.process(b.data(), first));
        QVERIFY(split.process(b.data() + first, 400 - first));
        QVERIFY2(sameBits(a, b), "split blocks differ from one block");
        QCOMPARE(split.phase(), whole.phase());
    }

    void resetRestartsThePhase()
    {
        DownConverterZorvani dc;
        dc.setFrequency(0.2);
        Signal a = noise(300, 4), b = a;
        QVERIFY(dc.process(a.data(), 300));
        dc.reset();
        QVERIFY(dc.process(b.data(), 300));
        QVERIFY(sameBits(a, b));
    }

    void invalidInputRefused_data()
    {
        QTest::addColumn<bool>("nullPointer");
        QTest::addColumn<int>("count");
        QTest::newRow("null") << true << 200;
        QTest::newRow("count 0") << false << 0;
        QTest::newRow("count -5") << false << -5;
    }

    void invalidInputRefused()
    {
        QFETCH(bool, nullPointer);
        QFETCH(int, count);
        DownConverterZorvani dc;
        dc.setFrequency(0.1);
        Signal x = noise(200, 5), before = x;
        MessageCapture capture;
        QVERIFY(!dc.process(nullPointer ? nullptr : x.data(), count));
        QVERIFY(sameBits(x, before));
        QCOMPARE(dc.phase(), 0.0);
        QCOMPARE(capture.all().size(), 1);
        const QString text = capture.all().first();
        QVERIFY2(text.startsWith(
                     "bool __cdecl DownConverterZorvani::process(class Ostrovix::complex<double> *,int)"),
                 qPrintable(text));
        QVERIFY2(text.endsWith(" Incorrect input parameters"), qPrintable(text));
        QVERIFY2(QRegularExpression("int\\)\\d+ Incorrect").match(text).hasMatch(), qPrintable(text));
    }
};

QTEST_APPLESS_MAIN(TestDownConverter)
#include "tst_downconverter.moc"
