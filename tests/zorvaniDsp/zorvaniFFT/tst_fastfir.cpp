#include "DspTestSupport.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <QtTest>

using namespace dsptest;

namespace {

// The band-pass prototype written out from its definition: windowed
// -2·sin(πmB)/(πm)·exp(jπm(low+high)), m = k - floor(T/2), k = 1 .. T.
Signal prototype(double low, double high, int taps)
{
    Signal h(static_cast<size_t>(taps));
    for (int k = 1; k <= taps; ++k) {
        const int m = k - taps / 2;
        const double a = m == 0 ? -2.0 * (high - low) : -2.0 * std::sin(kPi * m * (high - low)) / (kPi * m);
        const double x = taps > 1 ? 2.0 * kPi * (k - 1) / (taps - 1) : kPi;
        const double w = 0.3635819 - 0.4891775 * std::cos(x) + 0.1365995 * std::cos(2 * x) - 0.0106411 * std::cos(3 * x);
        const std::complex<double> v = std::polar(a * w * std::pow(10.0, 0.44), kPi * m * (low + high));
        h[k - 1] = {v.real(), v.imag()};
    }
    return h;
}

// Largest real or imaginary component of the N-point DFT of h.
double largestComponent(const Signal& h, int n)
{
    double largest = 0.0;
    for (int b = 0; b < n; ++b) {
        const std::complex<double> sum = dft(h.data(), int(h.size()), double(b) / n) * double(h.size());
        largest = std::max({largest, std::abs(sum.real()), std::abs(sum.imag())});
    }
    return largest;
}

// Steady-state complex gain of the filter for a tone at rel.
std::complex<double> gainAt(FastFirZorvani& fir, double rel)
{
    fir.reset();
    const int settle = 4096, measure = 8192;
    Signal x = tone(settle + measure, rel);
    fir.process(x.data(), uint32_t(x.size()));
    return dft(x.data() + settle, measure, rel) / std::polar(1.0, double(kTwoPiL * rel * settle));
}

} // namespace

class TestFastFir : public QObject {
    Q_OBJECT
private slots:
    // N is the smallest power of two of at least 256 that holds a 256-sample
    // piece and the taps; tap counts out of range, or a design without a
    // passband, are refused and the working design kept; edges are limited
    // to +-0.5.
    void designLimits()
    {
        FastFirZorvani fir, wide, limited;
        const std::pair<uint32_t, uint32_t> sizes[] = {{1, 256}, {2, 512}, {257, 512}, {1537, 2048}, {1793, 2048}, {1794, 4096}, {16129, 16384}};
        for (const auto& [taps, size] : sizes)
            QVERIFY2(fir.init(0.01, 0.1, taps) && fir.fftSize() == size && fir.taps() == taps, qPrintable(QString::number(taps)));
        QVERIFY(fir.init(0.0, 0.1, 1537));
        const double before = fir.response()[5].re;
        MessageCapture capture;
        QVERIFY(!fir.init(0.0, 0.2, 0) && !fir.init(0.0, 0.2, 16130) && !fir.init(0.1, 0.1, 63) && capture.all().size() == 3);
        QVERIFY(fir.taps() == 1537u && fir.fftSize() == 2048u && fir.response()[5].re == before);
        QVERIFY(wide.init(-0.6, 0.7, 255) && limited.init(-0.5, 0.5, 255));
        QVERIFY(sameBits(Signal(wide.response(), wide.response() + 512), Signal(limited.response(), limited.response() + 512)));
    }

    // The filter is linear convolution with the prototype normalised to a
    // largest response component of 1: compare with a direct-form FIR (USB,
    // LSB and AM shapes). The transforms behind it are checked with it.
    void matchesDirectConvolution()
    {
        const std::tuple<double, double, int> rows[] = {{0.01, 0.08, 63}, {-0.08, -0.01, 255}, {-0.12, 0.12, 1537}};
        for (const auto& [low, high, taps] : rows) {
            FastFirZorvani fir;
            QVERIFY(fir.init(low, high, uint32_t(taps)));
            const auto h = prototype(low, high, taps);
            const double scale = 1.0 / largestComponent(h, int(fir.fftSize()));
            const Signal input = noise(1500, 11);
            Signal y = input;
            QVERIFY(fir.process(y.data(), uint32_t(y.size())));
            double worst = 0.0;
            for (int n = 0; n < int(input.size()); ++n) {
                std::complex<double> ref = 0.0;
                for (int k = 0; k < taps && k <= n; ++k)
                    ref += toStd(h[k]) * toStd(input[n - k]);
                worst = std::max(worst, std::abs(ref * scale - toStd(y[n])));
            }
            QVERIFY2(worst < 1e-9, qPrintable(QString("%1 taps: largest difference %2").arg(taps).arg(worst)));
        }
    }

    // At the bin of the largest response component the gain is 1 and the
    // passband is flat around it; the other sideband, DC and everything away
    // from the passband lie 80 dB or more below it.
    void passbandAndStopband()
    {
        FastFirZorvani fir;
        QVERIFY(fir.init(300.0 / kFs, 3000.0 / kFs, 1537));
        const int n = int(fir.fftSize());
        const auto component = [&](int b) { return std::max(std::abs(fir.response()[b].re), std::abs(fir.response()[b].im)); };
        int peakBin = 0;
        for (int b = 0; b < n; ++b)
            peakBin = component(b) > component(peakBin) ? b : peakBin;
        QCOMPARE(component(peakBin), 1.0);
        const double rel = double(peakBin) / n;
        QVERIFY2(rel > 300.0 / kFs && rel < 3000.0 / kFs, "peak outside the passband");
        const std::complex<double> g = gainAt(fir, rel);
        QVERIFY2(std::abs(std::max(std::abs(g.real()), std::abs(g.imag())) - 1.0) < 1e-9, "gain at the peak");
        // The linear phase turns the response off the axes between bins, so
        // the magnitude there may exceed the component slightly.
        const double peakDb = db(std::abs(g));
        QVERIFY2(peakDb >= 0.0 && peakDb < 0.05, qPrintable(QString::number(peakDb)));
        for (double f : {500.0, 1000.0, 2000.0, 2800.0})
            QVERIFY2(std::abs(db(std::abs(gainAt(fir, f / kFs))) - peakDb) < 0.001, qPrintable(QString("%1 Hz").arg(f)));
        const double pass = std::abs(gainAt(fir, 1500.0 / kFs));
        for (double f : {-1000.0, 0.0, 3600.0, 10000.0, -15000.0})
            QVERIFY2(db(pass / std::abs(gainAt(fir, f / kFs))) >= 80.0, qPrintable(QString("%1 Hz").arg(f)));
    }

    // A new design keeps the overlap tail: a change of filter does not click.
    void initKeepsOverlap()
    {
        FastFirZorvani fir;
        Signal c = noise(200, 32), zeros(200, C{0.0, 0.0});
        QVERIFY(fir.init(0.0, 0.2, 127) && fir.process(c.data(), 200));
        QVERIFY(fir.init(0.0, 0.2, 127) && fir.process(zeros.data(), 200));
        QVERIFY2(!silent(zeros.data(), 200), "overlap tail was lost by init");
    }
};

QTEST_APPLESS_MAIN(TestFastFir)
#include "tst_fastfir.moc"
