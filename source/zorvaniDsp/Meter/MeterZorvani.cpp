#include "zorvaniDsp/Meter/MeterZorvani.h"

#include "vector/Status.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

const char* const kSource = "source/zorvaniDsp/Meter/MeterZorvani";
constexpr double kPeakSmoothing = 0.005;

// Levels outside [-200, 100] dB, infinite or NaN are taken as -100 dB.
double sanitised(double level)
{
    return (level >= -200.0 && level <= 100.0) ? level : -100.0;
}

// Smoothed peak level in dB; a stored peak that is not finite restarts at -120.
double smoothPeak(double stored, double minimum, double maximum)
{
    const double p = std::max({std::abs(minimum), std::abs(maximum), std::pow(10.0, -7.5)});
    const double level = std::isfinite(stored) ? stored : -120.0;
    return (1.0 - kPeakSmoothing) * level + kPeakSmoothing * 20.0 * std::log10(p);
}

} // namespace

MeterZorvani::MeterZorvani() = default;

void MeterZorvani::setDecimation(int D)
{
    if (D < 1 || D > 64) {
        ox::vec::reportStatus(kSource, __LINE__, ox::vec::StsRangeErr);
        return;
    }
    m_attack = 0.05 / D;
    m_decay = 0.01 / D;
}

bool MeterZorvani::process(const Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        ox::vec::reportStatus(kSource, __LINE__, ox::vec::StsNullPtrErr);
        return false;
    }
    double minRe = x[0].re, maxRe = x[0].re, minIm = x[0].im, maxIm = x[0].im;
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        minRe = std::min(minRe, x[i].re);
        maxRe = std::max(maxRe, x[i].re);
        minIm = std::min(minIm, x[i].im);
        maxIm = std::max(maxIm, x[i].im);
        sum += x[i].re * x[i].re + x[i].im * x[i].im;
    }
    m_peakRe = smoothPeak(m_peakRe, minRe, maxRe);
    m_peakIm = smoothPeak(m_peakIm, minIm, maxIm);

    const double mean = sum / count;
    const double fresh = sanitised(10.0 * std::log10(std::max(mean, std::pow(10.0, -22.5))));
    const double level = sanitised(m_level);
    const double c = fresh > level ? m_attack : m_decay;
    m_level = (1.0 - c) * level + c * fresh;
    m_slow = 0.96 * sanitised(m_slow) + 0.04 * fresh;
    return true;
}

void MeterZorvani::reset()
{
    m_level = -140.0;
    m_slow = -140.0;
    m_peakRe = -120.0;
    m_peakIm = -120.0;
}
