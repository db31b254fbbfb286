#include "DspTestSupport.h"

#include "zorvaniDsp/Filters/LmsFilterZorvani.h"

#include <QtTest>

#include <complex>
#include <deque>

using namespace dsptest;
using Kind = LmsFilterZorvani::Kind;

namespace {

// Straightforward leaky normalised LMS predictor on std::complex, with an
// explicit history (newest first), as the reference.
struct ReferenceLms {
    bool nr;
    int delay, taps;
    double mu, leak;
    std::deque<std::complex<double>> history; // history[j] = x[n - j]
    std::vector<std::complex<double>> w;

    ReferenceLms(bool isNr, int d, int t, double m, double l)
        : nr(isNr), delay(d), taps(t), mu(m), leak(l), history(static_cast<size_t>(d + t + 1)), w(static_cast<size_t>(t))
    {
    }

    std::complex<double> step(std::complex<double> x)
    {
        history.push_front(x);
        history.pop_back();
        std::complex<double> y = 0.0;
        double p = 0.0;
        for (int k = 0; k < taps; ++k) {
            const std::complex<double> s = history[static_cast<size_t>(delay + k)];
            y += std::conj(w[static_cast<size_t>(k)]) * s;
            p += std::norm(s);
        }
        const std::complex<double> e = x - y;
        const double g = mu / std::max(p, nr ? 1e-12 : 1e-10);
        for (int k = 0; k < taps; ++k)
            w[static_cast<size_t>(k)] = (1.0 - mu * leak) * w[static_cast<size_t>(k)]
                                        + g * history[static_cast<size_t>(delay + k)] * std::conj(e);
        return nr ? y : e;
    }
};

Signal toneInNoise(int n, double hz, double toneAmp, double noiseRms, unsigned seed)
{
    return toneHz(n, hz, toneAmp, 0.4) + gaussian(n, noiseRms, seed);
}

// Power of the complex tone at hz and of everything else in x[first ...].
void split(const Signal& x, int first, int n, double hz, double& tone, double& rest)
{
    const double a = complexAmplitude(x, first, n, hz);
    double total = 0.0;
    for (int k = first; k < first + n; ++k)
        total += x[k].re * x[k].re + x[k].im * x[k].im;
    tone = a * a;
    rest = total / n - tone;
}

} // namespace

class TestLms : public QObject {
    Q_OBJECT

private slots:
    void matchesReference_data()
    {
        QTest::addColumn<bool>("nr");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("taps");
        QTest::addColumn<double>("mu");
        QTest::addColumn<double>("leak");
        // The first two rows leave the filter at its defaults.
        QTest::newRow("NR defaults") << true << 20 << 40 << 0.0025 << 0.005;
        QTest::newRow("ANF defaults") << false << 64 << 64 << 0.0025 << 0.0001;
        QTest::newRow("NR fast, 257 taps") << true << 5 << 257 << 0.05 << 0.01;
        QTest::newRow("ANF delay 0") << false << 0 << 16 << 0.01 << 0.0;
        QTest::newRow("NR 1 tap") << true << 1 << 1 << 0.1 << 0.1;
    }

