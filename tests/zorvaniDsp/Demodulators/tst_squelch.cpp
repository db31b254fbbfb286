#include "DspTestSupport.h"
#include "zorvaniDsp/Demodulators/CtcssDetector.h"
#include "zorvaniDsp/Demodulators/CtcssTones.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// NFM audio as the receiver has it: a carrier frequency-modulated by a 1 kHz
// "voice" tone (2.5 kHz deviation) plus a sub-audible tone (350 Hz
// deviation), demodulated by the FM detector. toneHz 0: no sub-audible tone.
Signal nfmAudio(int n, double toneHz, FmDemodZorvani& fm, double noiseRms = 0.0)
{
    Signal x(static_cast<size_t>(n));
    const Signal hiss = gaussian(n, noiseRms, 99);
    double phase = 0.0;
    for (int k = 0; k < n; ++k) {
        phase += 2.0 * kPi / kFs * (2500.0 * std::sin(2.0 * kPi * 1000.0 * k / kFs) + 350.0 * std::sin(2.0 * kPi * toneHz * k / kFs));
        x[k] = {std::cos(phase) + hiss[k].re, std::sin(phase) + hiss[k].im};
    }
    inBlocks(x, 200, [&](C* p, int c) { fm.process(p, c); });
    return x;
}

// An FM squelch on tone 12 (100.0 Hz) with the level far down.
void ctcssOn(FmSquelch& squelch)
{
    squelch.setEnabled(true);
    squelch.setLevel(-100.0);
    squelch.setCtcssEnabled(true);
    squelch.setTone(12);
}

} // namespace

class TestSquelch : public QObject {
    Q_OBJECT

private slots:
    // Open when the level is at most the meter + 3 dB: the block untouched;
    // closed: silence. Disabled, always open.
    void levelSquelch()
    {
        const double rows[][4] = {{1, -80.0, -90.0, 0}, {1, -80.0, -85.0, 0}, {1, -80.0, -82.0, 1}, {1, -80.0, -83.0, 1}, {0, -20.0, -120.0, 1}};
        for (bool fm : {false, true})
            for (const auto& r : rows) { // enabled, level, meter, open
                Signal x = monoTone(200, 700.0, 0.3);
                const Signal original = x;
                auto run = [&](auto&& squelch) {
                    squelch.setEnabled(r[0] != 0);
                    squelch.setLevel(r[1]);
                    return squelch.process(x.data(), 200, r[2]) && squelch.isOpen() == bool(r[3]);
                };
                QVERIFY2((fm ? run(FmSquelch()) : run(CarrierSquelch())) && (r[3] ? sameBits(x, original) : silent(x.data(), 200)),
                         qPrintable(QString("%1: level %2, meter %3").arg(fm ? "FM" : "carrier").arg(r[1]).arg(r[2])));
            }
    }

    // The detector names the table tone within 1 Hz. Falling crossings closer
    // than the minimum spacing (130 samples) count every second one: 520 Hz
    // measures 260 Hz, no table tone; 2 x 254.1 Hz measures its true period.
    void detectorMeasuresTones()
    {
        const double rows[][2] = {{67.0, 0}, {100.0, 12}, {206.5, 33}, {254.1, 41}, {100.8, 12}, {101.5, -1}, {60.0, -1}, {520.0, -1}, {508.2, 41}};
        for (const auto& r : rows) {
            const int expected = int(r[1]);
            CtcssDetector detector;
            std::vector<double> v(8000);
            for (size_t k = 0; k < v.size(); ++k)
                v[k] = std::sin(2.0 * kPi * r[0] * k / kFs + 0.3);
            detector.setTone(expected < 0 ? 12 : expected);
            detector.process(v.data(), 8000, 1);
            QVERIFY2(detector.lastDetection() == expected && detector.tonePresent() == (expected >= 0),
                     qPrintable(QString("%1 Hz: %2").arg(r[0]).arg(detector.lastDetection())));
        }
        // The tone becomes present at the kConfirmations-th matching period,
        // i.e. one crossing to start and kConfirmations more; the first
        // falling crossing comes near 0.18 periods, then one per period.
        CtcssDetector detector;
        detector.setTone(12);
        const int period = static_cast<int>(kFs / 100.0); // 390.6 samples
        int openedAt = -1;
        for (int k = 0; k < 6 * period && openedAt < 0; ++k) {
            const double v = std::sin(2.0 * kPi * 100.0 * k / kFs + 2.0);
            detector.process(&v, 1, 1);
            openedAt = detector.tonePresent() ? k : -1;
        }
        QVERIFY2(openedAt > 3 * period && openedAt < 4 * period + 2, qPrintable(QString("opened at %1").arg(openedAt)));
    }

