#include "DspTestSupport.h"
#include "vector/Vector.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"
#include "zorvaniDsp/zorvaniFFT/zorvaniFFT64f.h"

#include <QtTest>

using namespace dsptest;

namespace {

// The band-pass prototype written out from its definition: windowed
// -2·sin(πmB)/(πm)·exp(jπm(low+high)), m = k - floor(T/2), k = 1 .. T.
std::vector<std::complex<double>> prototype(double low, double high, int taps)
{
    std::vector<std::complex<double>> h(static_cast<size_t>(taps));
    const double pi = kPi;
    const double lift = std::pow(10.0, 0.44);
    for (int k = 1; k <= taps; ++k) {
        const int m = k - taps / 2;
        const double a = m == 0 ? -2.0 * (high - low) : -2.0 * std::sin(pi * m * (high - low)) / (pi * m);
        const double x = taps > 1 ? 2.0 * pi * (k - 1) / (taps - 1) : pi;
        const double w = (0.3635819 - 0.4891775 * std::cos(x) + 0.1365995 * std::cos(2 * x)
                          - 0.0106411 * std::cos(3 * x)) * lift;
        h[k - 1] = std::polar(a * w, pi * m * (low + high));
    }
    return h;
}

// Largest real or imaginary component of the N-point DFT of h.
double largestComponent(const std::vector<std::complex<double>>& h, int n)
{
    double largest = 0.0;
    for (int b = 0; b < n; ++b) {
        std::complex<long double> sum = 0;
        for (size_t k = 0; k < h.size(); ++k)
            sum += std::complex<long double>(h[k]) * std::polar(1.0L, -kTwoPiL * b * k / n);
        largest = std::max({largest, double(std::abs(sum.real())), double(std::abs(sum.imag()))});
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
    void fftSizeForTaps_data()
    {
        QTest::addColumn<uint>("taps");
        QTest::addColumn<uint>("size");
        QTest::newRow("1") << 1u << 256u;
        QTest::newRow("2") << 2u << 512u;
        QTest::newRow("254") << 254u << 512u;
        QTest::newRow("257") << 257u << 512u;
        QTest::newRow("1537") << 1537u << 2048u;
        QTest::newRow("1793") << 1793u << 2048u;
        QTest::newRow("1794") << 1794u << 4096u;
        QTest::newRow("16129 (largest)") << 16129u << 16384u;
    }

    void fftSizeForTaps()
    {
        QFETCH(uint, taps);
        QFETCH(uint, size);
        FastFirZorvani fir;
        QVERIFY(fir.init(0.01, 0.1, taps));
        QCOMPARE(fir.fftSize(), size);
        QCOMPARE(fir.taps(), taps);
    }

    // The design's window (the spectra's too): ends a0 - a1 + a2 - a3, an odd
    // window's centre the sum of the terms, both lifted by 1/10^(-0.44);
    // symmetric; float and double alike.
    void blackmanNuttallWindow()
    {
        for (int length : {9, 16, 1537}) {
            std::vector<double> w(static_cast<size_t>(length));
            std::vector<float> wf(w.size());
            ox::vec::blackmanNuttall(w.data(), length);
            ox::vec::blackmanNuttall(wf.data(), length);
            const double lift = std::pow(10.0, 0.44);
            QVERIFY(std::abs(w.front() - (0.3635819 - 0.4891775 + 0.1365995 - 0.0106411) * lift) < 1e-12);
            if (length % 2)
                QVERIFY(std::abs(w[size_t(length / 2)] - (0.3635819 + 0.4891775 + 0.1365995 + 0.0106411) * lift) < 1e-12);
            for (int k = 0; k < length; ++k)
                QVERIFY(std::abs(w[k] - w[length - 1 - k]) < 1e-12 && std::abs(wf[k] - float(w[k])) < 1e-6f);
        }
    }

    void tapCountsOutOfRangeRefused()
    {
        FastFirZorvani fir;
        QVERIFY(fir.init(0.0, 0.1, 1537));
        const Ostrovix::complex<double> before = fir.response()[5];
        MessageCapture capture;
        QVERIFY(!fir.init(0.0, 0.2, 0));
        QVERIFY(!fir.init(0.0, 0.2, 16130));
        QVERIFY(!fir.init(0.1, 0.1, 63));  // no passband: no response to normalise
        QCOMPARE(capture.all().size(), 3);
        QCOMPARE(fir.taps(), 1537u);
        QCOMPARE(fir.fftSize(), 2048u);
        QCOMPARE(fir.response()[5].re, before.re);
    }

    // The filter is linear convolution with the normalised prototype: compare
    // with a direct-form FIR built from the definition.
    void matchesDirectConvolution_data()
    {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<int>("taps");
        QTest::newRow("USB 63 taps") << 0.01 << 0.08 << 63;
        QTest::newRow("LSB 255 taps") << -0.08 << -0.01 << 255;
        QTest::newRow("AM 1537 taps") << -0.12 << 0.12 << 1537;
    }

    void matchesDirectConvolution()
    {
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(int, taps);
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
                ref += h[k] * toStd(input[n - k]);
            worst = std::max(worst, std::abs(ref * scale - toStd(y[n])));
        }
        QVERIFY2(worst < 1e-9, qPrintable(QString("largest difference %1").arg(worst)));
    }

    // At the bin of the largest response component the gain is 1.0 and the
    // passband is flat around it.
    void passbandGainIsOneAtThePeak()
    {
        FastFirZorvani fir;
        const double fs = 39062.5;
        QVERIFY(fir.init(300.0 / fs, 3000.0 / fs, 1537));
        const int n = int(fir.fftSize());
        int peakBin = 0;
        double peak = 0.0;
        for (int b = 0; b < n; ++b) {
            const double c = std::max(std::abs(fir.response()[b].re), std::abs(fir.response()[b].im));
            if (c > peak) {
                peak = c;
                peakBin = b;
            }
        }
        QCOMPARE(peak, 1.0);
        const double rel = double(peakBin) / n;
        QVERIFY2(rel > 300.0 / fs && rel < 3000.0 / fs, "peak outside the passband");
        const std::complex<double> g = gainAt(fir, rel);
        const double component = std::max(std::abs(g.real()), std::abs(g.imag()));
        QVERIFY2(std::abs(component - 1.0) < 1e-9, qPrintable(QString::number(component, 'g', 12)));
        // The linear phase turns the response off the axes between bins, so
        // the magnitude there may exceed the component slightly.
        const double peakDb = db(std::abs(g));
        QVERIFY2(peakDb >= 0.0 && peakDb < 0.05, qPrintable(QString::number(peakDb)));
        for (double f : {500.0, 1000.0, 2000.0, 2800.0}) {
            const double dB = db(std::abs(gainAt(fir, f / fs)));
            QVERIFY2(std::abs(dB - peakDb) < 0.001, qPrintable(QString("%1 Hz: %2 dB").arg(f).arg(dB)));
        }
    }

    void stopBandAttenuation_data()
    {
        QTest::addColumn<double>("hz");
        QTest::newRow("-1000 Hz (other sideband)") << -1000.0;
        QTest::newRow("0 Hz") << 0.0;
        QTest::newRow("3600 Hz") << 3600.0;
        QTest::newRow("10 kHz") << 10000.0;
        QTest::newRow("-15 kHz") << -15000.0;
    }

    void stopBandAttenuation()
    {
        QFETCH(double, hz);
        FastFirZorvani fir;
        const double fs = 39062.5;
        QVERIFY(fir.init(300.0 / fs, 3000.0 / fs, 1537));
        const double pass = std::abs(gainAt(fir, 1500.0 / fs));
        const double stop = std::abs(gainAt(fir, hz / fs));
        const double attenuation = db(pass / stop);
        QVERIFY2(attenuation >= 80.0, qPrintable(QString("%1 dB").arg(attenuation)));
    }

    void edgesAreLimited()
    {
        FastFirZorvani wide, limited;
        QVERIFY(wide.init(-0.6, 0.7, 255));
        QVERIFY(limited.init(-0.5, 0.5, 255));
        for (uint32_t b = 0; b < wide.fftSize(); ++b) {
            QCOMPARE(wide.response()[b].re, limited.response()[b].re);
            QCOMPARE(wide.response()[b].im, limited.response()[b].im);
        }
    }

    // A new design keeps the overlap tail: a change of filter does not click.
    void initKeepsOverlap()
    {
        FastFirZorvani fir;
        QVERIFY(fir.init(0.0, 0.2, 127));
        Signal c = noise(200, 32), zeros(200, C{0.0, 0.0});
        QVERIFY(fir.process(c.data(), 200));
        QVERIFY(fir.init(0.0, 0.2, 127));
        QVERIFY(fir.process(zeros.data(), 200));
        QVERIFY2(maxDifference(zeros, Signal(200, C{0.0, 0.0})) > 1e-3, "overlap tail was lost by init");
    }

    // The transforms run on the caller's buffer, or through a copy when it
    // lacks FFTW's alignment: the same numbers either way.
    void fftWrapperAgainstDft_data()
    {
        QTest::addColumn<int>("offset");
        QTest::newRow("aligned buffer") << 0;
        QTest::newRow("buffer 8 bytes off") << 1;
    }

    void fftWrapperAgainstDft()
    {
        QFETCH(int, offset);
        zorvaniFFT64f fft;
        QVERIFY(fft.init(16));
        QCOMPARE(fft.size(), 16u);
        const Signal input = noise(16, 40);
        std::vector<double> storage(2 * 16 + 2);
        auto* x = reinterpret_cast<C*>(storage.data() + offset);
        std::copy(input.begin(), input.end(), x);
        QVERIFY(fft.process(x, 16, 0));
        for (int b = 0; b < 16; ++b)
            QVERIFY(std::abs(toStd(x[b]) - dft(input.data(), 16, b / 16.0)) < 1e-12);
        QVERIFY(fft.process(x, 16, 1));
        QVERIFY(maxDifference(Signal(x, x + 16), input) < 1e-12);
        std::copy(input.begin(), input.end(), x);
        Signal spectrum(16);
        QVERIFY(fft.forwardUnscaled(x, spectrum.data(), 16));
        QVERIFY(maxDifference(Signal(x, x + 16), input) == 0.0);
        for (int b = 0; b < 16; ++b)
            QVERIFY(std::abs(toStd(spectrum[size_t(b)]) - 16.0 * dft(input.data(), 16, b / 16.0)) < 1e-11);
        QVERIFY(fft.inverse(spectrum.data(), x, 16));
        for (int k = 0; k < 16; ++k)
            QVERIFY(std::abs(toStd(x[k]) - 16.0 * toStd(input[size_t(k)])) < 1e-11);
        QVERIFY(!fft.process(nullptr, 16, 0));
        QVERIFY(!fft.process(x, 0, 0));
        QVERIFY(!fft.process(x, 8, 0));
        QVERIFY(!fft.process(x, 16, 2));
        QVERIFY(!fft.forwardUnscaled(x, spectrum.data(), 8));
        QVERIFY(!fft.inverse(spectrum.data(), nullptr, 16));
    }

    void fftSizeRefused_data()
    {
        QTest::addColumn<uint>("size");
        QTest::newRow("1000") << 1000u;
        QTest::newRow("1") << 1u;
        QTest::newRow("0") << 0u;
    }

    void fftSizeRefused()
    {
        QFETCH(uint, size);
        zorvaniFFT64f fft;
        QVERIFY(fft.init(1024));
        MessageCapture capture;
        QVERIFY(!fft.init(size));
        QCOMPARE(fft.size(), 0u);
        QCOMPARE(capture.all().size(), 1);
        const QString text = capture.all().first();
        QVERIFY2(text.startsWith("source/zorvaniDsp/zorvaniFFT/zorvaniFFT64f"), qPrintable(text));
        QVERIFY2(text.endsWith(" : Incorrect fft size!"), qPrintable(text));
        Signal x = noise(1024, 1);
        QVERIFY(!fft.process(x.data(), 1024, 0));
    }
};

QTEST_APPLESS_MAIN(TestFastFir)
#include "tst_fastfir.moc"
