#include "DspTestSupport.h"

#include "zorvaniDsp/Filters/SurrounfCW.h"

#include <QtTest>

using namespace dsptest;

namespace {

// Left over right power (dB) of the stage's answer to the complex audio tone
// exp(j 2 pi hz t), as the CW channel filter delivers it.
double leftOverRight(SurrounfCW& stage, double hz)
{
    Signal x = toneHz(20000, hz, 0.5);
    inBlocks(x, 200, [&](C* p, int n) { QVERIFY(stage.process(p, n)); });
    return db(rms(x, 10000, 10000, 0) / rms(x, 10000, 10000, 1));
}

} // namespace

class TestBinauralCw : public QObject {
    Q_OBJECT

private slots:
    void ears_data()
    {
        QTest::addColumn<int>("taps");
        QTest::addColumn<bool>("swap");
        QTest::addColumn<double>("minimumDb");
        // 140 taps leave a transition of about 1 kHz, so 500 and 900 Hz only
        // lean to their sides; 500 taps separate them cleanly.
        QTest::newRow("140 taps") << 140 << false << 6.0;
        QTest::newRow("140 taps, swapped") << 140 << true << 6.0;
        QTest::newRow("500 taps") << 500 << false << 30.0;
        QTest::newRow("500 taps, swapped") << 500 << true << 30.0;
    }

    void ears()
    {
        QFETCH(int, taps);
        QFETCH(bool, swap);
        QFETCH(double, minimumDb);
        SurrounfCW stage;
        stage.setEnabled(true);
        stage.setTaps(taps);
        stage.setSwap(swap);
        const double below = leftOverRight(stage, 500.0);
        stage.reset();
        const double above = leftOverRight(stage, 900.0);
        const double sign = swap ? -1.0 : 1.0;
        // Without swap: below the pitch on the right, above it on the left.
        QVERIFY2(-sign * below >= minimumDb, qPrintable(QString("500 Hz: left/right %1 dB").arg(below)));
        QVERIFY2(sign * above >= minimumDb, qPrintable(QString("900 Hz: left/right %1 dB").arg(above)));
    }

    void pitchMovesTheSplit()
    {
        SurrounfCW stage;
        stage.setEnabled(true);
        stage.setTaps(500);
        stage.setPitch(1200.0);
        // 900 Hz is now below the pitch: right.
        QVERIFY(leftOverRight(stage, 900.0) <= -30.0);
    }

    // Off by default: the block passes; a bad block or tap count is refused.
    void disabledPassesAndInvalidInput()
    {
        SurrounfCW stage;
        Signal x = toneHz(400, 500.0, 0.5);
        const Signal input = x;
        QVERIFY(stage.process(x.data(), 400));
        QVERIFY(sameBits(x, input));
        QTest::ignoreMessage(QtWarningMsg, "void __cdecl SurrounfCW::process(class Ostrovix::complex<double> *,int)"
                                           "): Incorrect input parameters!");
        QVERIFY(!stage.process(nullptr, 200));
        stage.setTaps(0);
        QCOMPARE(stage.taps(), 140);
    }

};

QTEST_APPLESS_MAIN(TestBinauralCw)
#include "tst_binauralcw.moc"
