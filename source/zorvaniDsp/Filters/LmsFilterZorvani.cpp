#include "zorvaniDsp/Filters/LmsFilterZorvani.h"

#include <algorithm>
#include <cmath>

LmsFilterZorvani::LmsFilterZorvani(Kind kind)
    : m_kind(kind)
    , m_delay(kind == Kind::AutoNotch ? 64 : 20)
    , m_taps(kind == Kind::AutoNotch ? 64 : 40)
    , m_mu(0.0025)
    , m_leak(kind == Kind::AutoNotch ? 0.0001 : 0.005)
{
}

void LmsFilterZorvani::setEnabled(bool on)
{
    m_enabled = on;
    reset();
}

void LmsFilterZorvani::setTaps(int taps)
{
    m_taps = static_cast<uint32_t>(std::clamp(taps, 0, kLineLength));
    reset();
}

void LmsFilterZorvani::setDelay(int delay)
{
    m_delay = static_cast<uint32_t>(std::clamp(delay, 0, kLineLength - 1));
    reset();
}

void LmsFilterZorvani::setRate(double mu)
{
    if (std::isfinite(mu))
        m_mu = mu;
}

void LmsFilterZorvani::setLeak(double lambda)
{
    if (std::isfinite(lambda))
        m_leak = lambda;
}

void LmsFilterZorvani::reset()
{
    m_line.fill(Sample{0.0, 0.0});
    m_weights.fill(Sample{0.0, 0.0});
    m_write = 0;
}

bool LmsFilterZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x)
        return count <= 0;
    if (!m_enabled || count <= 0)
        return true;
    constexpr uint32_t mask = kLineLength - 1;
    const bool nr = m_kind == Kind::NoiseReduction;
    const double floor = nr ? 1e-12 : 1e-10;
    const double decay = 1.0 - m_mu * m_leak;
    Sample* const c = m_weights.data();
    const uint32_t taps = m_taps;
    for (int n = 0; n < count; ++n) {
        const Sample in = x[n];
        m_line[m_write] = in;
        m_line[m_write + kLineLength] = in;
        const Sample* const s = m_line.data() + ((m_write + m_delay) & mask);
        double power = 0.0;
        double yr = 0.0, yi = 0.0;
        for (uint32_t k = 0; k < taps; ++k) {
            power += s[k].re * s[k].re + s[k].im * s[k].im;
            // conj(c) * s
            yr += c[k].re * s[k].re + c[k].im * s[k].im;
            yi += c[k].re * s[k].im - c[k].im * s[k].re;
        }
        const double er = in.re - yr;
        const double ei = in.im - yi;
        x[n] = nr ? Sample{yr, yi} : Sample{er, ei};
        const double g = m_mu / std::max(power, floor);
        for (uint32_t k = 0; k < taps; ++k) {
            // s * conj(e)
            const double ur = s[k].re * er + s[k].im * ei;
            const double ui = s[k].im * er - s[k].re * ei;
            c[k].re = decay * c[k].re + g * ur;
            c[k].im = decay * c[k].im + g * ui;
        }
        m_write = (m_write + mask) & mask;
    }
    return true;
}
