#include "spectrum/SlopeStretcher.h"

#include <algorithm>
#include <cmath>

namespace {
// The interpolator's first outputs are its run-in from a zero history.
constexpr size_t kRunIn = 3;
} // namespace

SlopeStretcher::SlopeStretcher(size_t maxSize) : m_emitted(maxSize + 2 * kRunIn + 2) {}

size_t SlopeStretcher::usedBins(size_t n)
{
    return size_t(std::lround(double(n) * kUsableRatio)) + 2;
}

size_t SlopeStretcher::firstBin(size_t n)
{
    return (n - usedBins(n)) / 2 + 1;
}

bool SlopeStretcher::stretch(float* v, size_t n)
{
    if (n < 8 || n + kRunIn > m_emitted.size())
        return false;
    const size_t m = usedBins(n);
    const size_t s = firstBin(n);
    const double step = 1.0 / double(n + kRunIn);
    const double period = 1.0 / double(m);
    const double md = double(m);
    double phase = 0.0;
    double h0 = 0.0, h1 = 0.0, h2 = 0.0, h3 = 0.0;
    size_t emitted = 0;
    for (size_t i = 0; i < m; ++i) {
        h0 = h1;
        h1 = h2;
        h2 = h3;
        h3 = v[s + i];
        while (phase < period) {
            const double t = phase * md - 1.0;
            const double c3 = (h1 - h2) * 0.5 + (h3 - h0) / 6.0;
            const double c1 = (h3 - h1) * 0.5 - c3;
            const double c2 = (h3 - h2) - c1 - c3;
            if (emitted < m_emitted.size())
                m_emitted[emitted] = float(((c3 * t + c2) * t + c1) * t + h2);
            ++emitted;
            phase += step;
        }
        phase -= period;
    }
    if (emitted < n + kRunIn)
        return false;
    std::copy(m_emitted.begin() + kRunIn, m_emitted.begin() + kRunIn + n, v);
    v[0] = v[1];
    return true;
}
