#pragma once

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

// Tone measurement for the system tests: a Hann-windowed DFT evaluated bin by
// bin (no FFT library, so the plug-in's own transform is not the reference).
namespace systest {

struct Tone {
    double hz = 0.0;        // peak frequency, interpolated between bins
    double dominance = 0.0; // power within +-4 bins of the peak / power of the searched band
};

// x: n samples at rate fs; the peak is searched between lowHz and highHz.
inline Tone strongestTone(const std::vector<double>& x, double fs, double lowHz, double highHz)
{
    const std::size_t n = x.size();
    const double pi = 3.14159265358979323846, mean = std::accumulate(x.begin(), x.end(), 0.0) / double(n);
    std::vector<double> w(n);
    for (std::size_t i = 0; i < n; ++i)
        w[i] = (x[i] - mean) * (0.5 - 0.5 * std::cos(2.0 * pi * double(i) / double(n)));
    const int k0 = std::max(1, int(std::floor(lowHz * double(n) / fs)));
    const int k1 = std::min(int(n / 2) - 1, int(std::ceil(highHz * double(n) / fs)));
    std::vector<double> power;
    for (int k = k0; k <= k1; ++k) {
        // A rotator per bin (plain arithmetic: std::complex products check for
        // infinities), restarted from the exact phase every 1024 samples.
        const double step = -2.0 * pi * double(k) / double(n), dc = std::cos(step), ds = std::sin(step);
        double re = 0.0, im = 0.0;
        for (std::size_t i = 0; i < n; i += 1024) {
            double c = std::cos(step * double(i)), s = std::sin(step * double(i));
            for (std::size_t j = i; j < std::min(n, i + 1024); ++j) {
                re += w[j] * c;
                im += w[j] * s;
                const double nc = c * dc - s * ds;
                s = c * ds + s * dc;
                c = nc;
            }
        }
        power.push_back(re * re + im * im);
    }
    const std::size_t peak = std::size_t(std::max_element(power.begin(), power.end()) - power.begin());
    double delta = 0.0;
    if (peak > 0 && peak + 1 < power.size()) {
        const double a = std::log(power[peak - 1] + 1e-300), b = std::log(power[peak] + 1e-300),
                     c = std::log(power[peak + 1] + 1e-300);
        if (a - 2.0 * b + c < 0.0)
            delta = 0.5 * (a - c) / (a - 2.0 * b + c);
    }
    const double total = std::accumulate(power.begin(), power.end(), 0.0);
    const double near = std::accumulate(power.begin() + std::ptrdiff_t(peak > 4 ? peak - 4 : 0),
                                        power.begin() + std::ptrdiff_t(std::min(power.size(), peak + 5)), 0.0);
    return {(double(k0) + double(peak) + delta) * fs / double(n), total > 0.0 ? near / total : 0.0};
}

} // namespace systest
