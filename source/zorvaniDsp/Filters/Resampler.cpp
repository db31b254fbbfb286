#include "zorvaniDsp/Filters/Resampler.h"

#include "vector/Vector.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {
constexpr double kMaxRate = 1.0e8;
}

Resampler::Resampler() = default;

bool Resampler::init(float inputRate, float outputRate)
{
    if (!(inputRate > 0.0f && outputRate > 0.0f && inputRate <= kMaxRate && outputRate <= kMaxRate)) {
        qWarning("bool __cdecl Resampler::init(float,float) Incorrect input parameters");
        return false;
    }
    int64_t a = int64_t(double(inputRate) * 10.0);
    int64_t b = int64_t(double(outputRate) * 10.0);
    if (a < 1 || b < 1) {
        qWarning("bool __cdecl Resampler::init(float,float) Incorrect input parameters");
        return false;
    }
    for (int d = 2; d <= 10; ++d) {
        if (a % d == 0 && b % d == 0) {
            a /= d;
            b /= d;
            d = 1;
        }
    }
    if (a > kMaxInterpolation || b > kMaxInterpolation) {
        qWarning("bool __cdecl Resampler::init(float,float) Incorrect input parameters");
        return false;
    }
    const int L = int(b);
    const int M = int(a);
    const int tapsPerPhase = M > L ? kTapsPerPhase * ((M + L - 1) / L) : kTapsPerPhase;
    const int N = tapsPerPhase * L;

    // Windowed-sinc low-pass at 0.4 / max(L, M) of the interpolated rate, DC gain 1.
    std::vector<double> window(static_cast<size_t>(N));
    ox::vec::blackmanNuttall(window.data(), N);
    std::vector<double> h(static_cast<size_t>(N));
    const double fc = 0.4 / std::max(L, M);
    const double middle = (N - 1) / 2.0;
    double sum = 0.0;
    for (int k = 0; k < N; ++k) {
        const double t = k - middle;
        const bool negligible = std::min(double(k), middle) >= std::abs(t) * 100000.0;
        h[k] = (negligible ? 2.0 * fc : std::sin(ox::vec::kTwoPi * fc * t) / (ox::vec::kPi * t)) * window[k];
        sum += h[k];
    }
    if (!std::isfinite(sum) || sum == 0.0) {
        qDebug("Resampler::init(): error - filter coeff: %p", static_cast<const void*>(h.data()));
        return false;
    }

    m_h.resize(size_t(N));
    m_poly.resize(size_t(N));
    for (int k = 0; k < N; ++k)
        m_h[k] = float(h[k] / sum);
    for (int p = 0; p < L; ++p)
        for (int i = 0; i < tapsPerPhase; ++i)
            m_poly[size_t(p) * tapsPerPhase + i] = float(L * h[p + (tapsPerPhase - 1 - i) * L] / sum);
    m_inputRate = inputRate;
    m_outputRate = outputRate;
    m_l = L;
    m_m = M;
    m_tapsPerPhase = tapsPerPhase;
    m_state.re.assign(size_t(2 * tapsPerPhase), 0.0f);
    m_state.im.assign(size_t(2 * tapsPerPhase), 0.0f);
    reset();
    return true;
}

int Resampler::maxOutput(int count, int L, int M)
{
    if (count < 1 || L < 1 || M < 1)
        return 0;
    return int((int64_t(count) * L + M - 1) / M);
}

void Resampler::reset()
{
    std::fill(m_state.re.begin(), m_state.re.end(), 0.0f);
    std::fill(m_state.im.begin(), m_state.im.end(), 0.0f);
    m_state.write = 0;
    m_state.phase = 0;
}

int Resampler::process(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out, int count)
{
    if (m_l == 0 || !in || !out || count < 1)
        return 0;
    const int L = m_l;
    const int M = m_m;
    const int T = m_tapsPerPhase;
    const float* poly = m_poly.data();
    State& st = m_state;
    float* history = st.re.data();
    float* historyIm = st.im.data();
    int written = 0;
    for (int j = 0; j < count; ++j) {
        const float xr = float(in[j].re);
        const float xi = float(in[j].im);
        if (++st.write == T)
            st.write = 0;
        history[st.write] = history[st.write + T] = xr;
        historyIm[st.write] = historyIm[st.write + T] = xi;
        const float* re = history + st.write + 1;  // oldest .. newest
        const float* im = historyIm + st.write + 1;
        for (; st.phase < L; st.phase += M) {
            const float* c = poly + size_t(st.phase) * T;
            float yr = 0.0f, yi = 0.0f;
            for (int i = 0; i < T; ++i) {
                yr += c[i] * re[i];
                yi += c[i] * im[i];
            }
            out[written++] = {double(yr), double(yi)};
        }
        st.phase -= L;
    }
    return written;
}
