#include "zorvaniDsp/Demodulators/PilotPllZorvani.h"

#include <algorithm>
#include <cmath>

PilotPllZorvani::PilotPllZorvani(double fs)
{
    constexpr double twoPi = 2.0 * M_PI;
    m_omega0 = twoPi * 19000.0 / fs;
    m_omegaMin = twoPi * 18950.0 / fs;
    m_omegaMax = twoPi * 19050.0 / fs;
    const double p1 = std::exp(-twoPi * 1.146 * 50.0 / fs);
    const double p2 = std::exp(-twoPi * 5.331 * 50.0 / fs);
    m_a1 = -(p1 + p2);
    m_a2 = p1 * p2;
    m_g = 1.0 + m_a1 + m_a2;
    m_k1 = twoPi * 0.62 * 50.0 / fs;
    m_k2 = -m_k1 * std::exp(-twoPi * 0.1153 * 50.0 / fs);
    m_lockLimit = static_cast<uint32_t>(std::lround(kHoldSeconds * fs));
    m_omega = m_omega0;
}

void PilotPllZorvani::reset()
{
    m_theta = 0.0;
    m_omega = m_omega0;
    m_i1 = m_i2 = m_q1 = m_q2 = 0.0;
    m_errorPrev = 0.0;
    m_lockLevel = 1000.0;
    m_lockCount = 0;
}

void PilotPllZorvani::process(const double* m, int count, double* carrier)
{
    constexpr double twoPi = 2.0 * M_PI;
    double lock = 1000.0;
    double skew = 0.0;
    for (int k = 0; k < count; ++k) {
        const double s = std::sin(m_theta);
        const double c = std::cos(m_theta);
        carrier[k] = 2.0 * s * c;
        const double i = m_g * m[k] * s - m_a1 * m_i1 - m_a2 * m_i2;
        const double q = m_g * m[k] * c - m_a1 * m_q1 - m_a2 * m_q2;
        m_i2 = m_i1;
        m_i1 = i;
        m_q2 = m_q1;
        m_q1 = q;
        const double e = i > std::fabs(q) ? q / i : (q > 0.0 ? 1.0 : -1.0);
        m_omega = std::clamp(m_omega + m_k1 * e + m_k2 * m_errorPrev, m_omegaMin, m_omegaMax);
        m_errorPrev = e;
        m_theta += m_omega;
        if (m_theta > twoPi)
            m_theta -= twoPi;
        lock = std::min(lock, i);
        skew = std::max(skew, std::fabs(q));
    }
    m_lockLevel = lock;
    const bool level = 2.0 * lock > 0.04;
    if (level && (pilotDetected() || skew <= kPhaseTolerance * lock))
        m_lockCount = std::min(m_lockLimit, m_lockCount + static_cast<uint32_t>(count));
    else
        m_lockCount = 0;
}
