#include "spectrum/SpectrumExpAverager.h"

#include "common/SimdClones.h"
#include "spectrum/Decibels.h"

#include <QDebug>

#include <algorithm>

namespace zorvaniddc {

namespace {
ZORVANI_SIMD_CLONES void decay(float* state, const float* factor, const float* data, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        state[k] = factor[k] * (state[k] + data[k]);
}
} // namespace

SpectrumExpAverager::SpectrumExpAverager() : m_output(m_size, 0.0f), m_factor(m_size, 0.95f), m_state(m_size, 0.0f) {}

void SpectrumExpAverager::applyFactor()
{
    const float k = float(clampCount(m_count));
    const float a = k * 0.0068965517f + 0.74f;
    std::fill(m_factor.begin(), m_factor.end(), a);
    std::fill(m_state.begin(), m_state.end(), 0.0f);
    std::fill(m_output.begin(), m_output.end(), 0.0f);
}

void SpectrumExpAverager::setAverageCount(size_t n)
{
    m_count = clampCount(n);
    const float k = float(m_count);
    m_offset = -96.0f - (0.0076f * k * k + 0.2935f * k - 86.9735f);
    applyFactor();
}

void SpectrumExpAverager::setSize(size_t n)
{
    if (n == m_size)
        return;
    m_size = n;
    m_output.resize(n);
    m_factor.resize(n, 0.95f);
    m_state.resize(n);
    applyFactor();
}

void SpectrumExpAverager::reset()
{
    std::fill(m_state.begin(), m_state.end(), 0.0f);
    std::fill(m_output.begin(), m_output.end(), 0.0f);
}

void SpectrumExpAverager::write(const float* data, size_t n)
{
    if (n != m_size) {
        qDebug().nospace().noquote()
            << "void __cdecl zorvaniddc::SpectrumExpAverager::write(float *,unsigned __int64)"
            << " incorrect input buffer size!";
        return;
    }
    decay(m_state.data(), m_factor.data(), data, n);
    powerToDb(m_state.data(), m_output.data(), n, 1.0f, m_offset + 8.0f);
}

void SpectrumExpAverager::read(float* dst, size_t n)
{
    if (!m_output.empty() && n == m_size)
        std::copy(m_output.begin(), m_output.end(), dst);
    else
        std::fill(dst, dst + n, kEmptyDb);
}

} // namespace zorvaniddc
