#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"

#include <QDebug>

#include <cmath>

DemodAMZorvani::DemodAMZorvani()
{
    setBandwidth(16000.0 / 39062.5);
}

bool DemodAMZorvani::setBandwidth(double highRel)
{
    if (!(highRel > 0.0 && highRel <= 0.5))
        return false;
    // Symmetric about 0 Hz: the detected audio is real (re = im), so a
    // one-sided passband would split it into a 90-degree pair at half level
    // and cut the low audio frequencies at its edge.
    return m_lowPass.init(-highRel, highRel, kTaps);
}

bool DemodAMZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        qWarning().noquote() << "bool __cdecl DemodAMZorvani::process(class Ostrovix::complex<double> *,int)"
                                " Incorrect input parameters";
        return false;
    }
    for (int k = 0; k < count; ++k) {
        const double v = std::hypot(x[k].re, x[k].im);
        x[k] = {v, v};
    }
    return m_lowPass.process(x, static_cast<uint32_t>(count));
}

void DemodAMZorvani::reset()
{
    m_lowPass.reset();
}
