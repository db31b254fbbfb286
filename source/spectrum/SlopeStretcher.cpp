#include "spectrum/SlopeStretcher.h"

#include <algorithm>
#include <cmath>

namespace {

// The interpolator's first outputs are its run-in from a zero history.
constexpr size_t kRunIn = 3;

// One interpolator output for history h0..h3 at t in [-1, 0).
double cubic(const double h[4], double t)
{
    const double c3 = (h[1] - h[2]) * 0.5 + (h[3] - h[0]) / 6.0;
    const double c1 = (h[3] - h[1]) * 0.5 - c3;
    const double c2 = (h[3] - h[2]) - c1 - c3;
    return ((c3 * t + c2) * t + c1) * t + h[2];
}

} // namespace

SlopeStretcher::SlopeStretcher(size_t maxSize) : m_taps(maxSize), m_source(maxSize + kRunIn) {}

size_t SlopeStretcher::usedBins(size_t n)
{
    return size_t(std::lround(double(n) * kUsableRatio)) + 2;
}

size_t SlopeStretcher::firstBin(size_t n)
{
    const size_t m = usedBins(n);
    return m < n ? (n - m) / 2 + 1 : 0;
}

bool SlopeStretcher::prepare(size_t n)
{
    // Below 32 bins the used span would not fit inside the line.
    if (n < 32 || n > m_taps.size())
        return false;
    if (n == m_prepared)
        return true;
    // Source history i holds v[s + i]; the copy in stretch() puts kRunIn zeros
    // before it, so index i + kRunIn - 3 .. i + kRunIn of m_source is h0..h3.
    const size_t m = usedBins(n);
    const double step = 1.0 / double(n + kRunIn);
    const double period = 1.0 / double(m);
    double phase = 0.0;
    size_t emitted = 0;
    for (size_t i = 0; i < m && emitted < n + kRunIn; ++i) {
        while (phase < period && emitted < n + kRunIn) {
            if (emitted >= kRunIn) {
                Tap& tap = m_taps[emitted - kRunIn];
                tap.first = uint32_t(i);
                const double t = phase * double(m) - 1.0;
                for (int j = 0; j < 4; ++j) {
                    double unit[4] = {0, 0, 0, 0};
                    unit[j] = 1.0;
                    tap.weight[j] = cubic(unit, t);
                }
            }
            ++emitted;
            phase += step;
        }
        phase -= period;
    }
    if (emitted < n + kRunIn)
        return false;
    m_prepared = n;
    return true;
}

bool SlopeStretcher::stretch(float* v, size_t n)
{
    if (!prepare(n))
        return false;
    const size_t m = usedBins(n);
    const size_t s = firstBin(n);
    float* src = m_source.data();
    std::fill(src, src + kRunIn, 0.0f);
    std::copy(v + s, v + s + m, src + kRunIn);
    const Tap* taps = m_taps.data();
    for (size_t k = 0; k < n; ++k) {
        const float* h = src + taps[k].first;
        const double* w = taps[k].weight;
        v[k] = float(w[0] * h[0] + w[1] * h[1] + w[2] * h[2] + w[3] * h[3]);
    }
    v[0] = v[1];
    return true;
}