    // Only the selected tone opens, with noise too, and only above the level;
    // an open block passes untouched, a closed one is silent.
    void ctcssOpensOnlyForSelectedTone()
    {
        const double rows[][4] = {{100.0, 1, 0.0, -60.0}, {100.0, 1, 0.1, -60.0}, {100.0, 0, 0.0, -110.0}, {97.4, 0, 0.0, -60.0},
                                  {103.5, 0, 0.0, -60.0}, {103.5, 0, 0.1, -60.0}, {203.5, 0, 0.0, -60.0}, {0.0, 0, 0.0, -60.0}, {0.0, 0, 1.0, -60.0}};
        for (const auto& r : rows) { // tone, opens, noise, meter
            FmDemodZorvani fm;
            Signal x = nfmAudio(40000, r[0], fm, r[2]);
            const Signal original = x;
            FmSquelch squelch;
            ctcssOn(squelch);
            int openBlocks = 0;
            for (int done = 0; done < 40000; done += 200) {
                QVERIFY(squelch.process(x.data() + done, 200, r[3]));
                openBlocks += squelch.isOpen();
                QVERIFY2(squelch.isOpen() ? std::memcmp(x.data() + done, original.data() + done, 200 * sizeof(C)) == 0 : silent(x.data() + done, 200),
                         squelch.isOpen() ? "open block changed" : "closed block not silent");
            }
            QVERIFY2(r[1] ? squelch.isOpen() && openBlocks > 150 : openBlocks == 0,
                     qPrintable(QString("%1 Hz, noise %2, meter %3: open blocks %4").arg(r[0]).arg(r[2]).arg(r[3]).arg(openBlocks)));
        }
    }

    // An unknown tone is not taken. The squelch closes fs / 6 samples after
    // the tone goes, once the 500-tap band-pass has emptied its tail (500
    // samples), counted per 200-sample block.
    void ctcssClosesWhenToneGoes()
    {
        FmDemodZorvani fm;
        Signal withTone = nfmAudio(30000, 100.0, fm), without = nfmAudio(20000, 0.0, fm);
        FmSquelch squelch;
        ctcssOn(squelch);
        squelch.setTone(42);
        squelch.setTone(-1);
        QCOMPARE(squelch.tone(), 12);
        for (int done = 0; done < 30000; done += 200)
            QVERIFY(squelch.process(withTone.data() + done, 200, -60.0));
        QVERIFY2(squelch.isOpen(), "did not open on the selected tone");
        int closedAfter = -1;
        for (int done = 0; done < 20000 && closedAfter < 0; done += 200) {
            QVERIFY(squelch.process(without.data() + done, 200, -60.0));
            closedAfter = squelch.isOpen() ? -1 : done + 200;
        }
        const int bound = static_cast<int>(kFs / 6.0) + 500 + 2 * 200;
        QVERIFY2(closedAfter > static_cast<int>(kFs / 6.0) && closedAfter <= bound,
                 qPrintable(QString("closed after %1 samples, bound %2").arg(closedAfter).arg(bound)));
    }
};

QTEST_APPLESS_MAIN(TestSquelch)
#include "tst_squelch.moc"
