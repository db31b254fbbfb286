#include "zorvaniDsp/Demodulators/CtcssDetector.h"

#include "zorvaniDsp/Demodulators/CtcssTones.h"

#include <cmath>

CtcssDetector::CtcssDetector(double sampleRate)
    : m_fs(sampleRate)
    , m_minSpacing(sampleRate * kMinSpacing)
{
}

void CtcssDetector::setTone(int index)
{
    if (index < 0 || index >= kCtcssToneCount || index == m_tone)
        return;
    m_tone = index;
    m_run = 0;
    m_present = false;
}

void CtcssDetector::reset()
{
    m_previous = 0.0;
    m_sinceCrossing = 0.0;
    m_haveCrossing = false;
    m_run = 0;
    m_missing = 0.0;
    m_present = false;
    m_lastDetection = -1;
}

void CtcssDetector::process(const double* re, int count, int stride)
{
    bool matched = false;
    for (int k = 0; k < count; ++k) {
        const double v = re[k * stride];
        m_sinceCrossing += 1.0;
        if (m_previous > 0.0 && v <= 0.0) {
            // Crossing instant between the two samples, by linear interpolation.
            const double back = v / (v - m_previous); // fraction of a sample before v
            const double spacing = m_sinceCrossing - back;
            if (!m_haveCrossing || spacing >= m_minSpacing) {
                if (m_haveCrossing) {
                    const double hz = m_fs / spacing;
                    m_lastDetection = -1;
                    for (int t = 0; t < kCtcssToneCount; ++t) {
                        if (std::fabs(hz - kCtcssTones[t]) <= kMatchHz) {
                            m_lastDetection = t;
                            break;
                        }
                    }
                    if (m_lastDetection == m_tone) {
                        matched = true;
                        m_missing = 0.0;
                        if (++m_run >= kConfirmations)
                            m_present = true;
                    } else {
                        m_run = 0;
                    }
                }
                m_haveCrossing = true;
                m_sinceCrossing = back;
            }
        }
        m_previous = v;
    }
    if (!matched) {
        m_missing += count;
        if (m_missing > m_fs / 6.0) {
            m_present = false;
            m_run = 0;
        }
    }
}
