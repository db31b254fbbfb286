#include "zorvaniDsp/Filters/BiQuadFilter.h"

#include <QDebug>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

struct Coefficients {
    double n0, n1, n2; // numerator
    double d0, d1, d2; // denominator
};

// Boost forms; a cut is the boost's inverse (numerator and denominator swapped).
Coefficients boostForm(BiQuadFilter::Type type, double K, double Q, double V)
{
    const double K2 = K * K;
    const double r2 = std::sqrt(2.0);
    const double r2V = std::sqrt(2.0 * V);
    switch (type) {
    case BiQuadFilter::Peaking:
        return {1 + V * K / Q + K2, 2 * (K2 - 1), 1 - V * K / Q + K2, 1 + K / Q + K2, 2 * (K2 - 1), 1 - K / Q + K2};
    case BiQuadFilter::LowShelf:
        return {1 + r2V * K + V * K2, 2 * (V * K2 - 1), 1 - r2V * K + V * K2, 1 + r2 * K + K2, 2 * (K2 - 1), 1 - r2 * K + K2};
    case BiQuadFilter::HighShelf:
        return {V + r2V * K + K2, 2 * (K2 - V), V - r2V * K + K2, 1 + r2 * K + K2, 2 * (K2 - 1), 1 - r2 * K + K2};
    default:
        break;
    }
    const double d0 = 1 + K / Q + K2;
    const double d1 = 2 * (K2 - 1);
    const double d2 = 1 - K / Q + K2;
    switch (type) {
    case BiQuadFilter::LowPass:
        return {K2, 2 * K2, K2, d0, d1, d2};
    case BiQuadFilter::HighPass:
        return {1, -2, 1, d0, d1, d2};
    case BiQuadFilter::BandPass:
        return {K / Q, 0, -K / Q, d0, d1, d2};
    default: // Notch
        return {1 + K2, 2 * (K2 - 1), 1 + K2, d0, d1, d2};
    }
}

} // namespace

void BiQuadFilter::init(Type type, double f0Rel, double q, double gainDb)
{
    if (type < LowPass || type > HighShelf) {
        qWarning().noquote() << "void __cdecl BiQuadFilter::init(BiQuadFilter::Type,double,double,double)"
                             << "Incorrect filter type!";
        return;
    }
    if (!(f0Rel > 0.0 && f0Rel < 0.5) || !std::isfinite(q) || !std::isfinite(gainDb)) {
        qWarning().noquote() << "void __cdecl BiQuadFilter::init(BiQuadFilter::Type,double,double,double)"
                             << "Incorrect input parameters!";
        return;
    }
    const double Q = std::max(q, 0.1);
    const double V = std::pow(10.0, std::fabs(gainDb) / 20.0);
    const double K = std::tan(M_PI * f0Rel);
    Coefficients c = boostForm(type, K, Q, V);
    const bool gainType = type >= Peaking;
    if (gainType && gainDb < 0.0) {
        std::swap(c.n0, c.d0);
        std::swap(c.n1, c.d1);
        std::swap(c.n2, c.d2);
    }
    m_b0 = c.n0 / c.d0;
    m_b1 = c.n1 / c.d0;
    m_b2 = c.n2 / c.d0;
    m_a1 = c.d1 / c.d0;
    m_a2 = c.d2 / c.d0;
    m_scale = gainType ? 1.0 / V : 1.0;
    reset();
}

bool BiQuadFilter::process(Ostrovix::complex<double>* x, int count, double extraGainDb)
{
    if (!x || count < 1) {
        qWarning().noquote() << "bool __cdecl BiQuadFilter::process(class Ostrovix::complex<double> *,int,double)"
                                "): Incorrect input parameters!";
        return false;
    }
    if (!m_enabled)
        return true;
    double* v = &x[0].re;
    for (int part = 0; part < 2; ++part) {
        double z1 = m_z1[part];
        double z2 = m_z2[part];
        for (int k = 0; k < count; ++k) {
            const double in = v[2 * k + part];
            const double y = m_b0 * in + z1;
            z1 = m_b1 * in + z2 - m_a1 * y;
            z2 = m_b2 * in - m_a2 * y;
            v[2 * k + part] = y;
        }
        m_z1[part] = z1;
        m_z2[part] = z2;
    }
    if (!qFuzzyCompare(m_scale, 1.0)) {
        const double g = std::pow(10.0, extraGainDb / 20.0) * m_scale;
        for (int k = 0; k < 2 * count; ++k)
            v[k] *= g;
    }
    return true;
}

void BiQuadFilter::reset()
{
    m_z1[0] = m_z1[1] = 0.0;
    m_z2[0] = m_z2[1] = 0.0;
}

double cwApfQuality(double quality, double pitch, double low, double high)
{
    return quality * pitch / std::max(450.0, std::fabs(high - low));
}
