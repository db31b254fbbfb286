#include "DspTestSupport.h"
#include "zorvaniDsp/Filters/Resampler.h"

#include <QtTest>

using namespace dsptest;

namespace {

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

class TestResampler : public QObject {
    Q_OBJECT
private slots:
    // L / M in lowest terms; 8 taps per phase (converting down, 8 per phase
    // for every L of M); DC gain 1. Conversions 39062.5 -> 48000 and 8000 are
    // the direct polyphase sum.
    void ratioAndDesign()
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
    }

    // 625 in give 768 out; any cut of the input gives each call no more than
    // its bound and 768 per 625 overall. A refused rate keeps the working design.
    void framesAndRefusals()
    {
        Resampler r;
        Signal in = noise(4, 1), out(4, C{7.0, 7.0});
        QVERIFY(r.process(in.data(), out.data(), 4) == 0 && out[0].re == 7.0); // not initialised
        QVERIFY(r.init(39062.5f, 48000.0f));
        QVERIFY(convert(r, noise(625, 1)).size() == 768u && Resampler::maxOutput(625, 768, 625) == 768);
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
    void passAndStop()
    {
        const struct { float in, out; double passTolerance, residualDb, stopHz, stopDb; } rows[] = {
            {39062.5f, 48000.0f, 1e-3, -80.0, 0.0, 0.0}, {48000.0f, 48000.0f, 0.01, 0.0, 22000.0, -6.0}, {39062.5f, 8000.0f, 0.02, 0.0, 6000.0, -60.0}};
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

QTEST_APPLESS_MAIN(TestResampler)
#include "tst_resampler.moc"
