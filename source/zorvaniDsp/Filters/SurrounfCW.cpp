#include "zorvaniDsp/Filters/SurrounfCW.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

SurrounfCW::SurrounfCW()
{
    design();
}

void SurrounfCW::design()
{
    const uint32_t taps = static_cast<uint32_t>(m_taps);
    m_lower.init(0.0, m_pitch / m_fs, taps);
    m_upper.init(m_pitch / m_fs, 2.0 * m_pitch / m_fs, taps);
    reset();
}

void SurrounfCW::setSampleRate(double fs)
{
    if (!(fs > 0.0))
        return;
    m_fs = fs;
    design();
}

void SurrounfCW::setPitch(double hz)
{
    if (!(hz > 0.0))
        return;
    m_pitch = hz;
    design();
}

void SurrounfCW::setTaps(int taps)
{
    if (taps < 1 || static_cast<uint32_t>(taps) > FastFirZorvani::kMaxTaps)
        return;
    m_taps = taps;
    design();
}

void SurrounfCW::reset()
{
    m_lower.reset();
    m_upper.reset();
}

bool SurrounfCW::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        qWarning().noquote() << "void __cdecl SurrounfCW::process(class Ostrovix::complex<double> *,int)"
                                "): Incorrect input parameters!";
        return false;
    }
    if (!m_enabled)
        return true;
    for (int done = 0; done < count; done += kWork) {
        const int n = std::min(kWork, count - done);
        Ostrovix::complex<double>* block = x + done;
        const size_t bytes = sizeof(*x) * static_cast<size_t>(n);
        std::memcpy(static_cast<void*>(m_lowerWork.data()), block, bytes);
        std::memcpy(static_cast<void*>(m_upperWork.data()), block, bytes);
        m_lower.process(m_lowerWork.data(), static_cast<uint32_t>(n));
        m_upper.process(m_upperWork.data(), static_cast<uint32_t>(n));
        const auto& left = m_swap ? m_lowerWork : m_upperWork;
        const auto& right = m_swap ? m_upperWork : m_lowerWork;
        for (int k = 0; k < n; ++k)
            block[k] = {left[k].re, right[k].re};
    }
    return true;
}
