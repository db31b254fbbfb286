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
    void matchesReference_data()
    {
        QTest::addColumn<bool>("nr");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("taps");
        QTest::addColumn<double>("mu");
        QTest::addColumn<double>("leak");
        // The first two rows leave the filter at its defaults; "frozen" sets
        // mu to 0 half way: the weights stay, neither adapting nor leaking.
        QTest::newRow("NR defaults") << true << 20 << 40 << 0.0025 << 0.005;
        QTest::newRow("ANF defaults") << false << 64 << 64 << 0.0025 << 0.0001;
        QTest::newRow("NR fast, 257 taps") << true << 5 << 257 << 0.05 << 0.01;
        QTest::newRow("ANF delay 0") << false << 0 << 16 << 0.01 << 0.0;
        QTest::newRow("NR 1 tap") << true << 1 << 1 << 0.1 << 0.1;
        QTest::newRow("NR frozen") << true << 20 << 40 << 0.0025 << 0.005;
    }

    void matchesReference()
    {
        QFETCH(bool, nr);
        QFETCH(int, delay);
        QFETCH(int, taps);
        QFETCH(double, mu);
        QFETCH(double, leak);
        const QByteArray tag = QTest::currentDataTag();
        LmsFilterZorvani f(nr ? Kind::NoiseReduction : Kind::AutoNotch);
        f.setEnabled(true);
        if (!tag.endsWith("defaults")) {
            f.setDelay(delay);
            f.setTaps(taps);
            f.setRate(mu);
            f.setLeak(leak);
        }
        ReferenceLms ref(nr, delay, taps, mu, leak);
        const Signal input = toneInNoise(6000, 1300.0, 0.5, 0.3, 11);
        Signal x = input;
        inBlocks(x, 200, [&](C* p, int n) {
            if (tag.endsWith("frozen") && p == x.data() + 3000)
                f.setRate(0.0);
            QVERIFY(f.process(p, n));
        });
        for (int k = 0; k < 6000; ++k) {
            if (k == 3000 && tag.endsWith("frozen"))
                ref.mu = 0.0;
            const std::complex<double> r = ref.step(toStd(input[k]));
            QVERIFY2(std::abs(r - toStd(x[k])) <= 1e-12 * (1.0 + std::abs(r)), qPrintable(QString("sample %1").arg(k)));
        }
        QVERIFY2(std::abs(ref.w[0]) > 0.0, "weights should have adapted");
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

    void clearingStartsAfresh_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("re-enable") << 0;
        QTest::newRow("set delay") << 1;
        QTest::newRow("set taps") << 2;
    }

    // Re-enabling or a new shape starts from clear weights and samples, like reset().
    void clearingStartsAfresh()
    {
        QFETCH(int, how);
        LmsFilterZorvani used(Kind::AutoNotch), fresh(Kind::AutoNotch);
        used.setEnabled(true);
        fresh.setEnabled(true);
        Signal warm = toneInNoise(5000, 800.0, 0.5, 0.1, 9);
        QVERIFY(used.process(warm.data(), 5000));
        if (how == 0) {
            used.setEnabled(false);
            used.setEnabled(true);
        }
        how == 1 ? used.setDelay(64) : how == 2 ? used.setTaps(64) : void();
        Signal a = toneInNoise(3000, 1200.0, 0.5, 0.1, 10), b = a;
        QVERIFY(used.process(a.data(), 3000) && fresh.process(b.data(), 3000));
        QVERIFY2(sameBits(a, b), "the filter kept old weights or samples");
    }
};

QTEST_APPLESS_MAIN(TestLms)
#include "tst_lms.moc"
