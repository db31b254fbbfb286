#include "zorvaniDsp/zorvaniFFT/zorvaniFFT64f.h"

#include "vector/Status.h"

#include <QtGlobal>

namespace {
const char* const kSource = "source/zorvaniDsp/zorvaniFFT/zorvaniFFT64f";
}

bool zorvaniFFT64f::init(uint32_t size)
{
    if (!ox::vec::ComplexFft<double>::isPowerOfTwo(size)) {
        m_fft.init(0);
        m_status = ox::vec::StsFftOrderErr;
        qWarning("%s:%d : Incorrect fft size!", kSource, __LINE__);
        return false;
    }
    if (!m_fft.init(size)) {
        m_status = ox::vec::StsNotInitialised;
        ox::vec::reportStatus(kSource, __LINE__, m_status);
        return false;
    }
    m_status = ox::vec::StsNoErr;
    return true;
}

bool zorvaniFFT64f::process(Ostrovix::complex<double>* x, uint32_t count, int direction)
{
    if (!x || count == 0 || count < m_fft.size() || m_fft.size() == 0
        || (direction != Forward && direction != Inverse))
        return false;
    return report(direction == Forward ? m_fft.forward(x) : m_fft.inverse(x));
}

bool zorvaniFFT64f::forwardUnscaled(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out,
                                    uint32_t count)
{
    if (!in || !out || count == 0 || count < m_fft.size() || m_fft.size() == 0)
        return false;
    return report(m_fft.forwardUnscaled(in, out));
}

bool zorvaniFFT64f::inverse(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out, uint32_t count)
{
    if (!in || !out || count == 0 || count < m_fft.size() || m_fft.size() == 0)
        return false;
    return report(m_fft.inverse(in, out));
}

bool zorvaniFFT64f::report(bool ok)
{
    if (!ok) {
        m_status = ox::vec::StsNotInitialised;
        ox::vec::reportStatus(kSource, __LINE__, m_status);
    }
    return ok;
}
