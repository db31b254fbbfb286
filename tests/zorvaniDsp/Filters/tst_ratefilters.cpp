// The filters that change the rate: the half-band decimator of the working
// chain and the polyphase resampler of the audio outputs.
#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/Resampler.h"

#include <QtTest>

using namespace dsptest;

namespace {

constexpr double kPassEdge = kFs / 2.0 - 2000.0;

// Steady-state gain in dB of the cascade for a complex tone at `hz` (input
// rate factor x the working rate): the amplitude of the one tone it leaves at
// the folded frequency, once the filters have filled.
double gainDb(int factor, double hz)
{
    DecimatorZorvani d;
    const int outputs = 384, settle = 128;
    Signal x = tone(outputs * factor, hz / (kFs * factor));
    if (!d.init(factor, kFs, kPassEdge) || d.process(x.data(), int(x.size())) != outputs)
        return NAN;
    return db(std::abs(dft(x.data() + settle, outputs - settle, std::fmod(hz / kFs, 1.0))));
}

// The Butterworth low-pass of the given order (bilinear, cut-off prewarped):
// its magnitude in dB at f for the cut-off fc, both over the rate.
double butterworthDb(double f, double fc, int order)
{
    return -10.0 * std::log10(1.0 + std::pow(std::tan(kPi * std::abs(f)) / std::tan(kPi * fc), 2.0 * order));
}

// The conversion as written from its definition: for every input sample,
// while phase < L emit L·Σ h[k]·x[newest - k/L] over k = phase, phase+L, ...
Signal directPolyphase(const std::vector<float>& h, int L, int M, const Signal& in)
{
    Signal out;
    int phase = 0;
    for (long n = 0; n < long(in.size()); ++n, phase -= L)
        for (; phase < L; phase += M) {
            std::complex<double> y = 0.0;
            for (int k = phase; k < int(h.size()) && n - k / L >= 0; k += L)
                y += double(h[k]) * std::complex<double>(float(in[n - k / L].re), float(in[n - k / L].im));
            out.push_back({L * y.real(), L * y.imag()});
        }
    return out;
}

Signal convert(Resampler& r, const Signal& in)
{
    Signal out(static_cast<size_t>(Resampler::maxOutput(int(in.size()), r.interpolation(), r.decimation())));
    out.resize(static_cast<size_t>(r.process(in.data(), out.data(), int(in.size()))));
    return out;
}

} // namespace

class TestRateFilters : public QObject {
    Q_OBJECT
private slots:
    // Flat where the IIR was flat; in the band that folds into the working
    // band (past the working rate minus the pass edge) at least as deep as
    // the IIR, down to the depth of the 24-bit input (0.5 dB for the
    // estimate of the window's length). Input rates 78125, 156250, 312500 Hz.
    void decimatorMask()
    {
        for (int factor : {2, 4, 8}) {
            const double nyquist = kFs * factor / 2.0;
            double worstPass = 0.0, worstMargin = -1e9, worstAt = 0.0;
            for (double hz = -nyquist; hz < nyquist; hz += nyquist / 199.0) {
                const double g = gainDb(factor, hz);
                QVERIFY2(std::isfinite(g), qPrintable(QString("no output at %1 Hz").arg(hz)));
                // the order-11 IIR that decimated before, its cut-off at the pass edge
                const double iir = butterworthDb(hz / (kFs * factor), kPassEdge / (kFs * factor), 11);
                const double mask = std::max(iir, -DecimatorZorvani::kAttenuationDb + 0.5);
                if (std::abs(hz) <= kPassEdge) {
                    worstPass = std::max(worstPass, std::abs(g));
                } else if (std::abs(hz) >= kFs - kPassEdge && g - mask > worstMargin) {
                    worstMargin = g - mask;
                    worstAt = hz;
                }
            }
            const QString text = QString("x%1: ripple %2 dB, %3 dB over the mask at %4 Hz").arg(factor).arg(worstPass);
            QVERIFY2(worstPass < 1e-4 && worstMargin <= 0.0, qPrintable(text.arg(worstMargin).arg(worstAt)));
        }
    }

