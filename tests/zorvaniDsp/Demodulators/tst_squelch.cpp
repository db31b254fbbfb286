#include "DspTestSupport.h"

#include "zorvaniDsp/Demodulators/CtcssDetector.h"
#include "zorvaniDsp/Demodulators/CtcssTones.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"

#include <QtTest>

using namespace dsptest;

class TestSquelch : public QObject {
    Q_OBJECT

private:
    // NFM audio as the receiver has it: a carrier frequency-modulated by a
    // 1 kHz "voice" tone (2.5 kHz deviation) plus a sub-audible tone (350 Hz
    // deviation), demodulated by the FM detector. toneHz 0: no sub-audible tone.
    static Signal nfmAudio(int n, double toneHz, FmDemodZorvani& fm, double noiseRms = 0.0)
    {
        Signal x(static_cast<size_t>(n));
        double phase = 0.0;
        const Signal hiss = gaussian(n, noiseRms, 99);
        for (int k = 0; k < n; ++k) {
            const double t = k / kFs;
            double f = 2500.0 * std::sin(2.0 * kPi * 1000.0 * t);
            if (toneHz > 0.0)
                f += 350.0 * std::sin(2.0 * kPi * toneHz * t);
            phase += 2.0 * kPi * f / kFs;
            x[k] = {std::cos(phase) + hiss[k].re, std::sin(phase) + hiss[k].im};
        }
        inBlocks(x, 200, [&](C* p, int c) { fm.process(p, c); });
        return x;
    }

private slots:
    void levelSquelch_data()
    {
        QTest::addColumn<bool>("fm");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("meter");
        QTest::addColumn<bool>("open");
        for (bool fm : {false, true}) {
            const char* kind = fm ? "FM" : "carrier";
            QTest::addRow("%s: -80 vs -90 mutes", kind) << fm << true << -80.0 << -90.0 << false;
            QTest::addRow("%s: -80 vs -85 mutes (-80 > -82)", kind) << fm << true << -80.0 << -85.0 << false;
            QTest::addRow("%s: -80 vs -82 passes", kind) << fm << true << -80.0 << -82.0 << true;
            QTest::addRow("%s: exactly meter + 3 passes", kind) << fm << true << -80.0 << -83.0 << true;
            QTest::addRow("%s: disabled passes", kind) << fm << false << -20.0 << -120.0 << true;
        }
    }

    // Open when the level is at most the meter + 3 dB: the block untouched;
    // closed: silence.
    void levelSquelch()
    {
        QFETCH(bool, fm);
        QFETCH(bool, enabled);
        QFETCH(double, level);
        QFETCH(double, meter);
        QFETCH(bool, open);
        Signal x = monoTone(200, 700.0, 0.3);
        const Signal original = x;
        auto run = [&](auto&& squelch) {
            squelch.setEnabled(enabled);
            squelch.setLevel(level);
            return squelch.process(x.data(), 200, meter) && squelch.isOpen() == open;
        };
        QVERIFY(fm ? run(FmSquelch()) : run(CarrierSquelch()));
        QVERIFY(open ? sameBits(x, original) : silent(x.data(), 200));
    }

