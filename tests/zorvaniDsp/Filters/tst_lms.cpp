#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"

#include <QtTest>

#include <deque>

using namespace dsptest;
using Kind = LmsFilterZorvani::Kind;
using std::complex;

namespace {

// Straightforward leaky normalised LMS predictor on std::complex, with an
// explicit history (newest first), as the reference.
struct ReferenceLms {
    bool nr;
    int delay, taps;
    double mu, leak;
    std::deque<complex<double>> history = std::deque<complex<double>>(size_t(delay + taps + 1)); // [j] = x[n - j]
    std::vector<complex<double>> w = std::vector<complex<double>>(size_t(taps));

    complex<double> step(complex<double> x)
    {
        history.push_front(x);
        history.pop_back();
        complex<double> y = 0.0;
        double p = 0.0;
        for (int k = 0; k < taps; ++k)
            y += std::conj(w[size_t(k)]) * history[size_t(delay + k)], p += std::norm(history[size_t(delay + k)]);
        const complex<double> e = x - y;
        const double g = mu / std::max(p, nr ? 1e-12 : 1e-10);
        for (int k = 0; k < taps; ++k)
            w[size_t(k)] = (1.0 - mu * leak) * w[size_t(k)] + g * history[size_t(delay + k)] * std::conj(e);
        return nr ? y : e;
    }
};

Signal toneInNoise(int n, double hz, double toneAmp, double noiseRms, unsigned seed)
{
    return toneHz(n, hz, toneAmp, 0.4) + gaussian(n, noiseRms, seed);
}

// Power of the complex tone at hz, and of everything else, over the last
// 31250 of 120000 samples (a whole number of cycles).
double tonePower(const Signal& x, double hz) { return std::pow(complexAmplitude(x, 88750, 31250, hz), 2); }
double restPower(const Signal& x, double hz)
{
    return std::pow(rms(x, 88750, 31250, 0), 2) + std::pow(rms(x, 88750, 31250, 1), 2) - tonePower(x, hz);
}

} // namespace

class TestLms : public QObject {
    Q_OBJECT
private slots:
    // Sample for sample the reference, at the defaults (the first two rows),
    // at odd shapes, and "frozen": mu set to 0 half way, the weights stay,
    // neither adapting nor leaking.
    void matchesReference()
    {
        const struct { const char* name; bool nr; int delay, taps; double mu, leak; } rows[] = {
            {"NR defaults", true, 20, 40, 0.0025, 0.005}, {"ANF defaults", false, 64, 64, 0.0025, 0.0001},
            {"NR fast, 257 taps", true, 5, 257, 0.05, 0.01}, {"ANF delay 0", false, 0, 16, 0.01, 0.0},
            {"NR 1 tap", true, 1, 1, 0.1, 0.1}, {"NR frozen", true, 20, 40, 0.0025, 0.005}};
        const Signal input = toneInNoise(6000, 1300.0, 0.5, 0.3, 11);
        for (const auto& r : rows) {
            const bool frozen = QByteArray(r.name).endsWith("frozen");
            LmsFilterZorvani f(r.nr ? Kind::NoiseReduction : Kind::AutoNotch);
            f.setEnabled(true);
            if (!QByteArray(r.name).endsWith("defaults"))
                f.setDelay(r.delay), f.setTaps(r.taps), f.setRate(r.mu), f.setLeak(r.leak);
            ReferenceLms ref{r.nr, r.delay, r.taps, r.mu, r.leak};
            Signal x = input;
            inBlocks(x, 200, [&](C* p, int n) {
                if (frozen && p == x.data() + 3000)
                    f.setRate(0.0);
                QVERIFY(f.process(p, n));
            });
            for (int k = 0; k < 6000; ++k) {
                if (k == 3000 && frozen)
                    ref.mu = 0.0;
                const complex<double> y = ref.step(toStd(input[k]));
                QVERIFY2(std::abs(y - toStd(x[k])) <= 1e-12 * (1.0 + std::abs(y)), qPrintable(QString("%1: sample %2").arg(r.name).arg(k)));
            }
            QVERIFY2(std::abs(ref.w[0]) > 0.0, "weights should have adapted");
        }
    }

