#pragma once

#include "ToneAnalysis.h"

#include <QtCore>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

// Listening checks for the system tests, on one channel of audio holding one
// steady tone (or two): its exact frequency, its signal to noise and
// distortion, and its continuity (no sample step the tones cannot make, no
// dip in level). Written here from first principles; nothing of the plug-in
// is used.
namespace systest {

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
    auto basis = [&](int j, int i) {
        if (j == m - 1)
            return 1.0;
        const double phase = 2.0 * 3.14159265358979323846 * hz[size_t(j / 2)] * i / fs;
        return j % 2 ? std::sin(phase) : std::cos(phase);
    };
    std::vector<double> a(size_t(m * (m + 1)), 0.0); // normal equations, augmented
    std::vector<double> row(static_cast<size_t>(m), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j)
            row[size_t(j)] = basis(j, i);
        for (int j = 0; j < m; ++j) {
            for (int k = 0; k < m; ++k)
                a[size_t(j * (m + 1) + k)] += row[size_t(j)] * row[size_t(k)];
            a[size_t(j * (m + 1) + m)] += row[size_t(j)] * x[i];
        }
    }
    for (int p = 0; p < m; ++p) { // Gauss-Jordan with partial pivoting
        int best = p;
        for (int r = p + 1; r < m; ++r)
            if (std::abs(a[size_t(r * (m + 1) + p)]) > std::abs(a[size_t(best * (m + 1) + p)]))
                best = r;
        for (int k = 0; k <= m; ++k)
            std::swap(a[size_t(p * (m + 1) + k)], a[size_t(best * (m + 1) + k)]);
        const double pivot = a[size_t(p * (m + 1) + p)];
        for (int k = 0; k <= m; ++k)
            a[size_t(p * (m + 1) + k)] /= pivot;
        for (int r = 0; r < m; ++r) {
            const double f = a[size_t(r * (m + 1) + p)];
            if (r != p && f != 0.0)
                for (int k = 0; k <= m; ++k)
                    a[size_t(r * (m + 1) + k)] -= f * a[size_t(p * (m + 1) + k)];
        }
    }
    Fit fit;
    for (size_t t = 0; t < hz.size(); ++t)
        fit.amplitude.push_back(
            std::hypot(a[(2 * t) * size_t(m + 1) + size_t(m)], a[(2 * t + 1) * size_t(m + 1) + size_t(m)]));
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        double model = 0.0;
        for (int j = 0; j < m; ++j)
            model += a[size_t(j * (m + 1) + m)] * basis(j, i);
        sum += (x[i] - model) * (x[i] - model);
    }
    fit.residualPower = sum / n;
    return fit;
}

// Frequency of the tone near guessHz to a small fraction of a hertz: the
// phase advance of the tone between consecutive 0.1 s segments.
inline double toneFrequency(const std::vector<double>& x, double fs, double guessHz)
{
    const int segment = int(0.1 * fs);
    const int count = int(x.size()) / segment;
    const double w = -2.0 * 3.14159265358979323846 * guessHz / fs;
    std::complex<double> previous, advance;
    for (int s = 0; s < count; ++s) {
        std::complex<double> sum;
        for (int i = 0; i < segment; ++i) {
            const int k = s * segment + i;
            sum += x[size_t(k)] * std::polar(1.0, w * k);
        }
        if (s > 0)
            advance += sum * std::conj(previous);
        previous = sum;
    }
    return guessHz + std::arg(advance) / (2.0 * 3.14159265358979323846 * segment / fs);
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
    for (double f : hz) {
        const double k = 2.0 * std::cos(2.0 * 3.14159265358979323846 * f / fs);
        for (size_t i = r.size() - 1; i >= 2; --i)
            r[i] = r[i] - k * r[i - 1] + r[i - 2];
    }
    const size_t settled = 2 * hz.size() + 1;
    for (size_t i = r.size() - 1; i >= settled; --i)
        r[i] -= r[i - 1];
    for (size_t i = settled; i < r.size(); ++i) {
        const double step = std::abs(r[i]) / amplitude;
        if (step > c.worstStep) {
            c.worstStep = step;
            if (step > stepFraction && c.problem.isEmpty())
                c.problem = QStringLiteral("step of %1 of the amplitude at %2 s").arg(step).arg(double(i) / fs);
        }
    }
    const double lowest = *std::min_element(hz.begin(), hz.end());
    const int periods = int(std::ceil(0.005 * lowest));
    const int window = std::max(1, int(std::lround(periods * fs / lowest)));
    std::vector<double> levels;
    for (size_t i = 0; i + size_t(window) <= x.size(); i += size_t(window)) {
        double sum = 0.0;
        for (int k = 0; k < window; ++k)
            sum += x[i + size_t(k)] * x[i + size_t(k)];
        levels.push_back(std::sqrt(sum / window));
    }
    if (levels.empty())
        return c;
    std::vector<double> sorted(levels);
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (size_t w = 0; w < levels.size(); ++w) {
        const double db = 20.0 * std::log10(std::max(levels[w], 1e-30) / median);
        if (db < c.worstDipDb) {
            c.worstDipDb = db;
            if (db < -dipDb && c.problem.isEmpty())
                c.problem = QStringLiteral("level %1 dB at %2 s").arg(db).arg(double(w * size_t(window)) / fs);
        }
    }
    return c;
}

} // namespace systest
