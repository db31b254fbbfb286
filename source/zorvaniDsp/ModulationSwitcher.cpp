#include "zorvaniDsp/ModulationSwitcher.h"

#include "common/ZorvaniSR.h"

#include <algorithm>
#include <cmath>

GainRamp::GainRamp() : m_a(std::exp(-1000.0 / (15.0 * zorvani::kWorkingRate))) {}

void GainRamp::setTargetDb(double dB)
{
    dB = std::clamp(dB, -60.0, 0.0);
    m_target = dB < -59.0 ? std::pow(10.0, -6.5) : std::pow(10.0, dB / 20.0);
}

bool GainRamp::reached() const
{
    const float g = float(m_gain);
    const float t = float(m_target);
    return std::min(std::fabs(g), std::fabs(t)) >= std::fabs(g - t) * 100000.0f;
}

void GainRamp::apply(Ostrovix::complex<double>* x, int count)
{
    const double b = 1.0 - m_a;
    double g = m_gain;
    for (int k = 0; k < count; ++k) {
        g = m_a * g + b * m_target;
        x[k].re *= g;
        x[k].im *= g;
    }
    m_gain = g;
}

ModulationSwitcher::ModulationSwitcher(int mode) : m_pendingMode(mode), m_activeMode(mode) {}

void ModulationSwitcher::requestChange()
{
    if (m_state == FadeOut)
        return;
    m_state = FadeOut;
    m_ramps[0].setTargetDb(-130.0);
    m_ramps[1].setTargetDb(-130.0);
}

bool ModulationSwitcher::takeResetRequest()
{
    const bool request = m_resetRequest;
    m_resetRequest = false;
    return request;
}

void ModulationSwitcher::process(Ostrovix::complex<double>* ch0, Ostrovix::complex<double>* ch1, int count)
{
    switch (m_state) {
    case Pass:
        break;
    case FadeOut:
        m_ramps[0].apply(ch0, count);
        m_ramps[1].apply(ch1, count);
        if (m_ramps[0].reached()) {
            m_resetRequest = true;
            m_state = Switch;
        }
        break;
    case Switch:
        m_activeMode = m_pendingMode;
        m_ramps[0].setTargetDb(0.0);
        m_ramps[1].setTargetDb(0.0);
        m_ramps[0].apply(ch0, count);
        m_ramps[1].apply(ch1, count);
        m_state = FadeIn;
        break;
    case FadeIn:
        m_ramps[0].apply(ch0, count);
        m_ramps[1].apply(ch1, count);
        if (m_ramps[0].reached())
            m_state = Pass;
        break;
    }
}
