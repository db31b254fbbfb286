#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"

#include <QtTest>

using namespace dsptest;

namespace {

// Left over right power (dB) of the stage's answer to the complex audio tone
// exp(j 2 pi hz t), as the CW channel filter delivers it.
double leftOverRight(SurrounfCW& stage, double hz)
{
    stage.reset();
    Signal x = toneHz(20000, hz, 0.5);
    inBlocks(x, 200, [&](C* p, int n) { QVERIFY(stage.process(p, n)); });
    return db(rms(x, 10000, 10000, 0) / rms(x, 10000, 10000, 1));
}

} // namespace

class TestBinauralCw : public QObject {
    Q_OBJECT

private slots:
    // Without swap: below the pitch (700 Hz) on the right, above it on the
    // left. 140 taps leave a transition of about 1 kHz, so 500 and 900 Hz
    // only lean to their sides (6 dB); 500 taps separate them cleanly (30 dB).
    // A new pitch moves the split.
    void ears()
    {
        for (int taps : {140, 500})
            for (bool swap : {false, true}) {
                SurrounfCW stage;
                stage.setEnabled(true);
                stage.setTaps(taps);
                stage.setSwap(swap);
                const double below = leftOverRight(stage, 500.0), above = leftOverRight(stage, 900.0);
                const double sign = swap ? -1.0 : 1.0, minimum = taps == 140 ? 6.0 : 30.0;
                QVERIFY2(-sign * below >= minimum && sign * above >= minimum,
                         qPrintable(QString("%1 taps, swap %2: left/right %3 dB at 500 Hz, %4 dB at 900 Hz").arg(taps).arg(swap).arg(below).arg(above)));
                stage.setPitch(1200.0);
                QVERIFY(swap || taps == 140 || leftOverRight(stage, 900.0) <= -30.0);
            }
    }

    // Off by default: the block passes; a bad block or tap count is refused.
    void disabledPassesAndInvalidInput()
    {
        SurrounfCW stage;
        Signal x = toneHz(400, 500.0, 0.5);
        const Signal input = x;
        QVERIFY(stage.process(x.data(), 400) && sameBits(x, input));
        QTest::ignoreMessage(QtWarningMsg, "void __cdecl SurrounfCW::process(class Ostrovix::complex<double> *,int)"
                                           "): Incorrect input parameters!");
        QVERIFY(!stage.process(nullptr, 200));
        stage.setTaps(0);
        QCOMPARE(stage.taps(), 140);
    }
};

QTEST_APPLESS_MAIN(TestBinauralCw)
#include "tst_binauralcw.moc"
