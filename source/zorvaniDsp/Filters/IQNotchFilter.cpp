#include "zorvaniDsp/Filters/IQNotchFilter.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

IQNotchFilter::IQNotchFilter()
{
    for (Notch& n : m_notches) {
        n.offset = n.absolute - m_center;
        rebuild(n);
    }
}

void IQNotchFilter::rebuild(Notch& n)
{
    n.active = n.offset > -n.fs / 2.0 && n.offset < n.fs / 2.0;
    n.previousIn = n.previousOut = Ostrovix::complex<double>{0.0, 0.0};
    const float tauMs = static_cast<float>(1000.0 / (2.0 * M_PI * n.width));
    n.pole = std::exp(-1000.0 / (static_cast<double>(tauMs) * n.fs));
    // The entry's frequency moves to 0 Hz on the way in and back after.
    n.in.setFrequency(-n.offset / n.fs);
    n.back.setFrequency(n.offset / n.fs);
    n.in.reset();
    n.back.reset();
}

void IQNotchFilter::setCenterFrequency(double hz)
{
    m_center = hz;
    for (Notch& n : m_notches) {
        const double offset = n.absolute - m_center;
        if (!qFuzzyCompare(offset, n.offset)) {
            n.offset = offset;
            rebuild(n);
        }
    }
}

void IQNotchFilter::setSampleRate(double fs)
{
    if (!(fs > 0.0))
        return;
    m_fs = fs;
    for (Notch& n : m_notches) {
        if (!qFuzzyCompare(n.fs, fs)) {
            n.fs = fs;
            rebuild(n);
        }
    }
}

void IQNotchFilter::setNotchEnabled(int id, bool on)
{
    if (validId(id))
        m_notches[id].enabled = on;
}

void IQNotchFilter::setNotchFrequency(int id, double absoluteHz)
{
    if (!validId(id))
        return;
    Notch& n = m_notches[id];
    if (qFuzzyCompare(n.absolute, absoluteHz))
        return;
    n.absolute = absoluteHz;
    n.offset = absoluteHz - m_center;
    rebuild(n);
}

void IQNotchFilter::setNotchWidth(int id, double widthHz)
{
    if (!validId(id) || !std::isfinite(widthHz))
        return;
    Notch& n = m_notches[id];
    n.width = std::clamp(widthHz / 2.0, kMinWidth, kMaxWidth);
    rebuild(n);
}

bool IQNotchFilter::notchEnabled(int id) const
{
    return validId(id) && m_notches[id].enabled;
}

bool IQNotchFilter::notchActive(int id) const
{
    return validId(id) && m_notches[id].active;
}

double IQNotchFilter::notchWidth(int id) const
{
    return validId(id) ? m_notches[id].width : 0.0;
}

double IQNotchFilter::notchOffset(int id) const
{
    return validId(id) ? m_notches[id].offset : 0.0;
}

double IQNotchFilter::notchPole(int id) const
{
    return validId(id) ? m_notches[id].pole : 0.0;
}

void IQNotchFilter::runNotch(Notch& n, Ostrovix::complex<double>* x, int count)
{
    n.in.process(x, count);
    const double r = n.pole;
    Ostrovix::complex<double> xp = n.previousIn;
    Ostrovix::complex<double> yp = n.previousOut;
    for (int k = 0; k < count; ++k) {
        const Ostrovix::complex<double> v = x[k];
        yp = {v.re - xp.re + r * yp.re, v.im - xp.im + r * yp.im};
        xp = v;
        x[k] = yp;
    }
    n.previousIn = xp;
    n.previousOut = yp;
    n.back.process(x, count);
}

void IQNotchFilter::process(Ostrovix::complex<double>* x, int count)
{
    if (!m_enabled || !x || count < 1)
        return;
    for (Notch& n : m_notches) {
        if (!n.enabled || !n.active)
            continue;
        for (int done = 0; done < count; done += kBlock)
            runNotch(n, x + done, std::min(kBlock, count - done));
    }
}