    // NR keeps a tone as strong as the white noise and drops most of the
    // noise; ANF removes a steady tone and passes the noise within 1 dB.
    void nrAndAnfOnToneInNoise()
    {
        LmsFilterZorvani nr(Kind::NoiseReduction), anf(Kind::AutoNotch);
        nr.setEnabled(true);
        anf.setEnabled(true);
        const Signal a = toneInNoise(120000, 1000.0, 0.3, 0.3, 21), b = toneInNoise(120000, 1500.0, 0.5, 0.1, 5);
        Signal x = a, y = b;
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(nr.process(p, n)); });
        inBlocks(y, 200, [&](C* p, int n) { QVERIFY(anf.process(p, n)); });
        const double gain = 10.0 * std::log10(tonePower(x, 1000.0) / restPower(x, 1000.0) / (tonePower(a, 1000.0) / restPower(a, 1000.0)));
        QVERIFY2(gain >= 6.0, qPrintable(QString("NR: SNR gain %1 dB").arg(gain)));
        const double suppression = 10.0 * std::log10(tonePower(b, 1500.0) / tonePower(y, 1500.0));
        const double noiseChange = 10.0 * std::log10(restPower(y, 1500.0) / restPower(b, 1500.0));
        QVERIFY2(suppression >= 20.0 && std::fabs(noiseChange) < 1.0,
                 qPrintable(QString("ANF: tone down by %1 dB, noise changed by %2 dB").arg(suppression).arg(noiseChange)));
    }

    // No taps: NR predicts nothing, ANF passes everything; switched off, the
    // block is left alone. Settings out of range are clamped or ignored.
    void zeroTapsDisabledAndRanges()
    {
        const Signal input = toneInNoise(1000, 700.0, 0.5, 0.1, 8);
        Signal x = input, y = input, z = input;
        LmsFilterZorvani nr(Kind::NoiseReduction), anf(Kind::AutoNotch), off(Kind::NoiseReduction);
        nr.setEnabled(true);
        anf.setEnabled(true);
        nr.setTaps(0);
        anf.setTaps(0);
        QVERIFY(nr.process(x.data(), 1000) && anf.process(y.data(), 1000) && off.process(z.data(), 1000));
        QVERIFY(silent(x.data(), 1000) && sameBits(y, input) && sameBits(z, input));
        off.setTaps(5000);
        QCOMPARE(off.taps(), LmsFilterZorvani::kLineLength);
        off.setDelay(-1);
        QCOMPARE(off.delay(), 0);
        off.setDelay(4096);
        QCOMPARE(off.delay(), LmsFilterZorvani::kLineLength - 1);
        off.setRate(std::nan(""));
        off.setLeak(HUGE_VAL);
        QVERIFY(off.rate() == 0.0025 && off.leak() == 0.005);
    }

    // Re-enabling or a new shape (delay, taps) starts from clear weights and
    // samples, like reset().
    void clearingStartsAfresh()
    {
        for (int how : {0, 1, 2}) {
            LmsFilterZorvani used(Kind::AutoNotch), fresh(Kind::AutoNotch);
            used.setEnabled(true);
            fresh.setEnabled(true);
            Signal warm = toneInNoise(5000, 800.0, 0.5, 0.1, 9);
            QVERIFY(used.process(warm.data(), 5000));
            how == 0 ? (used.setEnabled(false), used.setEnabled(true)) : how == 1 ? used.setDelay(64) : used.setTaps(64);
            Signal a = toneInNoise(3000, 1200.0, 0.5, 0.1, 10), b = a;
            QVERIFY(used.process(a.data(), 3000) && fresh.process(b.data(), 3000));
            QVERIFY2(sameBits(a, b), qPrintable(QString("case %1: the filter kept old weights or samples").arg(how)));
        }
    }
};

QTEST_APPLESS_MAIN(TestLms)
#include "tst_lms.moc"
