#include "zorvaniDsp/FirTapClasses.h"

#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

int FirTapClasses::classOf(int mode)
{
    switch (mode) {
    case ReceiverZorvani::LSB:
    case ReceiverZorvani::USB:
        return Ssb;
    case ReceiverZorvani::AM:
    case ReceiverZorvani::SAM:
    case ReceiverZorvani::NFM:
    case ReceiverZorvani::WFM:
        return Am;
    case ReceiverZorvani::DIGL:
    case ReceiverZorvani::DIGU:
    case ReceiverZorvani::DRM:
        return Dig;
    case ReceiverZorvani::CW:
        return Cw;
    default:
        return -1;
    }
}

bool FirTapClasses::set(int firClass, uint32_t taps)
{
    if (firClass < 0 || firClass >= kClasses || taps < 1 || taps > FastFirZorvani::kMaxTaps)
        return false;
    m_taps[size_t(firClass)] = taps;
    return true;
}

uint32_t FirTapClasses::taps(int firClass) const
{
    return (firClass >= 0 && firClass < kClasses) ? m_taps[size_t(firClass)] : 0;
}

uint32_t FirTapClasses::tapsFor(int mode) const
{
    return taps(classOf(mode));
}
