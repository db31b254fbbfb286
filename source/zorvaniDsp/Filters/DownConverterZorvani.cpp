#include "zorvaniDsp/Filters/DownConverterZorvani.h"

#include "vector/Status.h"
#include "vector/Vector.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

double limitHalf(double rel)
{
    return std::isnan(rel) ? 0.0 : std::clamp(rel, -0.5, 0.5);
}

} // namespace

DownConverterZorvani::DownConverterZorvani(int maxBlock)
    : m_tone(size_t(std::max(maxBlock, 1)))
{
}

void DownConverterZorvani::setFrequency(double rel)
{
    m_frequency = limitHalf(rel);
}

void DownConverterZorvani::setRit(double rel)
{
    m_rit = limitHalf(rel);
}

void DownConverterZorvani::reset()
{
    m_nco.reset();
}

bool DownConverterZorvani::process(Ostrovix::complex<double>* x, int count)
{
    if (!x || count < 1) {
        m_status = ox::vec::StsNullPtrErr;
        qWarning("bool __cdecl DownConverterZorvani::process(class Ostrovix::complex<double> *,int)%d"
                 " Incorrect input parameters",
                 __LINE__);
        return false;
    }
    double f = std::clamp(m_frequency + m_rit, -0.5, 0.5);
    if (f < 0.0)
        f += 1.0;
    m_nco.setFrequency(f);
    const int piece = int(m_tone.size());
    for (int done = 0; done < count; done += piece) {
        const int n = std::min(piece, count - done);
        m_nco.generate(m_tone.data(), n);
        ox::vec::multiply(x + done, m_tone.data(), n);
    }
    m_status = ox::vec::StsNoErr;
    return true;
}
