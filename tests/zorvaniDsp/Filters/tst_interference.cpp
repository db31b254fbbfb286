// The stages that take interference out: the noise blankers, the IQ notches
// and the LMS noise reduction and auto-notch.
#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"

#include <QtTest>

#include <deque>

using namespace dsptest;
using Kind = LmsFilterZorvani::Kind;
using std::complex;

namespace {

constexpr double kCentre = 7100000.0;
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
        for (int k = 0; k < taps; ++k) {
            y += std::conj(w[size_t(k)]) * history[size_t(delay + k)];
            p += std::norm(history[size_t(delay + k)]);
        }
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

class TestInterference : public QObject {
    Q_OBJECT
private slots:
    // NB1 delays by two samples and blanks seven slots from an impulse far
    // above the average (settled near 0.1 by 6000); with a threshold of 60
    // the impulse (50 x the average) passes. NB2 replaces the impulse by the
    // smoothed sample s = 0.75 s + 0.25 x, taken before the comparison, and
    // touches nothing else.
    void noiseBlankers()
    {
        const int at = 6000;
        Signal input = toneHz(8000, 1234.0, 0.1, 0.2);
        input[at] = {3.0, -4.0};
        C s{0.0, 0.0};
        for (int k = 0; k <= at; ++k)
            s = {0.75 * s.re + 0.25 * input[k].re, 0.75 * s.im + 0.25 * input[k].im};
        for (int kind : {0, 60, 2}) { // NB1 at its threshold, NB1 at 60, NB2
            ZorvaniNB nb;
            nb.setNb1(kind != 2);
            nb.setNb2(kind == 2);
            if (kind == 60)
                nb.setNb1Threshold(60.0);
            Signal x = input;
            inBlocks(x, 200, [&](C* p, int n) { nb.process(p, n); });
            for (int k = 0; k < 8000; ++k) {
                const bool zero = kind != 2 && (k < 2 || (kind == 0 && k >= at && k < at + 7));
                const C e = zero ? C{0.0, 0.0} : kind == 2 ? (k == at ? s : input[k]) : input[k - 2];
                const double tolerance = kind == 2 && k == at ? 1e-15 : 0.0;
                QVERIFY2(std::fabs(x[k].re - e.re) <= tolerance && std::fabs(x[k].im - e.im) <= tolerance,
                         qPrintable(QString("blanker %1, slot %2: %3").arg(kind).arg(k).arg(x[k].re)));
            }
        }
        // One average serves both: A_n = 0.5 + (1 - 0.5) 0.999^(updates n) for
        // magnitude 0.5, each blanker on updating it once per sample. Both off,
        // the block is left alone.
        for (int on = 0; on < 4; ++on) { // bit 0 NB1, bit 1 NB2
            ZorvaniNB nb;
            nb.setNb1(on & 1);
            nb.setNb2(on & 2);
            Signal x(500, C{0.3, 0.4});
            nb.process(x.data(), 500);
            const double expected = 0.5 + 0.5 * std::pow(0.999, ((on & 1) + (on >> 1)) * 500);
            QVERIFY2(std::fabs(nb.averageMagnitude() - expected) < 1e-12, qPrintable(QString::number(on)));
            QVERIFY(on || sameBits(x, Signal(500, C{0.3, 0.4})));
        }
    }

    // An active notch takes a carrier down by 30 dB or more and leaves a tone
    // 1 kHz away within 1 dB; a notch at or beyond half the rate is inactive
    // and the block passes bit for bit, as it does with the bank off.
    void iqNotches()
    {
        const double rows[][3] = {{3000.0, 100.0, 1}, {-5000.0, 100.0, 1}, {12000.0, 20.0, 1}, {-19000.0, 100.0, 1},
                                  {kFs / 2.0 - 1.0, 100.0, 1}, {kFs / 2.0, 100.0, 0}, {-kFs / 2.0, 100.0, 0},
                                  {30000.0, 100.0, 0}};
        for (const auto& r : rows) { // carrier offset, width, active
            const double carrier = r[0], other = carrier > 0.0 ? carrier - 1000.0 : carrier + 1000.0;
            IQNotchFilter bank;
            bank.setCenterFrequency(kCentre);
            bank.setEnabled(true);
            bank.setNotchEnabled(3, true);
            bank.setNotchFrequency(3, kCentre + carrier);
            bank.setNotchWidth(3, r[1]);
            QVERIFY(bank.notchActive(3) == bool(r[2]) && bank.notchOffset(3) == carrier);
            const Signal input = toneHz(40000, carrier, 0.5, 0.1) + toneHz(40000, other, 0.2, 1.3);
            Signal x = input;
            inBlocks(x, 200, [&](C* p, int n) { bank.process(p, n); });
            const auto level = [](const Signal& s, double hz) { return complexAmplitude(s, 8750, 31250, hz); };
            const double down = db(level(input, carrier) / level(x, carrier));
            const double moved = db(level(x, other) / level(input, other));
            QVERIFY2(r[2] ? down >= 30.0 && std::fabs(moved) <= 1.0 : sameBits(x, input),
                     qPrintable(QString("%1 Hz: carrier %2 dB, neighbour %3 dB").arg(carrier).arg(down).arg(moved)));
            bank.setEnabled(false);
            x = input;
            bank.process(x.data(), 40000);
            QVERIFY(sameBits(x, input));
        }
        // Widths are limited to 10 .. 10000 Hz (NaN ignored); the pole is about
        // exp(-2 pi W / fs) (its time constant kept in single precision) and
        // follows the rate. Offsets follow the centre.
        IQNotchFilter bank;
        const double widths[][2] = {{10.0, 10.0}, {30000.0, 10000.0}, {200.0, 100.0}, {0.0, 10.0}};
        for (const auto& w : widths) {
            bank.setNotchWidth(5, w[0]);
            bank.setNotchWidth(5, std::nan(""));
            const double pole = std::exp(-2.0 * kPi * w[1] / kFs);
            QVERIFY2(bank.notchWidth(5) == w[1] && std::fabs(bank.notchPole(5) - pole) < 1e-6,
                     qPrintable(QString::number(w[0])));
        }
        bank.setCenterFrequency(kCentre);
        bank.setNotchFrequency(2, kCentre + 2000.0);
        bank.setCenterFrequency(kCentre + 500.0);
        QCOMPARE(bank.notchOffset(2), 1500.0);
        bank.setNotchFrequency(2, kCentre + 30000.0);
        QVERIFY(!bank.notchActive(2));
        bank.setSampleRate(78125.0);
        QVERIFY(bank.notchActive(2) && std::fabs(bank.notchPole(2) - std::exp(-2.0 * kPi * 10.0 / 78125.0)) < 1e-6);
        bank.setNotchEnabled(99, true);
        QVERIFY(!bank.notchEnabled(99));
    }