    void detectorMeasuresTones_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("expected");
        QTest::newRow("67.0") << 67.0 << 0;
        QTest::newRow("100.0") << 100.0 << 12;
        QTest::newRow("206.5") << 206.5 << 33;
        QTest::newRow("254.1") << 254.1 << 41;
        QTest::newRow("100.8 within 1 Hz") << 100.8 << 12;
        QTest::newRow("101.5 none") << 101.5 << -1;
        QTest::newRow("60 none") << 60.0 << -1;
        // Falling crossings closer than the minimum spacing (130 samples)
        // count every second one: 520 Hz measures 260 Hz, no table tone;
        // 2 x 254.1 Hz measures its true period.
        QTest::newRow("520 none") << 520.0 << -1;
        QTest::newRow("2 x 254.1") << 508.2 << 41;
    }

    void detectorMeasuresTones()
    {
        QFETCH(double, hz);
        QFETCH(int, expected);
        CtcssDetector detector;
        std::vector<double> v(8000);
        for (size_t k = 0; k < v.size(); ++k)
            v[k] = std::sin(2.0 * kPi * hz * k / kFs + 0.3);
        detector.setTone(expected < 0 ? 12 : expected);
        detector.process(v.data(), 8000, 1);
        QCOMPARE(detector.lastDetection(), expected);
        QCOMPARE(detector.tonePresent(), expected >= 0);
    }

    void detectorNeedsConsecutiveMatches()
    {
        // The tone becomes present at the kConfirmations-th matching period,
        // i.e. one crossing to start and kConfirmations more.
        CtcssDetector detector;
        detector.setTone(12);
        const int period = static_cast<int>(kFs / 100.0); // 390.6 samples
        int openedAt = -1;
        for (int k = 0; k < 6 * period && openedAt < 0; ++k) {
            const double v = std::sin(2.0 * kPi * 100.0 * k / kFs + 2.0);
            detector.process(&v, 1, 1);
            if (detector.tonePresent())
                openedAt = k;
        }
        // First falling crossing near 0.18 periods, then one per period.
        QVERIFY2(openedAt > 3 * period && openedAt < 4 * period + 2, qPrintable(QString("opened at %1").arg(openedAt)));
    }

    void ctcssOpensOnlyForSelectedTone_data()
    {
        QTest::addColumn<double>("toneHz");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<double>("noise");
        QTest::addColumn<double>("meter");
        QTest::newRow("selected 100.0") << 100.0 << true << 0.0 << -60.0;
        QTest::newRow("selected 100.0, 20 dB carrier to noise") << 100.0 << true << 0.1 << -60.0;
        QTest::newRow("selected 100.0, signal under the level") << 100.0 << false << 0.0 << -110.0;
        QTest::newRow("neighbour 97.4") << 97.4 << false << 0.0 << -60.0;
        QTest::newRow("neighbour 103.5") << 103.5 << false << 0.0 << -60.0;
        QTest::newRow("neighbour 103.5, 20 dB carrier to noise") << 103.5 << false << 0.1 << -60.0;
        QTest::newRow("far 203.5") << 203.5 << false << 0.0 << -60.0;
        QTest::newRow("no tone") << 0.0 << false << 0.0 << -60.0;
        QTest::newRow("noise only") << 0.0 << false << 1.0 << -60.0;
    }

    void ctcssOpensOnlyForSelectedTone()
    {
        QFETCH(double, toneHz);
        QFETCH(bool, opens);
        QFETCH(double, noise);
        QFETCH(double, meter);
        FmDemodZorvani fm;
        Signal x = nfmAudio(40000, toneHz, fm, noise);
        FmSquelch squelch;
        squelch.setEnabled(true);
        squelch.setLevel(-100.0);
        squelch.setCtcssEnabled(true);
        squelch.setTone(12);
        const Signal original = x;
        int openBlocks = 0;
        for (int done = 0; done < 40000; done += 200) {
            QVERIFY(squelch.process(x.data() + done, 200, meter));
            if (squelch.isOpen()) {
                ++openBlocks;
                QVERIFY2(std::equal(x.begin() + done, x.begin() + done + 200, original.begin() + done,
                                    [](const C& a, const C& b) { return a.re == b.re && a.im == b.im; }),
                         "open block changed");
            } else {
                QVERIFY2(silent(x.data() + done, 200), "closed block not silent");
            }
        }
        if (opens)
            QVERIFY2(squelch.isOpen() && openBlocks > 150, qPrintable(QString("open blocks %1").arg(openBlocks)));
        else
            QVERIFY2(openBlocks == 0, qPrintable(QString("open blocks %1").arg(openBlocks)));
    }

    void ctcssClosesWhenToneGoes()
    {
        FmDemodZorvani fm;
        Signal withTone = nfmAudio(30000, 100.0, fm);
        Signal without = nfmAudio(20000, 0.0, fm);
        FmSquelch squelch;
        squelch.setCtcssEnabled(true);
        squelch.setTone(12);
        squelch.setTone(42); // no such tone: kept
        squelch.setTone(-1);
        QCOMPARE(squelch.tone(), 12);
        for (int done = 0; done < 30000; done += 200)
            QVERIFY(squelch.process(withTone.data() + done, 200, -60.0));
        QVERIFY2(squelch.isOpen(), "did not open on the selected tone");
        int closedAfter = -1;
        for (int done = 0; done < 20000 && closedAfter < 0; done += 200) {
            QVERIFY(squelch.process(without.data() + done, 200, -60.0));
            if (!squelch.isOpen())
                closedAfter = done + 200;
        }
        // fs / 6 samples of missing tone, after the 500-tap band-pass has
        // emptied its tail (500 samples), counted per 200-sample block.
        const int bound = static_cast<int>(kFs / 6.0) + 500 + 2 * 200;
        QVERIFY2(closedAfter > static_cast<int>(kFs / 6.0) && closedAfter <= bound,
                 qPrintable(QString("closed after %1 samples, bound %2").arg(closedAfter).arg(bound)));
    }
};

QTEST_APPLESS_MAIN(TestSquelch)
#include "tst_squelch.moc"
