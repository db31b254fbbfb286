#pragma once

#include "ToneAnalysis.h"

#include <QtCore>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>
#include <vector>

// Listening checks for the system tests, on one channel of audio holding one
// steady tone (or two): its exact frequency, its signal to noise and
// distortion, and its continuity (no sample step the tones cannot make, no
// dip in level). Written here from first principles; nothing of the plug-in
// is used.
namespace systest {

constexpr double kPi = 3.14159265358979323846;

// Least-squares fit of x = sum of a_k cos(w_k n) + b_k sin(w_k n) + c over a
// window, for known frequencies: the tones' amplitudes and the power of what
// is left (noise and distortion).
struct Fit {
    std::vector<double> amplitude; // per tone
    double residualPower = 0.0;
};

inline Fit fitTones(const double* x, int n, double fs, const std::vector<double>& hz)
{
    const int m = 2 * int(hz.size()) + 1;
    const auto basis = [&](int j, int i) {
        return j == m - 1 ? 1.0 : j % 2 ? std::sin(2.0 * kPi * hz[size_t(j / 2)] * i / fs)
                                        : std::cos(2.0 * kPi * hz[size_t(j / 2)] * i / fs);
    };
    std::vector<double> a(size_t(m * (m + 1)), 0.0), row(size_t(m), 0.0); // normal equations, augmented
    const auto at = [&](int r, int k) -> double& { return a[size_t(r * (m + 1) + k)]; };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j)
            row[size_t(j)] = basis(j, i);
        for (int j = 0; j < m; ++j) {
            for (int k = 0; k < m; ++k)
                at(j, k) += row[size_t(j)] * row[size_t(k)];
            at(j, m) += row[size_t(j)] * x[i];
        }
    }
    for (int p = 0; p < m; ++p) { // Gauss-Jordan with partial pivoting
        int best = p;
        for (int r = p + 1; r < m; ++r)
            best = std::abs(at(r, p)) > std::abs(at(best, p)) ? r : best;
        for (int k = 0; k <= m; ++k)
            std::swap(at(p, k), at(best, k));
        for (int k = m; k >= p; --k)
            at(p, k) /= at(p, p);
        for (int r = 0; r < m; ++r)
            for (int k = m; k >= p && r != p; --k)
                at(r, k) -= at(r, p) * at(p, k);
    }
    Fit fit;
    for (int t = 0; t < int(hz.size()); ++t)
        fit.amplitude.push_back(std::hypot(at(2 * t, m), at(2 * t + 1, m)));
    for (int i = 0; i < n; ++i) {
        double model = 0.0;
        for (int j = 0; j < m; ++j)
            model += at(j, m) * basis(j, i);
        fit.residualPower += (x[i] - model) * (x[i] - model) / n;
    }
    return fit;
}

// Frequency of the tone near guessHz to a small fraction of a hertz: the
// phase advance of the tone between consecutive 0.1 s segments.
inline double toneFrequency(const std::vector<double>& x, double fs, double guessHz)
{
    const int segment = int(0.1 * fs);
    std::complex<double> previous, advance;
    for (int s = 0; s < int(x.size()) / segment; ++s) {
        std::complex<double> sum;
        for (int k = s * segment; k < (s + 1) * segment; ++k)
            sum += x[size_t(k)] * std::polar(1.0, -2.0 * kPi * guessHz / fs * k);
        advance += s > 0 ? sum * std::conj(previous) : std::complex<double>();
        previous = sum;
    }
    return guessHz + std::arg(advance) / (2.0 * kPi * segment / fs);
}

// The first place where the audio breaks, or empty. A step is a sample that
// the tones cannot reach from the ones before: what is left after a notch at
// every tone and at DC (their second-order predictors and a first difference)
// exceeds `stepFraction` of the tones' amplitude; a step of s leaves up to 2 s,
// a lost sample at least the tone's own step (0.09 for 700 Hz at 48000 Hz),
// noise 70 dB down about 0.002 and a WFM pilot residue 0.014. A dip is a
// window of whole tone periods, 5 ms or more, whose level is `dipDb` under the
// record's median.
struct Continuity {
    QString problem;
    double worstStep = 0.0; // of the amplitude
    double worstDipDb = 0.0;
};

inline Continuity checkContinuity(const std::vector<double>& x, double fs, const std::vector<double>& hz,
                                  double amplitude, double stepFraction = 0.05, double dipDb = 0.5)
{
    Continuity c;
    std::vector<double> r(x);
    for (double f : hz)
        for (size_t i = r.size() - 1; i >= 2; --i)
            r[i] += r[i - 2] - 2.0 * std::cos(2.0 * kPi * f / fs) * r[i - 1];
    const size_t settled = 2 * hz.size() + 1;
    for (size_t i = r.size() - 1; i >= settled; --i)
        r[i] -= r[i - 1];
    for (size_t i = settled; i < r.size(); ++i) {
        const double step = std::abs(r[i]) / amplitude;
        if (step > stepFraction && c.problem.isEmpty())
            c.problem = QStringLiteral("step of %1 of the amplitude at %2 s").arg(step).arg(double(i) / fs);
        c.worstStep = std::max(c.worstStep, step);
    }
    const double lowest = *std::min_element(hz.begin(), hz.end());
    const size_t window = size_t(std::max(1L, std::lround(std::ceil(0.005 * lowest) * fs / lowest)));
    std::vector<double> levels;
    for (size_t i = 0; i + window <= x.size(); i += window)
        levels.push_back(std::sqrt(std::inner_product(&x[i], &x[i] + window, &x[i], 0.0) / double(window)));
    if (levels.empty())
        return c;
    std::vector<double> sorted(levels);
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    for (size_t w = 0; w < levels.size(); ++w) {
        const double db = 20.0 * std::log10(std::max(levels[w], 1e-30) / sorted[sorted.size() / 2]);
        if (db < -dipDb && c.problem.isEmpty())
            c.problem = QStringLiteral("level %1 dB at %2 s").arg(db).arg(double(w * window) / fs);
        c.worstDipDb = std::min(c.worstDipDb, db);
    }
    return c;
}

} // namespace systest