    // Sample for sample the reference, at the defaults (the first two rows),
    // at odd shapes, and "frozen": mu set to 0 half way, the weights stay,
    // neither adapting nor leaking.
    void lms()
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
            if (!QByteArray(r.name).endsWith("defaults")) {
                f.setDelay(r.delay);
                f.setTaps(r.taps);
                f.setRate(r.mu);
                f.setLeak(r.leak);
            }
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
                QVERIFY2(std::abs(y - toStd(x[k])) <= 1e-12 * (1.0 + std::abs(y)),
                         qPrintable(QString("%1: sample %2").arg(r.name).arg(k)));
            }
            QVERIFY2(std::abs(ref.w[0]) > 0.0, "weights should have adapted");
        }
        // ANF removes a steady tone and passes the noise within 1 dB (noise
        // reduction heard on the receiver's audio: tst_panel).
        LmsFilterZorvani anf(Kind::AutoNotch);
        anf.setEnabled(true);
        const Signal b = toneInNoise(120000, 1500.0, 0.5, 0.1, 5);
        Signal y = b;
        inBlocks(y, 200, [&](C* p, int n) { QVERIFY(anf.process(p, n)); });
        const double suppression = 10.0 * std::log10(tonePower(b, 1500.0) / tonePower(y, 1500.0));
        const double noiseChange = 10.0 * std::log10(restPower(y, 1500.0) / restPower(b, 1500.0));
        QVERIFY2(suppression >= 20.0 && std::fabs(noiseChange) < 1.0, qPrintable(QString::number(noiseChange)));
        // No taps: NR predicts nothing, ANF passes everything; switched off, the
        // block is left alone. Settings out of range are clamped or ignored.
        const Signal quiet = toneInNoise(1000, 700.0, 0.5, 0.1, 8);
        Signal x = quiet, w = quiet, z = quiet;
        LmsFilterZorvani nr(Kind::NoiseReduction), none(Kind::AutoNotch), off(Kind::NoiseReduction);
        for (LmsFilterZorvani* f : {&nr, &none}) {
            f->setEnabled(true);
            f->setTaps(0);
        }
        QVERIFY(nr.process(x.data(), 1000) && none.process(w.data(), 1000) && off.process(z.data(), 1000)
                && silent(x.data(), 1000) && sameBits(w, quiet) && sameBits(z, quiet));
        off.setTaps(5000);
        off.setDelay(-1);
        QVERIFY(off.taps() == LmsFilterZorvani::kLineLength && off.delay() == 0);
        off.setDelay(4096);
        off.setRate(std::nan(""));
        off.setLeak(HUGE_VAL);
        QVERIFY(off.delay() == LmsFilterZorvani::kLineLength - 1 && off.rate() == 0.0025 && off.leak() == 0.005);
        // Re-enabling or a new shape (delay, taps) starts from clear weights and
        // samples, like reset().
        for (int how : {0, 1, 2}) {
            LmsFilterZorvani used(Kind::AutoNotch), fresh(Kind::AutoNotch);
            used.setEnabled(true);
            fresh.setEnabled(true);
            Signal warm = toneInNoise(5000, 800.0, 0.5, 0.1, 9);
            QVERIFY(used.process(warm.data(), 5000));
            if (how == 0) {
                used.setEnabled(false);
                used.setEnabled(true);
            } else {
                how == 1 ? used.setDelay(64) : used.setTaps(64);
            }
            Signal once = toneInNoise(3000, 1200.0, 0.5, 0.1, 10), again = once;
            QVERIFY(used.process(once.data(), 3000) && fresh.process(again.data(), 3000));
            QVERIFY2(sameBits(once, again), qPrintable(QString("case %1: old weights or samples kept").arg(how)));
        }
    }
};

QTEST_APPLESS_MAIN(TestInterference)
#include "tst_interference.moc"
