#include "zorvaniDsp/Demodulators/WfmInterpolator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

double sinc(double x)
{
    if (x == 0.0)
        return 1.0;
    return std::sin(M_PI * x) / (M_PI * x);
}

} // namespace

WfmInterpolator::WfmInterpolator(double inputRate, double outputRate, int taps, double cutoffRel, int maxBlock)
    : m_ratio(inputRate / outputRate)
    , m_h(static_cast<size_t>(std::max(taps, 1)) + 2, 0.0)
    , m_history(std::max(taps, 1) + 1)
{
    const int n = std::max(taps, 1);
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
        const double k = -(n - 1) + 2.0 * j;
        const double h = sinc(k / (n + 1)) * sinc(k * cutoffRel);
        m_h[j + 1] = h;
        sum += h;
    }
    for (double& h : m_h)
        h /= sum;
    m_buffer.assign(static_cast<size_t>(m_history + std::max(maxBlock, 1)), Ostrovix::complex<double>{0.0, 0.0});
    m_position = m_history;
}

int WfmInterpolator::maxOutput(int count, double inputRate, double outputRate)
{
    return static_cast<int>(std::ceil(count * outputRate / inputRate)) + 1;
}

int WfmInterpolator::maxOutput(int count) const
{
    return static_cast<int>(std::ceil(count / m_ratio)) + 1;
}

void WfmInterpolator::reset()
{
    std::fill(m_buffer.begin(), m_buffer.end(), Ostrovix::complex<double>{0.0, 0.0});
    m_position = m_history;
}

int WfmInterpolator::process(const Ostrovix::complex<double>* in, int count, Ostrovix::complex<double>* out)
{
    const int maxBlock = static_cast<int>(m_buffer.size()) - m_history;
    if (!in || !out || count < 1 || count > maxBlock)
        return 0;
    std::memcpy(m_buffer.data() + m_history, in, sizeof(*in) * static_cast<size_t>(count));
    const int end = m_history + count;
    const int span = static_cast<int>(m_h.size()) - 1; // interpolated weights per output
    int written = 0;
    while (m_position < end) {
        const int i = static_cast<int>(m_position);
        const double frac = m_position - i;
        double re = 0.0, im = 0.0;
        const Ostrovix::complex<double>* x = m_buffer.data() + i;
        for (int j = 0; j < span; ++j) {
            const double w = (1.0 - frac) * m_h[j] + frac * m_h[j + 1];
            re += w * x[-j].re;
            im += w * x[-j].im;
        }
        out[written++] = {re, im};
        m_position += m_ratio;
    }
    m_position -= count;
    std::memmove(m_buffer.data(), m_buffer.data() + count, sizeof(*in) * static_cast<size_t>(m_history));
    return written;
}
