#pragma once

#include "../blocks/BlockTestSupport.h"

// The block tests' references in the terms of the mode stages: audio
// frequencies in Hz at the working rate, real tones in re and im.
namespace modestest {

using Sample = blocktest::C;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFs = 39062.5;

// One DFT bin (rectangular window) of n values x[k * stride], at frequency
// hz for the sample rate fs. Coherent tones (whole cycles in n) are measured
// exactly.
inline std::complex<double> dftBin(const double* x, int stride, int n, double hz, double fs)
{
    std::complex<double> sum = 0.0;
    const double w = -2.0 * kPi * hz / fs;
    for (int k = 0; k < n; ++k)
        sum += x[k * stride] * std::polar(1.0, w * k);
    return sum;
}

// Amplitude of a real sinusoid at hz in the re (part 0) or im (part 1) of a
// complex block.
inline double toneAmplitude(const std::vector<Sample>& x, int first, int n, double hz, int part = 0,
                            double fs = kFs)
{
    const double* base = &x[static_cast<size_t>(first)].re + part;
    return 2.0 * std::abs(dftBin(base, 2, n, hz, fs)) / n;
}

// Amplitude of exp(j 2 pi hz t) in a complex block.
inline double complexToneAmplitude(const std::vector<Sample>& x, int first, int n, double hz, double fs = kFs)
{
    return std::abs(blocktest::dft(&x[static_cast<size_t>(first)], n, hz / fs));
}

// Total harmonic distortion (harmonics 2..maxHarmonic over the fundamental)
// of the re or im part.
inline double thd(const std::vector<Sample>& x, int first, int n, double hz, int part = 0, int maxHarmonic = 6,
                  double fs = kFs)
{
    const double fundamental = toneAmplitude(x, first, n, hz, part, fs);
    double harmonics = 0.0;
    for (int h = 2; h <= maxHarmonic && h * hz < fs / 2; ++h) {
        const double a = toneAmplitude(x, first, n, h * hz, part, fs);
        harmonics += a * a;
    }
    return std::sqrt(harmonics) / fundamental;
}

inline double db(double ratio)
{
    return 20.0 * std::log10(ratio);
}

// exp(j(2 pi hz k / fs + phase)) * amplitude for k = 0..n-1.
inline std::vector<Sample> complexTone(int n, double hz, double amplitude = 1.0, double phase = 0.0, double fs = kFs)
{
    return blocktest::tone(n, hz / fs, amplitude, phase);
}

// Real audio tone on re with im = re (mono frames).
inline std::vector<Sample> monoTone(int n, double hz, double amplitude = 1.0, double fs = kFs)
{
    std::vector<Sample> x(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const double v = amplitude * std::cos(2.0 * kPi * hz * k / fs);
        x[static_cast<size_t>(k)] = {v, v};
    }
    return x;
}

// Complex white Gaussian noise with the given total rms.
inline std::vector<Sample> complexNoise(int n, double rms, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms / std::sqrt(2.0));
    std::vector<Sample> x(static_cast<size_t>(n));
    for (Sample& s : x)
        s = {g(rng), g(rng)};
    return x;
}

inline void add(std::vector<Sample>& x, const std::vector<Sample>& y)
{
    for (size_t k = 0; k < x.size() && k < y.size(); ++k) {
        x[k].re += y[k].re;
        x[k].im += y[k].im;
    }
}

inline double rms(const std::vector<Sample>& x, int first, int n, int part = 0)
{
    double sum = 0.0;
    for (int k = first; k < first + n; ++k) {
        const double v = part == 0 ? x[static_cast<size_t>(k)].re : x[static_cast<size_t>(k)].im;
        sum += v * v;
    }
    return std::sqrt(sum / n);
}

// Runs `process(ptr, count)` over x in blocks of `block` samples.
template <typename F>
void inBlocks(std::vector<Sample>& x, int block, F process)
{
    const int n = static_cast<int>(x.size());
    for (int done = 0; done < n; done += block)
        process(x.data() + done, std::min(block, n - done));
}

inline bool sameSamples(const std::vector<Sample>& a, const std::vector<Sample>& b)
{
    return blocktest::sameBits(a, b);
}

} // namespace modestest
