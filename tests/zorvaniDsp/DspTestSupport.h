#pragma once

// References for the DSP tests, written independently of the code under test:
// signals from closed forms, a direct DFT in long double, tone measures, and a
// capture of Qt warnings.
#include "OstrovixComplex.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace dsptest {

using C = Ostrovix::complex<double>;
using Signal = std::vector<C>;

constexpr double kPi = 3.14159265358979323846;
constexpr long double kTwoPiL = 6.283185307179586476925286766559L;
constexpr double kFs = 39062.5; // the working rate

inline std::complex<double> toStd(const C& c) { return {c.re, c.im}; }

// a · exp(j(2π rel k + phase)), k = 0 .. n-1.
inline Signal tone(int n, double rel, double amplitude = 1.0, double phase = 0.0)
{
    Signal s(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        s[k] = {double(amplitude * std::cos(kTwoPiL * rel * k + phase)), double(amplitude * std::sin(kTwoPiL * rel * k + phase))};
    return s;
}

// The same in Hz at the working rate.
inline Signal toneHz(int n, double hz, double amplitude = 1.0, double phase = 0.0) { return tone(n, hz / kFs, amplitude, phase); }

// Real audio tone in both re and im (mono frames).
inline Signal monoTone(int n, double hz, double amplitude = 1.0)
{
    Signal x(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k)
        x[k].re = x[k].im = amplitude * std::cos(2.0 * kPi * hz * k / kFs);
    return x;
}

// n samples whose parts are drawn from `dist`.
template <typename Distribution>
Signal drawn(int n, unsigned seed, Distribution dist)
{
    std::mt19937 gen(seed);
    Signal s(static_cast<size_t>(n));
    for (C& c : s)
        c = {dist(gen), dist(gen)};
    return s;
}

// Uniform in [-amplitude, amplitude] per part.
inline Signal noise(int n, unsigned seed, double amplitude = 1.0) { return drawn(n, seed, std::uniform_real_distribution<double>(-amplitude, amplitude)); }

// Complex white Gaussian noise of the given total rms.
inline Signal gaussian(int n, double rms, unsigned seed) { return drawn(n, seed, std::normal_distribution<double>(0.0, rms / std::sqrt(2.0))); }

inline Signal operator+(Signal x, const Signal& y)
{
    for (size_t k = 0; k < x.size() && k < y.size(); ++k)
        x[k] = {x[k].re + y[k].re, x[k].im + y[k].im};
    return x;
}

// (1/n) Σ x_k exp(-j2π rel k): the complex amplitude of the component at rel.
inline std::complex<double> dft(const C* x, int n, double rel)
{
    long double re = 0, im = 0;
    for (int k = 0; k < n; ++k) {
        const long double p = -kTwoPiL * rel * k;
        const long double c = std::cos(p), s = std::sin(p);
        re += x[k].re * c - x[k].im * s;
        im += x[k].re * s + x[k].im * c;
    }
    return {double(re / n), double(im / n)};
}

// Amplitude of exp(j2π hz t) in x[first .. first + n) at the rate fs.
inline double complexAmplitude(const Signal& x, int first, int n, double hz, double fs = kFs) { return std::abs(dft(&x[size_t(first)], n, hz / fs)); }

// Amplitude of a real cosine at hz in re (`part` 0) or im (1) of x.
inline double realAmplitude(const Signal& x, int first, int n, double hz, int part = 0, double fs = kFs)
{
    std::complex<double> sum = 0.0;
    for (int k = 0; k < n; ++k)
        sum += (part == 0 ? x[size_t(first + k)].re : x[size_t(first + k)].im) * std::polar(1.0, -2.0 * kPi * hz * k / fs);
    return 2.0 * std::abs(sum) / n;
}

// Harmonics 2..6 of hz over the fundamental, in re or im.
inline double thd(const Signal& x, int first, int n, double hz, int part = 0)
{
    double harmonics = 0.0;
    for (int h = 2; h <= 6 && h * hz < kFs / 2; ++h)
        harmonics += std::pow(realAmplitude(x, first, n, h * hz, part), 2);
    return std::sqrt(harmonics) / realAmplitude(x, first, n, hz, part);
}

inline double rms(const Signal& x, int first, int n, int part = 0)
{
    double sum = 0.0;
    for (int k = first; k < first + n; ++k)
        sum += std::pow(part == 0 ? x[size_t(k)].re : x[size_t(k)].im, 2);
    return std::sqrt(sum / n);
}

inline double db(double ratio) { return 20.0 * std::log10(ratio); }

// Runs process(pointer, count) over x in blocks of `block` samples.
template <typename F>
void inBlocks(Signal& x, int block, F process)
{
    const int n = int(x.size());
    for (int done = 0; done < n; done += block)
        process(x.data() + done, std::min(block, n - done));
}

inline bool sameBits(const Signal& a, const Signal& b) { return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(C)) == 0; }

inline double maxDifference(const Signal& a, const Signal& b)
{
    double d = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        d = std::max(d, std::abs(toStd(a[i]) - toStd(b[i])));
    return a.size() == b.size() ? d : INFINITY;
}

inline bool silent(const C* x, int n) { return std::all_of(x, x + n, [](const C& c) { return c.re == 0.0 && c.im == 0.0; }); }

// Collects Qt messages while alive.
class MessageCapture {
public:
    MessageCapture() : m_previous(qInstallMessageHandler(&MessageCapture::handler)) { messages().clear(); }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }
    const QStringList& all() const { return messages(); }

private:
    static QStringList& messages() { static QStringList list; return list; }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text) { messages().append(text); }
    QtMessageHandler m_previous;
};

} // namespace dsptest
