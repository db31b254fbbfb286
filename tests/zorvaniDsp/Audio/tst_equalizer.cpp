#include "AllocationCounter.h"
#include "zorvaniDsp/EqualizerZorvani.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <complex>
#include <random>
#include <vector>

using Frame = Ostrovix::complex<double>;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFs = 39062.5;

std::vector<Frame> noise(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<Frame> x(n);
    for (Frame& f : x)
        f = {u(rng), u(rng)};
    return x;
}

// Nearest frequency to f with a whole number of periods in `window` samples,
// so the test's DFT sees no leakage.
double onBin(double f, int window) { return std::round(f * window / kFs) * kFs / window; }

// Amplitude of the cosine of frequency f in x[start .. start + window), by a
// single DFT term written out here.
double amplitude(const std::vector<double>& x, int start, int window, double f)
{
    std::complex<double> acc = 0.0;
    for (int n = 0; n < window; ++n)
        acc += x[start + n] * std::polar(1.0, -2.0 * kPi * f * n / kFs);
    return 2.0 * std::abs(acc) / window;
}

QList<int> zeros(int n)
{
    QList<int> list;
    for (int i = 0; i < n; ++i)
        list << 0;
    return list;
}

QList<int> flatGains() { return zeros(EqualizerZorvani::kBands); }

} // namespace

class TestEqualizer : public QObject {
    Q_OBJECT
private slots:
    void disabledPassesUnchanged();
    void flatGainsAreADelay();
    void oneBandRaisesOnlyItsTones_data();
    void oneBandRaisesOnlyItsTones();
    void splitBlocksEqualOneBlock();
    void gainsAreClampedAndPadded();
    void bandCentresAndRate();
    void processDoesNotAllocate();
};

void TestEqualizer::disabledPassesUnchanged()
{
    EqualizerZorvani eq;
    QVERIFY(!eq.isEnabled());
    QList<int> gains = flatGains();
    gains[20] = 12;
    eq.setGains(gains);
    const auto x = noise(1000, 1);
    auto y = x;
    QVERIFY(eq.process(y.data(), int(y.size())));
    QVERIFY(std::memcmp(x.data(), y.data(), x.size() * sizeof(Frame)) == 0);
    QVERIFY(!eq.process(nullptr, 10));
}

// The band responses sum to one, so with every gain at 0 dB the equalizer is
// a pure delay of kLatency samples. Tolerance 1e-12: FFT round-off on values
// of size 0.5 is of the order of 1e-15.
void TestEqualizer::flatGainsAreADelay()
{
    EqualizerZorvani eq;
    eq.setGains(flatGains());
    eq.setEnabled(true);
    const auto x = noise(5000, 2);
    auto y = x;
    QVERIFY(eq.process(y.data(), int(y.size())));
    const int d = EqualizerZorvani::kLatency;
    double worst = 0.0;
    for (int n = 0; n < int(y.size()); ++n) {
        const Frame expected = n < d ? Frame{0.0, 0.0} : x[n - d];
        worst = std::max({worst, std::abs(y[n].re - expected.re), std::abs(y[n].im - expected.im)});
    }
    QVERIFY2(worst < 1e-12, qPrintable(QString("largest deviation %1").arg(worst)));
}

void TestEqualizer::oneBandRaisesOnlyItsTones_data()
{
    QTest::addColumn<int>("band");
    QTest::addColumn<int>("gainDb");
    QTest::addColumn<int>("farBand");
    QTest::addColumn<double>("toleranceDb");
    QTest::newRow("band 3 +12 dB") << 3 << 12 << 20 << 0.7;
    QTest::newRow("band 14 +12 dB") << 14 << 12 << 2 << 0.2;
    QTest::newRow("band 28 +12 dB") << 28 << 12 << 8 << 0.1;
    QTest::newRow("band 30 -12 dB") << 30 << -12 << 12 << 0.1;
}

// A tone at the centre of the changed band (in re) moves by the band's gain; a
// tone at a far band's centre (in im) stays where it was. Tolerances: per row
// for the changed band (the 2047-tap filter smooths the response over about
// 20 Hz, which matters where bands are about 70 Hz apart), 0.05 dB for the far
// one.
void TestEqualizer::oneBandRaisesOnlyItsTones()
{
    QFETCH(int, band);
    QFETCH(int, gainDb);
    QFETCH(int, farBand);
    QFETCH(double, toleranceDb);
    EqualizerZorvani eq;
    QList<int> gains = flatGains();
    gains[band] = gainDb;
    eq.setGains(gains);
    eq.setEnabled(true);

    const int window = 16384;
    const int total = EqualizerZorvani::kLatency + EqualizerZorvani::kTaps + window;
    const double f1 = onBin(eq.bandCentre(band), window);
    const double f2 = onBin(eq.bandCentre(farBand), window);
    std::vector<Frame> x(total);
    for (int n = 0; n < total; ++n)
        x[n] = {0.25 * std::cos(2.0 * kPi * f1 * n / kFs), 0.25 * std::cos(2.0 * kPi * f2 * n / kFs)};
    for (int start = 0; start < total; start += 200)
        QVERIFY(eq.process(x.data() + start, std::min(200, total - start)));

    std::vector<double> re(total), im(total);
    for (int n = 0; n < total; ++n) {
        re[n] = x[n].re;
        im[n] = x[n].im;
    }
    const int start = total - window;
    const double changed = 20.0 * std::log10(amplitude(re, start, window, f1) / 0.25);
    const double far = 20.0 * std::log10(amplitude(im, start, window, f2) / 0.25);
    const double leak = amplitude(im, start, window, f1);
    QVERIFY2(std::abs(changed - gainDb) < toleranceDb,
             qPrintable(QString("tone at %1 Hz changed by %2 dB").arg(f1).arg(changed)));
    QVERIFY2(std::abs(far) < 0.05, qPrintable(QString("tone at %1 Hz changed by %2 dB").arg(f2).arg(far)));
    QVERIFY2(leak < 1e-9, "re and im are filtered separately: nothing of re appears in im");
}

