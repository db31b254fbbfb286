#include "spectrum/SpectrumExpAverager.h"

#include "spectrum/Decibels.h"

#include <QDebug>

#include <algorithm>

namespace zorvaniddc {

SpectrumExpAverager::SpectrumExpAverager() : m_output(m_size, 0.0f), m_records(m_size) {}

void SpectrumExpAverager::applyFactor()
{
    const float k = float(clampCount(m_count));
    const float a = k * 0.0068965517f + 0.74f;
    for (Record& r : m_records) {
        r.a = a;
        r.state = 0.0f;
    }
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
    m_records.resize(n);
    applyFactor();
}

void SpectrumExpAverager::reset()
{
    for (Record& r : m_records)
        r.state = 0.0f;
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
    float* out = m_output.data();
    Record* rec = m_records.data();
    for (size_t k = 0; k < n; ++k) {
        rec[k].state = rec[k].a * (rec[k].state + data[k]);
        out[k] = rec[k].state;
    }
    powerToDb(out, n);
    const float lift = m_offset + 8.0f;
    for (size_t k = 0; k < n; ++k)
        out[k] += lift;
}

void SpectrumExpAverager::read(float* dst, size_t n)
{
    if (!m_output.empty() && n == m_size)
        std::copy(m_output.begin(), m_output.end(), dst);
    else
        std::fill(dst, dst + n, kEmptyDb);
}

} // namespace zorvaniddc
