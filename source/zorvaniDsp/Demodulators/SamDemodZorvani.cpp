#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"

#include "zorvaniDsp/Demodulators/FastAtan2.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

SamDemodZorvani::SamDemodZorvani()
{
    setBandwidth(16000.0 / m_fs);
}

void SamDemodZorvani::setSampleRate(double fs)
{
    if (fs > 0.0)
        m_fs = fs;
}

bool SamDemodZorvani::setBandwidth(double highRel)
{
    if (!(highRel > 0.0 && highRel <= 0.5))
        return false;
    // Symmetric about 0 Hz: the detected audio is real (re = im), so a
    // one-sided passband would split it into a 90-degree pair at half level
    // and cut the low audio frequencies at its edge.
    return m_lowPass.init(-highRel, highRel, kTaps);
}

bool SamDemodZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        qWarning().noquote() << "bool __cdecl SamDemodZorvani::process(class Ostrovix::complex<double> *,int)"
                                " Incorrect input parameters";
        return false;
    }
    for (int k = 0; k < count; ++k) {
        // x * exp(j theta): the loop settles with the carrier at phase pi, so
        // the in-phase output is -|carrier| before the low-pass.
        const double c = std::cos(m_theta);
        const double s = std::sin(m_theta);
        const float i = static_cast<float>(x[k].re * c - x[k].im * s);
        const float q = static_cast<float>(x[k].im * c + x[k].re * s);
        // A non-finite sample would leave the loop state NaN for good.
        float e = ox::dsp::fastAtan2(q, i);
        if (!std::isfinite(e))
            e = 0.0f;
        m_nu = std::clamp(m_nu + kBeta * e, -kNuLimit, kNuLimit);
        m_theta = std::remainder(m_theta + kAlpha * e + m_nu, 2.0 * M_PI);
        x[k] = {static_cast<double>(i), static_cast<double>(i)};
    }
    return m_lowPass.process(x, static_cast<uint32_t>(count));
}

void SamDemodZorvani::reset()
{
    m_theta = 0.0;
    m_nu = 0.0;
    m_lowPass.reset();
}
