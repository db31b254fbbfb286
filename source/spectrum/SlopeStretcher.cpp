#include "spectrum/SlopeStretcher.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

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

SlopeStretcher::SlopeStretcher(size_t maxSize)
    : m_first(maxSize), m_weights(4 * maxSize), m_source(maxSize + kRunIn)
{
}

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
    if (n < 32 || n > m_first.size())
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
                const size_t k = emitted - kRunIn;
                m_first[k] = uint32_t(i);
                const double t = phase * double(m) - 1.0;
                for (int j = 0; j < 4; ++j) {
                    double unit[4] = {0, 0, 0, 0};
                    unit[j] = 1.0;
                    m_weights[4 * k + size_t(j)] = float(cubic(unit, t));
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
    const uint32_t* first = m_first.data();
    const float* w = m_weights.data();
    // n is a power of two >= 32: whole groups of four. Each output is
    // (w0 h0 + w1 h1) + (w2 h2 + w3 h3), on either path.
#if defined(__SSE__)
    for (size_t k = 0; k < n; k += 4) {
        __m128 p0 = _mm_mul_ps(_mm_loadu_ps(src + first[k]), _mm_loadu_ps(w + 4 * k));
        __m128 p1 = _mm_mul_ps(_mm_loadu_ps(src + first[k + 1]), _mm_loadu_ps(w + 4 * k + 4));
        __m128 p2 = _mm_mul_ps(_mm_loadu_ps(src + first[k + 2]), _mm_loadu_ps(w + 4 * k + 8));
        __m128 p3 = _mm_mul_ps(_mm_loadu_ps(src + first[k + 3]), _mm_loadu_ps(w + 4 * k + 12));
        // Lane j of pi becomes product i of output k + j.
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
        _mm_storeu_ps(v + k, _mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)));
    }
#else
    for (size_t k = 0; k < n; ++k) {
        const float* h = src + first[k];
        const float* c = w + 4 * k;
        v[k] = (c[0] * h[0] + c[1] * h[1]) + (c[2] * h[2] + c[3] * h[3]);
    }
#endif
    v[0] = v[1];
    return true;
}