// Any cut of the stream gives the same output; so does a reset, or switching
// off and on again.
void TestEqualizer::splitBlocksEqualOneBlock()
{
    QList<int> gains = flatGains();
    for (int k = 0; k < EqualizerZorvani::kBands; ++k)
        gains[k] = (k * 7) % 25 - 12;
    EqualizerZorvani one, split;
    for (EqualizerZorvani* eq : {&one, &split}) {
        eq->setGains(gains);
        eq->setEnabled(true);
    }
    const auto x = noise(4000, 3);
    auto a = x, b = x, c = x;
    for (int start = 0; start < 4000; start += 400)
        QVERIFY(one.process(a.data() + start, 400));
    // 2 x 200 per 400, and odd pieces across transform boundaries.
    const int pieces[] = {200, 200, 1, 511, 513, 200, 200, 775, 1, 1399};
    int at = 0;
    for (int n : pieces) {
        QVERIFY(split.process(b.data() + at, n));
        at += n;
    }
    QVERIFY(std::memcmp(a.data(), b.data(), a.size() * sizeof(Frame)) == 0);
    split.setEnabled(false);
    split.setEnabled(true);
    QVERIFY(split.process(c.data(), 4000));
    QVERIFY(std::memcmp(a.data(), c.data(), a.size() * sizeof(Frame)) == 0);
    one.reset();
    c = x;
    QVERIFY(one.process(c.data(), 4000));
    QVERIFY(std::memcmp(a.data(), c.data(), a.size() * sizeof(Frame)) == 0);
}

void TestEqualizer::gainsAreClampedAndPadded()
{
    EqualizerZorvani a, b;
    QList<int> wild{100, -100};
    QList<int> clamped = flatGains();
    clamped[0] = int(EqualizerZorvani::kMaxGainDb);
    clamped[1] = int(EqualizerZorvani::kMinGainDb);
    a.setGains(wild + zeros(40));
    b.setGains(clamped);
    a.setEnabled(true);
    b.setEnabled(true);
    const auto x = noise(2500, 5);
    auto ya = x;
    auto yb = x;
    QVERIFY(a.process(ya.data(), 2500));
    QVERIFY(b.process(yb.data(), 2500));
    QVERIFY(std::memcmp(ya.data(), yb.data(), ya.size() * sizeof(Frame)) == 0);

    // A short list leaves the remaining bands at 0 dB: flat again.
    EqualizerZorvani c;
    c.setGains(QList<int>{0, 0, 0});
    c.setEnabled(true);
    auto yc = x;
    QVERIFY(c.process(yc.data(), 2500));
    QVERIFY(std::abs(yc[2000].re - x[2000 - EqualizerZorvani::kLatency].re) < 1e-12);
}

void TestEqualizer::bandCentresAndRate()
{
    EqualizerZorvani eq;
    QCOMPARE(eq.sampleRate(), kFs);
    QVERIFY(std::abs(eq.bandCentre(0) - 50.0) < 1e-9);
    QVERIFY(std::abs(eq.bandCentre(35) - 16000.0) < 1e-6);
    // Equal steps on the mel scale.
    auto mel = [](double f) { return 2595.0 * std::log10(1.0 + f / 700.0); };
    const double step = mel(eq.bandCentre(1)) - mel(eq.bandCentre(0));
    for (int k = 1; k < 35; ++k)
        QVERIFY(std::abs(mel(eq.bandCentre(k + 1)) - mel(eq.bandCentre(k)) - step) < 1e-9);
    QVERIFY2(eq.bandCentre(1) - eq.bandCentre(0) > 60.0, "the lowest bands stay resolvable");
    QVERIFY(!eq.setSampleRate(0.0));
    QVERIFY(!eq.setSampleRate(std::nan("")));
    QCOMPARE(eq.sampleRate(), kFs);
    QVERIFY(eq.setSampleRate(8000.0));
    QVERIFY(std::abs(eq.bandCentre(35) - 3600.0) < 1e-6);
}

void TestEqualizer::processDoesNotAllocate()
{
    EqualizerZorvani eq;
    eq.setGains(flatGains());
    eq.setEnabled(true);
    auto x = noise(200, 6);
    QVERIFY(eq.process(x.data(), 200));
    testsupport::AllocationScope scope;
    for (int i = 0; i < 50; ++i)
        QVERIFY(eq.process(x.data(), 200));
    QCOMPARE(scope.count(), 0u);
}

QTEST_GUILESS_MAIN(TestEqualizer)
#include "tst_equalizer.moc"