    // L / M in lowest terms; 8 taps per phase (converting down, 8 per phase
    // for every L of M); DC gain 1; the conversions are the direct polyphase
    // sum. A 1 kHz tone comes out at 1 kHz at its level. At 48000 Hz all that
    // is not that tone (images, aliases, rounding) stays below -80 dBc;
    // converting down, the cut-off follows the output's half rate: 6 kHz does
    // not fold back to 2 kHz, and 1 kHz lies at 0.31 of the 3200 Hz cut-off,
    // where the window's transition begins: within 2 %.
    void resampler()
    {
        const struct { float out; int L; double passTolerance, residualDb, stopHz; } rows[] = {
            {48000.0f, 768, 1e-3, -80.0, 0.0}, {8000.0f, 128, 0.02, 0.0, 6000.0}};
        for (const auto& r : rows) {
            Resampler rs;
            QVERIFY(rs.init(39062.5f, r.out));
            const int taps = 8 * r.L * (625 > r.L ? (625 + r.L - 1) / r.L : 1);
            const double sum = std::accumulate(rs.coefficients().begin(), rs.coefficients().end(), 0.0);
            QVERIFY2(rs.interpolation() == r.L && rs.decimation() == 625 && rs.taps() == taps
                         && int(rs.coefficients().size()) == taps && std::abs(sum - 1.0) < 1e-5,
                     qPrintable(QString::number(r.out)));
            const Signal in = noise(3000, 9, 0.8), fast = convert(rs, in);
            const Signal ref = directPolyphase(rs.coefficients(), r.L, 625, in);
            QVERIFY2(maxDifference(fast, ref) < 2e-6, qPrintable(QString::number(maxDifference(fast, ref))));
            rs.reset();
            const int skip = int(r.out) / 10, length = int(r.out) * 4 / 5; // whole cycles of 1 kHz
            const Signal pass = convert(rs, tone(39062, 1000.0 / 39062.5, 0.5));
            QVERIFY(int(pass.size()) >= skip + length);
            const std::complex<double> a = dft(pass.data() + skip, length, 1000.0 / r.out);
            double residual = 0.0;
            for (int k = 0; k < length; ++k)
                residual += std::norm(toStd(pass[skip + k]) - a * std::polar(1.0, 2.0 * kPi * 1000.0 * k / r.out));
            const double dBc = 10.0 * std::log10(residual / length / std::norm(a));
            const QString text = QString("%1 Hz: gain %2, residual %3 dBc").arg(r.out).arg(std::abs(a) / 0.5).arg(dBc);
            QVERIFY2(std::abs(std::abs(a) / 0.5 - 1.0) < r.passTolerance
                         && (r.residualDb == 0.0 || dBc < r.residualDb), qPrintable(text));
            if (r.stopHz == 0.0)
                continue;
            rs.reset();
            const Signal stop = convert(rs, tone(39062, r.stopHz / 39062.5));
            const double level = db(std::abs(dft(stop.data() + skip, length, (r.out - r.stopHz) / r.out)));
            QVERIFY2(level < -60.0, qPrintable(QString("%1 Hz at %2 dB").arg(r.out - r.stopHz).arg(level)));
        }
        // 625 in give 768 out; any cut of the input gives each call no more than
        // its bound and 768 per 625 overall. A refused rate keeps the working design.
        Resampler r;
        QVERIFY(r.init(39062.5f, 48000.0f) && convert(r, noise(625, 1)).size() == 768u);
        r.reset();
        int total = 0;
        std::mt19937 gen(5);
        for (int consumed = 0, n = 0; consumed < 625 * 8; consumed += n) {
            n = std::min(int(gen() % 300) + 1, 625 * 8 - consumed);
            const int frames = int(convert(r, noise(n, unsigned(consumed))).size());
            QVERIFY2(frames <= Resampler::maxOutput(n, 768, 625), qPrintable(QString::number(n)));
            total += frames;
        }
        QCOMPARE(total, 768 * 8);
        MessageCapture capture;
        QVERIFY(!r.init(0.0f, 48000.0f) && !r.init(48000.0f, -1.0f) && !r.init(std::nanf(""), 48000.0f));
        QVERIFY(!r.init(0.01f, 48000.0f));    // truncates to 0
        QVERIFY(!r.init(99999.7f, 48000.1f)); // L and M far too large
        QVERIFY(r.interpolation() == 768 && r.decimation() == 625 && capture.all().size() == 5);
    }
};

QTEST_APPLESS_MAIN(TestRateFilters)
#include "tst_ratefilters.moc"
