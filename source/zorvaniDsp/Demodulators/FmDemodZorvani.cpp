#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"

#include "zorvaniDsp/Demodulators/FastAtan2.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

bool FmDemodZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        qWarning().noquote() << "bool __cdecl FmDemodZorvani::process(class Ostrovix::complex<double> *,int)"
                                " Incorrect input parameters";
        return false;
    }
    constexpr double twoPi = 2.0 * M_PI;
    for (int k = 0; k < count; ++k) {
        const double c = std::cos(m_theta);
        const double s = std::sin(m_theta);
        const double i = x[k].re * c + x[k].im * s;
        const double q = x[k].im * c - x[k].re * s;
        float e = ox::dsp::fastAtan2(static_cast<float>(q), static_cast<float>(i));
        if (!std::isfinite(e))
            e = 0.0f;
        m_nu = std::clamp(m_nu + kBeta * e, -kNuLimit, kNuLimit);
        m_theta += kAlpha * e + m_nu;
        m_theta = std::fmod(m_theta, twoPi);
        if (m_theta < 0.0)
            m_theta += twoPi;
        m_mean = kMeanCoefficient * m_nu + (1.0 - kMeanCoefficient) * m_mean;
        const double o = (m_nu - m_mean) * kGain;
        x[k] = {o, o};
    }
    double* v = &x[0].re;
    for (int part = 0; part < 2; ++part) {
        double xp = m_dcIn[part];
        double yp = m_dcOut[part];
        for (int k = 0; k < count; ++k) {
            const double in = v[2 * k + part];
            yp = in - xp + kDcPole * yp;
            xp = in;
            v[2 * k + part] = yp;
        }
        m_dcIn[part] = xp;
        m_dcOut[part] = yp;
    }
    return true;
}

void FmDemodZorvani::reset()
{
    m_theta = m_nu = m_mean = 0.0;
    m_dcIn[0] = m_dcIn[1] = m_dcOut[0] = m_dcOut[1] = 0.0;
}