    void matchesReference()
    {
        QFETCH(bool, nr);
        QFETCH(int, delay);
        QFETCH(int, taps);
        QFETCH(double, mu);
        QFETCH(double, leak);
        LmsFilterZorvani f(nr ? Kind::NoiseReduction : Kind::AutoNotch);
        f.setEnabled(true);
        if (!QByteArray(QTest::currentDataTag()).endsWith("defaults")) {
            f.setDelay(delay);
            f.setTaps(taps);
            f.setRate(mu);
            f.setLeak(leak);
        }
        ReferenceLms ref(nr, delay, taps, mu, leak);
        Signal x = toneInNoise(6000, 1300.0, 0.5, 0.3, 11);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(f.process(p, n)); });
        for (int k = 0; k < 6000; ++k) {
            const std::complex<double> r = ref.step({input[k].re, input[k].im});
            QVERIFY2(std::abs(r - std::complex<double>(x[k].re, x[k].im)) <= 1e-12 * (1.0 + std::abs(r)),
                     qPrintable(QString("sample %1: %2 vs %3").arg(k).arg(x[k].re).arg(r.real())));
        }
    }

    void frozenWeightsWithZeroRate()
    {
        // Adapt, then mu = 0: the filter keeps predicting with frozen weights
        // (no adaptation, no leak), exactly as the reference with mu = 0.
        LmsFilterZorvani f(Kind::NoiseReduction);
        f.setEnabled(true);
        ReferenceLms ref(true, 20, 40, 0.0025, 0.005);
        Signal x = toneInNoise(8000, 900.0, 0.5, 0.2, 3);
        const Signal input = x;
        QVERIFY(f.process(x.data(), 4000));
        f.setRate(0.0);
        QVERIFY(f.process(x.data() + 4000, 4000));
        for (int k = 0; k < 8000; ++k) {
            if (k == 4000)
                ref.mu = 0.0;
            const std::complex<double> r = ref.step({input[k].re, input[k].im});
            QVERIFY2(std::abs(r - std::complex<double>(x[k].re, x[k].im)) <= 1e-12, qPrintable(QString("sample %1").arg(k)));
        }
        QVERIFY2(std::abs(ref.w[0]) > 0.0, "weights should have adapted before freezing");
    }

    void nrRaisesSnr()
    {
        // Tone 0 dB below the noise over the full band; NR keeps the
        // predictable tone and drops most of the white noise.
        LmsFilterZorvani nr(Kind::NoiseReduction);
        nr.setEnabled(true);
        Signal x = toneInNoise(120000, 1000.0, 0.3, 0.3, 21);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(nr.process(p, n)); });
        double toneIn, noiseIn, toneOut, noiseOut;
        split(input, 80000, 31250, 1000.0, toneIn, noiseIn);
        split(x, 80000, 31250, 1000.0, toneOut, noiseOut);
        const double gain = 10.0 * std::log10((toneOut / noiseOut) / (toneIn / noiseIn));
        QVERIFY2(gain >= 6.0, qPrintable(QString("SNR gain %1 dB").arg(gain)));
    }

    void anfRemovesSteadyTone()
    {
        LmsFilterZorvani anf(Kind::AutoNotch);
        anf.setEnabled(true);
        Signal x = toneInNoise(120000, 1500.0, 0.5, 0.1, 5);
        const Signal input = x;
        inBlocks(x, 200, [&](C* p, int n) { QVERIFY(anf.process(p, n)); });
        double toneIn, noiseIn, toneOut, noiseOut;
        split(input, 80000, 31250, 1500.0, toneIn, noiseIn);
        split(x, 80000, 31250, 1500.0, toneOut, noiseOut);
        const double suppression = 10.0 * std::log10(toneIn / toneOut);
        const double noiseChange = 10.0 * std::log10(noiseOut / noiseIn);
        QVERIFY2(suppression >= 20.0, qPrintable(QString("tone suppressed by %1 dB").arg(suppression)));
        // White (speech-like, unpredictable) noise passes within 1 dB.
        QVERIFY2(std::fabs(noiseChange) < 1.0, qPrintable(QString("noise changed by %1 dB").arg(noiseChange)));
    }

    // No taps: NR predicts nothing, ANF passes everything; switched off, the
    // block is left alone.
    void zeroTapsAndDisabled()
    {
        const Signal input = toneInNoise(1000, 700.0, 0.5, 0.1, 8);
        Signal x = input, y = input, z = input;
        LmsFilterZorvani nr(Kind::NoiseReduction), anf(Kind::AutoNotch), off(Kind::NoiseReduction);
        nr.setEnabled(true);
        anf.setEnabled(true);
        nr.setTaps(0);
        anf.setTaps(0);
        QVERIFY(nr.process(x.data(), 1000));
        QVERIFY(anf.process(y.data(), 1000));
        QVERIFY(off.process(z.data(), 1000));
        QCOMPARE(rms(x, 0, 1000, 0) + rms(x, 0, 1000, 1), 0.0);
        QVERIFY(sameBits(y, input));
        QVERIFY(sameBits(z, input));
    }

    void clearingStartsAfresh_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("re-enable") << 0;
        QTest::newRow("set delay") << 1;
        QTest::newRow("set taps") << 2;
        QTest::newRow("reset") << 3;
    }

    void clearingStartsAfresh()
    {
        QFETCH(int, how);
        LmsFilterZorvani used(Kind::AutoNotch);
        used.setEnabled(true);
        Signal warm = toneInNoise(5000, 800.0, 0.5, 0.1, 9);
        QVERIFY(used.process(warm.data(), 5000));
        if (how == 0) {
            used.setEnabled(false);
            used.setEnabled(true);
        } else if (how == 1) {
            used.setDelay(64);
        } else if (how == 2) {
            used.setTaps(64);
        } else {
            used.reset();
        }
        LmsFilterZorvani fresh(Kind::AutoNotch);
        fresh.setEnabled(true);
        Signal a = toneInNoise(3000, 1200.0, 0.5, 0.1, 10);
        Signal b = a;
        QVERIFY(used.process(a.data(), 3000));
        QVERIFY(fresh.process(b.data(), 3000));
        QVERIFY2(sameBits(a, b), "the filter kept old weights or samples");
    }

    void settingRangesAreClamped()
    {
        LmsFilterZorvani f(Kind::NoiseReduction);
        f.setTaps(-5);
        QCOMPARE(f.taps(), 0);
        f.setTaps(5000);
        QCOMPARE(f.taps(), LmsFilterZorvani::kLineLength);
        f.setDelay(-1);
        QCOMPARE(f.delay(), 0);
        f.setDelay(4096);
        QCOMPARE(f.delay(), LmsFilterZorvani::kLineLength - 1);
        f.setRate(std::nan(""));
        f.setLeak(HUGE_VAL);
        QCOMPARE(f.rate(), 0.0025);
        QCOMPARE(f.leak(), 0.005);
    }
};

QTEST_APPLESS_MAIN(TestLms)
#include "tst_lms.moc"
