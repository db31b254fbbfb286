// The filters that change the rate: the half-band decimator of the working
// chain (with the order-11 IIR low-pass it replaced there, which the squelch
// still uses) and the polyphase resampler of the audio outputs.
#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"
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

// Steady-state gain in dB for a complex tone at rel: the mean |y| once the
// start-up transient has died away.
double iirGainDb(IirLowpassZorvani& f, double rel)
{
    f.reset();
    Signal x = tone(64000, rel);
    f.process(x.data(), 64000);
    return db(std::accumulate(x.begin() + 60000, x.end(), 0.0, [](double sum, const C& c) { return sum + std::abs(toStd(c)); }) / 4000);
}

// The conversion as written from its definition: for every input sample,
// while phase < L emit L·Σ h[k]·x[newest - k/L] over k = phase, phase+L, ...
Signal directPolyphase(const std::vector<float>& h, int L, int M, const Signal& in)
{
    Signal out;
    int phase = 0;
    for (long n = 0; n < long(in.size()); ++n, phase -= L)
        for (; phase < L; phase += M) {
            double yr = 0, yi = 0;
            for (int k = phase; k < int(h.size()) && n - k / L >= 0; k += L)
                yr += double(h[k]) * float(in[n - k / L].re), yi += double(h[k]) * float(in[n - k / L].im);
            out.push_back({L * yr, L * yi});
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
    void decimatorMaskDelayAndRefusals()
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
                if (std::abs(hz) <= kPassEdge)
                    worstPass = std::max(worstPass, std::abs(g));
                else if (std::abs(hz) >= kFs - kPassEdge && g - mask > worstMargin)
                    worstMargin = g - mask, worstAt = hz;
            }
            QVERIFY2(worstPass < 1e-4 && worstMargin <= 0.0,
                     qPrintable(QString("x%1: ripple %2 dB, %3 dB over the mask at %4 Hz").arg(factor).arg(worstPass).arg(worstMargin).arg(worstAt)));
        }
        // A low tone comes out late by the stated delay: its phase lags by
        // 2 pi f delay (under a cycle at 100 Hz).
        const double hz = 100.0;
        for (int factor : {1, 2, 4, 8}) {
            DecimatorZorvani d;
            QVERIFY(d.init(factor, kFs, kPassEdge));
            Signal x = tone(512 * factor, hz / (kFs * factor));
            QCOMPARE(d.process(x.data(), int(x.size())), 512);
            const std::complex<double> expected = std::polar(1.0, 2.0 * kPi * hz * 256 / kFs);
            const double lag = -std::arg(dft(x.data() + 256, 256, hz / kFs) / expected) / (2.0 * kPi * hz);
            QVERIFY2(std::abs(lag - d.delaySeconds()) < 1e-8,
                     qPrintable(QString("x%1: %2 s, stated %3 s").arg(factor).arg(lag).arg(d.delaySeconds())));
        }
        // A refused design keeps the working one.
        DecimatorZorvani d;
        QVERIFY(d.init(4, kFs, kPassEdge) && !d.init(3, kFs, kPassEdge) && !d.init(16, kFs, kPassEdge) && !d.init(2, kFs, kFs / 2.0));
        QVERIFY(!d.init(2, kFs, 0.0) && !d.init(2, std::nan(""), kPassEdge) && d.factor() == 4);
        Signal x = noise(16, 1);
        QCOMPARE(d.process(x.data(), 16), 4);
    }

    // The prewarped design puts -3 dB exactly at fc and follows the
    // Butterworth magnitude on the warped axis tan(πf)/tan(πfc), with unit
    // gain at DC, for odd and even orders: at small cut-offs, and at the
    // receiver's (312500 Hz in, 39062.5 Hz working rate).
    void iirLowpass()
    {
        const double receiver = (39062.5 / 2 - 2000.0) / 312500.0;
        const double rows[][3] = {{0.01, 0.7, 11}, {0.01, 1.0, 11}, {0.01, 1.2, 11}, {receiver, 0.5, 11}, {receiver, 0.95, 11},
                                  {receiver, 1.0, 11}, {receiver, 1.1, 11}, {receiver, 1.3, 11}, {0.05, 1.0, 1}, {0.05, 1.0, 2}, {0.05, 1.0, 4}};
        for (const auto& r : rows) { // cut-off, tone / cut-off, order
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], int(r[2])) && f.order() == int(r[2]));
            const double measured = iirGainDb(f, r[1] * r[0]);
            const double expected = butterworthDb(r[1] * r[0], r[0], int(r[2]));
            Signal x(20000, C{0.25, -0.5});
            QVERIFY(f.process(x.data(), 20000));
            QVERIFY2(std::abs(measured - expected) < 0.01 && (r[1] != 1.0 || std::abs(measured + 3.0103) < 0.01)
                         && std::abs(x.back().re - 0.25) < 1e-9 && std::abs(x.back().im + 0.5) < 1e-9,
                     qPrintable(QString("fc %1 x %2, order %3: %4 dB, expected %5 dB").arg(r[0]).arg(r[1]).arg(r[2]).arg(measured).arg(expected)));
        }
        // The cut-off is kept inside (0, 0.5) and the filter stays stable there;
        // at the lowest essentially nothing passes at 0.01 cycles per sample.
        // A refused design or block changes nothing and is logged.
        const double cutoffs[][2] = {{0.0, 1e-7}, {-0.1, 1e-7}, {0.5, 0.4999999}, {0.8, 0.4999999}, {0.2, 0.2}};
        for (const auto& r : cutoffs) { // set, used
            IirLowpassZorvani f;
            QVERIFY(f.init(r[0], 11) && f.cutoff() == r[1]);
            Signal x = noise(5000, 2), t = tone(5000, 0.01);
            QVERIFY(f.process(x.data(), 5000));
            QVERIFY2(std::all_of(x.begin(), x.end(), [](const C& c) { return std::isfinite(c.re) && std::isfinite(c.im); }), "unstable filter");
            f.reset();
            QVERIFY(f.process(t.data(), 5000) && (r[1] != 1e-7 || std::abs(toStd(t.back())) < 1e-12));
        }
        IirLowpassZorvani f;
        Signal x = noise(10, 1), before = x;
        MessageCapture capture;
        QVERIFY(!f.process(x.data(), 10)); // not designed yet
        QVERIFY(f.init(0.1, 4) && !f.init(0.1, 0) && !f.init(0.1, IirLowpassZorvani::kMaxOrder + 1) && !f.init(std::nan(""), 4));
        QVERIFY(!f.process(nullptr, 10) && !f.process(x.data(), 0) && sameBits(x, before) && f.order() == 4 && capture.all().size() == 6);
        QVERIFY2(QRegularExpression("^source/zorvaniDsp/Filters/IirLowpassZorvani:\\d+ : code: -?\\d+ , text: .+$")
                     .match(capture.all().first()).hasMatch(), qPrintable(capture.all().first()));
    }

    // L / M in lowest terms; 8 taps per phase (converting down, 8 per phase
    // for every L of M); DC gain 1. Conversions 39062.5 -> 48000 and 8000 are
    // the direct polyphase sum.
    void resamplerDesignFramesAndRefusals()
    {
        const struct { float in, out; int L, M; } rows[] = {
            {39062.5f, 48000.0f, 768, 625}, {48000.0f, 48000.0f, 1, 1}, {48000.0f, 39062.5f, 625, 768},
            {39062.5f, 8000.0f, 128, 625}, {44100.0f, 48000.0f, 160, 147}};
        for (const auto& r : rows) {
            Resampler rs;
            QVERIFY(rs.init(r.in, r.out));
            const int taps = 8 * r.L * (r.M > r.L ? (r.M + r.L - 1) / r.L : 1);
            const double sum = std::accumulate(rs.coefficients().begin(), rs.coefficients().end(), 0.0);
            QVERIFY2(rs.interpolation() == r.L && rs.decimation() == r.M && rs.taps() == taps && int(rs.coefficients().size()) == taps
                         && std::abs(sum - 1.0) < 1e-5, qPrintable(QString("%1 -> %2").arg(r.in).arg(r.out)));
            if (r.in != 39062.5f || r.out == 39062.5f)
                continue;
            const Signal in = noise(3000, 9, 0.8), fast = convert(rs, in), ref = directPolyphase(rs.coefficients(), r.L, 625, in);
            QVERIFY2(fast.size() == ref.size() && maxDifference(fast, ref) < 2e-6, qPrintable(QString::number(maxDifference(fast, ref))));
        }
        // 625 in give 768 out; any cut of the input gives each call no more than
        // its bound and 768 per 625 overall. A refused rate keeps the working design.
        Resampler r;
        Signal in = noise(4, 1), out(4, C{7.0, 7.0});
        QVERIFY(r.process(in.data(), out.data(), 4) == 0 && out[0].re == 7.0); // not initialised
        QVERIFY(r.init(39062.5f, 48000.0f) && convert(r, noise(625, 1)).size() == 768u && Resampler::maxOutput(625, 768, 625) == 768);
        r.reset();
        int total = 0;
        std::mt19937 gen(5);
        for (int consumed = 0, n = 0; consumed < 625 * 8; consumed += n) {
            n = std::min(int(gen() % 300) + 1, 625 * 8 - consumed);
            const int frames = int(convert(r, noise(n, unsigned(consumed))).size());
            QVERIFY2(frames <= Resampler::maxOutput(n, 768, 625), qPrintable(QString("%1 frames from %2").arg(frames).arg(n)));
            total += frames;
        }
        QCOMPARE(total, 768 * 8);
        MessageCapture capture;
        QVERIFY(!r.init(0.0f, 48000.0f) && !r.init(48000.0f, -1.0f) && !r.init(std::nanf(""), 48000.0f));
        QVERIFY(!r.init(0.01f, 48000.0f));    // truncates to 0
        QVERIFY(!r.init(99999.7f, 48000.1f)); // L and M far too large
        QVERIFY(r.interpolation() == 768 && r.decimation() == 625 && capture.all().size() == 5);
    }

    // A 1 kHz tone comes out at 1 kHz at its level. Up to 48000 Hz all that is
    // not that tone (images, aliases, rounding) stays below -80 dBc; 1:1 is a
    // low-pass at 0.4 of the rate; converting down, the cut-off follows the
    // output's half rate: 6 kHz does not fold back to 2 kHz, and 1 kHz lies
    // at 0.31 of the 3200 Hz cut-off, where the window's transition begins:
    // within 2 %.
    void resamplerPassAndStop()
    {
        const struct { float in, out; double passTolerance, residualDb, stopHz, stopDb; } rows[] = {
            {39062.5f, 48000.0f, 1e-3, -80.0, 0.0, 0.0}, {48000.0f, 48000.0f, 0.01, 0.0, 22000.0, -6.0},
            {39062.5f, 8000.0f, 0.02, 0.0, 6000.0, -60.0}};
        for (const auto& r : rows) {
            Resampler rs;
            QVERIFY(rs.init(r.in, r.out));
            const int skip = int(r.out) / 10, length = int(r.out) * 4 / 5; // whole cycles of 1 kHz
            const Signal pass = convert(rs, tone(int(r.in), 1000.0 / r.in, 0.5));
            QVERIFY(int(pass.size()) >= skip + length);
            const std::complex<double> a = dft(pass.data() + skip, length, 1000.0 / r.out);
            double residual = 0.0;
            for (int k = 0; k < length; ++k)
                residual += std::norm(toStd(pass[skip + k]) - a * std::polar(1.0, double(kTwoPiL * 1000.0 / r.out * k)));
            const double dBc = 10.0 * std::log10(residual / length / std::norm(a));
            QVERIFY2(std::abs(std::abs(a) / 0.5 - 1.0) < r.passTolerance && (r.residualDb == 0.0 || dBc < r.residualDb),
                     qPrintable(QString("%1 -> %2: gain %3, residual %4 dBc").arg(r.in).arg(r.out).arg(std::abs(a) / 0.5).arg(dBc)));
            if (r.stopHz == 0.0)
                continue;
            rs.reset();
            const Signal stop = convert(rs, tone(int(r.in), r.stopHz / r.in));
            const double heard = r.stopHz < r.out / 2.0 ? r.stopHz : std::abs(r.out - r.stopHz);
            const double level = db(std::abs(dft(stop.data() + skip, length, heard / r.out)));
            QVERIFY2(level < r.stopDb, qPrintable(QString("%1 Hz at %2 dB").arg(heard).arg(level)));
        }
    }
};

QTEST_APPLESS_MAIN(TestRateFilters)
#include "tst_ratefilters.moc"
