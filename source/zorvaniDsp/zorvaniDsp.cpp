#include "zorvaniDsp/zorvaniDsp.h"

#include "zorvaniDsp/ReceiverZorvani.h"

#include <algorithm>

// Placeholder engine: the chain itself comes with the DSP work.
zorvaniDsp::zorvaniDsp(ThreadPoolAbstract*, BridgeAbstract*, std::shared_ptr<DeviceFunctionsAbstract>)
{
    for (quint32 r = 0; r < 2; ++r)
        m_receivers[r] = std::make_unique<ReceiverZorvani>(r);
}

zorvaniDsp::~zorvaniDsp() = default;

ReceiverZorvani* zorvaniDsp::receiver(int rx) const
{
    return (rx == 0 || rx == 1) ? m_receivers[rx].get() : nullptr;
}

static bool silence(float* buffer, quint32 length)
{
    std::fill(buffer, buffer + length, 0.0f);
    return true;
}

bool zorvaniDsp::soundCardPull(float* buffer, quint32 length, quint32) { return silence(buffer, length); }
bool zorvaniDsp::vacPull(int, float* buffer, quint32 length, quint32) { return silence(buffer, length); }
bool zorvaniDsp::lineOutPull(int, float* buffer, quint32 length, quint32) { return silence(buffer, length); }
void zorvaniDsp::openVac(int, int) {}
void zorvaniDsp::setCwPitch(int, double) {}
void zorvaniDsp::setHideSpectrumSlopes(bool) {}
void zorvaniDsp::soundCardOpen() {}
void zorvaniDsp::soundCardClose() {}
void zorvaniDsp::onRnfEnabled(size_t, bool) {}
void zorvaniDsp::onRnfParam(size_t, size_t, bool, double, double) {}
void zorvaniDsp::setWaterfallFilter(bool) {}
void zorvaniDsp::setApf(quint32, bool) {}
void zorvaniDsp::setDse(quint32, bool) {}
bool zorvaniDsp::processBlock(Ostrovix::complex<double>*, Ostrovix::complex<double>*, quint32) { return false; }
void zorvaniDsp::start() {}
void zorvaniDsp::stop() {}
bool zorvaniDsp::isRunning() const { return false; }
void zorvaniDsp::writeBandScope(const Ostrovix::complex<double>*, int) {}
void zorvaniDsp::resetBandScopeAccumulation() {}
int zorvaniDsp::nyquistZone() const { return 0; }
void zorvaniDsp::setNyquistZone(int) {}
