#include "DspTestSupport.h"
#include "zorvaniDsp/EqualizerZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// Nearest frequency to f with a whole number of periods in `window` samples,
// so the test's DFT sees no leakage.
double onBin(double f, int window) { return std::round(f * window / kFs) * kFs / window; }

QList<int> zeros(int n) { return QVector<int>(n, 0).toList(); }

} // namespace

class TestEqualizer : public QObject {
    Q_OBJECT
private slots:
    // Off, the block passes untouched whatever the gains. On with every gain
    // at 0 dB (a short list leaves the rest at 0 dB) the band responses sum
    // to one: a pure delay of kLatency samples, within FFT round-off. Gains
    // beyond the limits act as the limits.
    void offFlatAndClamped()
    {
        EqualizerZorvani eq, a, b;
        eq.setGains(zeros(20) + QList<int>{12});
        const Signal x = noise(5000, 2, 0.5);
        Signal y = x;
        QVERIFY(!eq.isEnabled() && eq.process(y.data(), int(y.size())) && sameBits(x, y));
        eq.setGains(QList<int>{0, 0, 0});
        eq.setEnabled(true);
        QVERIFY(eq.process(y.data(), int(y.size())));
        Signal expected(size_t(EqualizerZorvani::kLatency), C{0.0, 0.0});
        expected.insert(expected.end(), x.begin(), x.end() - EqualizerZorvani::kLatency);
        QVERIFY2(maxDifference(y, expected) < 1e-12, qPrintable(QString("largest deviation %1").arg(maxDifference(y, expected))));

        a.setGains(QList<int>{100, -100} + zeros(40));
        b.setGains(QList<int>{int(EqualizerZorvani::kMaxGainDb), int(EqualizerZorvani::kMinGainDb)});
        a.setEnabled(true);
        b.setEnabled(true);
        Signal ya = noise(2500, 5, 0.5), yb = ya;
        QVERIFY(a.process(ya.data(), 2500) && b.process(yb.data(), 2500) && sameBits(ya, yb));
    }

    // A tone at the centre of the changed band (in re) moves by the band's gain; a
    // tone at a far band's centre (in im) stays where it was. Tolerances: per row
    // for the changed band (the 2047-tap filter smooths the response over about
    // 20 Hz, which matters where bands are about 70 Hz apart), 0.05 dB for the far
    // one.
    void oneBandRaisesOnlyItsTones()
    {
        // Changed band, its gain, a far band, the tolerance for the changed one.
        const struct {
            int band, gainDb, farBand;
            double toleranceDb;
        } rows[] = {{3, 12, 20, 0.7}, {14, 12, 2, 0.2}, {28, 12, 8, 0.1}, {30, -12, 12, 0.1}};
        for (const auto& [band, gainDb, farBand, toleranceDb] : rows) {
            EqualizerZorvani eq;
            eq.setGains(zeros(band) + QList<int>{gainDb});
            eq.setEnabled(true);
            const int window = 16384;
            const int total = EqualizerZorvani::kLatency + EqualizerZorvani::kTaps + window;
            const double f1 = onBin(eq.bandCentre(band), window);
            const double f2 = onBin(eq.bandCentre(farBand), window);
            std::vector<C> x(total);
            for (int n = 0; n < total; ++n)
                x[n] = {0.25 * std::cos(2.0 * kPi * f1 * n / kFs), 0.25 * std::cos(2.0 * kPi * f2 * n / kFs)};
            for (int start = 0; start < total; start += 200)
                QVERIFY(eq.process(x.data() + start, std::min(200, total - start)));
            const int start = total - window;
            const double changed = db(realAmplitude(x, start, window, f1, 0) / 0.25);
            const double far = db(realAmplitude(x, start, window, f2, 1) / 0.25);
            const double leak = realAmplitude(x, start, window, f1, 1);
            const QString text = QString("band %1: tone at %2 Hz changed by %3 dB, at %4 Hz by %5 dB, leak %6").arg(band).arg(f1).arg(changed).arg(f2).arg(far).arg(leak);
            // re and im are filtered separately: nothing of re appears in im.
            QVERIFY2(std::abs(changed - gainDb) < toleranceDb && std::abs(far) < 0.05 && leak < 1e-9, qPrintable(text));
        }
    }
};

QTEST_GUILESS_MAIN(TestEqualizer)
#include "tst_equalizer.moc"
