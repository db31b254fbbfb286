#include "zorvaniDsp/Filters/IirLowpassZorvani.h"

#include "vector/Status.h"
#include "vector/Vector.h"

#include <QtGlobal>

#include <cmath>

namespace {
const char* const kSource = "source/zorvaniDsp/Filters/IirLowpassZorvani";
}

bool IirLowpassZorvani::init(double relCutoff, int order)
{
    if (order < 1 || order > kMaxOrder || std::isnan(relCutoff)) {
        m_status = ox::vec::StsRangeErr;
        ox::vec::reportStatus(kSource, __LINE__, m_status);
        return false;
    }
    double fc = relCutoff;
    if (fc <= 0.0)
        fc = 1e-7;
    else if (fc >= 0.5)
        fc = 0.4999999;

    // Analogue prototype poles at angles π(2k + n - 1) / (2n); each conjugate
    // pair gives s² + 2 sin(θk) s + 1, with θk = π(2k - 1) / (2n).
    const double K = std::tan(ox::vec::kPi * fc);
    const double K2 = K * K;
    int s = 0;
    for (int k = 1; k <= order / 2; ++k, ++s) {
        const double a = 2.0 * std::sin(ox::vec::kPi * (2 * k - 1) / (2.0 * order));
        const double d = 1.0 + a * K + K2;
        const double b0 = K2 / d;
        m_sections[s] = {b0, 2.0 * b0, b0, 2.0 * (K2 - 1.0) / d, (1.0 - a * K + K2) / d};
    }
    if (order % 2 == 1) {
        const double b0 = K / (1.0 + K);
        m_sections[s++] = {b0, b0, 0.0, (K - 1.0) / (1.0 + K), 0.0};
    }
    m_sectionCount = s;
    m_order = order;
    m_cutoff = fc;
    m_status = ox::vec::StsNoErr;
    reset();
    return true;
}

bool IirLowpassZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (m_sectionCount == 0 || !x || count < 1) {
        m_status = ox::vec::StsNullPtrErr;
        ox::vec::reportStatus(kSource, __LINE__, m_status);
        return false;
    }
    // Sample by sample through all sections: the sections' recursions are
    // independent chains that the processor overlaps. Local copies of the
    // coefficients and states cannot alias the samples.
    const int sections = m_sectionCount;
    auto coefficients = m_sections;
    auto re = m_re;
    auto im = m_im;
    for (int i = 0; i < count; ++i) {
        double xr = x[i].re;
        double xi = x[i].im;
        for (int s = 0; s < sections; ++s) {
            const Section& c = coefficients[s];
            const double yr = c.b0 * xr + re[s].z1;
            const double yi = c.b0 * xi + im[s].z1;
            re[s].z1 = c.b1 * xr - c.a1 * yr + re[s].z2;
            im[s].z1 = c.b1 * xi - c.a1 * yi + im[s].z2;
            re[s].z2 = c.b2 * xr - c.a2 * yr;
            im[s].z2 = c.b2 * xi - c.a2 * yi;
            xr = yr;
            xi = yi;
        }
        x[i].re = xr;
        x[i].im = xi;
    }
    m_re = re;
    m_im = im;
    return true;
}

void IirLowpassZorvani::reset()
{
    m_re.fill({0.0, 0.0});
    m_im.fill({0.0, 0.0});
}
