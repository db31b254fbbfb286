#include "spectrum/SpectrumHistoryAverager.h"

#include "common/SimdClones.h"
#include "spectrum/Decibels.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace zorvaniddc {

namespace {
ZORVANI_SIMD_CLONES void square(const float* data, float* out, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        out[k] = data[k] * data[k];
}

// out[k] += a[k] + b[k]
ZORVANI_SIMD_CLONES void addPair(const float* a, const float* b, float* out, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        out[k] += a[k] + b[k];
}

ZORVANI_SIMD_CLONES void rootOfMean(float* v, float scale, size_t n)
{
    for (size_t k = 0; k < n; ++k)
        v[k] = std::sqrt(v[k] * scale);
}
} // namespace

SpectrumHistoryAverager::SpectrumHistoryAverager(bool rms, const char* writeSignature)
    : m_rms(rms), m_writeSignature(writeSignature), m_output(m_size, 0.0f)
{
    m_store.reserve(kMaxCount);
}

void SpectrumHistoryAverager::setAverageCount(size_t n)
{
    m_writeIndex = 0;
    m_count = clampCount(n);
    m_frames = 0;
}

void SpectrumHistoryAverager::setSize(size_t n)
{
    if (n == m_size)
        return;
    m_size = n;
    m_output.assign(n, 0.0f);
    m_writeIndex = 0;
    m_frames = 0;
}

void SpectrumHistoryAverager::reset()
{
    m_writeIndex = 0;
    m_frames = 0;
}

void SpectrumHistoryAverager::write(const float* data, size_t n)
{
    if (n != m_size) {
        qDebug().nospace().noquote() << m_writeSignature << " incorrect input buffer size!";
        return;
    }
    while (m_frames <= m_writeIndex) {
        if (m_store.size() > m_frames)
            m_store[m_frames].assign(m_size, 0.0f);
        else
            m_store.emplace_back(m_size, 0.0f);
        ++m_frames;
    }
    float* slot = m_store[m_writeIndex].data();
    if (m_rms) {
        square(data, slot, n);
    } else {
        std::copy(data, data + n, slot);
    }

    // Sum of the frames, two per pass.
    float* out = m_output.data();
    size_t f = 0;
    if (m_frames % 2 == 1) {
        std::copy(m_store[0].begin(), m_store[0].end(), out);
        f = 1;
    } else {
        std::fill(out, out + n, 0.0f);
    }
    for (; f < m_frames; f += 2)
        addPair(m_store[f].data(), m_store[f + 1].data(), out, n);
    const float scale = float(1.0 / double(m_frames));
    if (m_rms) {
        rootOfMean(out, scale, n);
        powerToDb(out, n);
    } else {
        powerToDb(out, out, n, scale);
    }
    // A count never set acts as 1 rather than dividing by zero.
    m_writeIndex = (m_writeIndex + 1) % clampCount(m_count);
}

void SpectrumHistoryAverager::read(float* dst, size_t n)
{
    if (m_frames > 0 && n == m_size)
        std::copy(m_output.begin(), m_output.end(), dst);
    else
        std::fill(dst, dst + n, kEmptyDb);
}

SpectrumLinearAverager::SpectrumLinearAverager()
    : SpectrumHistoryAverager(false, "void __cdecl zorvaniddc::SpectrumLinearAverager::write(float *,unsigned __int64)")
{
}

SpectrumRmsAverager::SpectrumRmsAverager()
    : SpectrumHistoryAverager(true, "void __cdecl zorvaniddc::SpectrumRmsAverager::write(float *,unsigned __int64)")
{
}

} // namespace zorvaniddc
