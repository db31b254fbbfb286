#include "zorvaniDsp/zorvaniDsp.h"

#include "DeviceFunctionsAbstract.h"
#include "IqTapAbstract.h"
#include "common/CheckedConnect.h"
#include "common/ZorvaniSR.h"
#include "zorvaniDsp/ReceiverZorvani.h"

#include <algorithm>
#include <cmath>

namespace {

bool validRx(int rx)
{
    return rx == 0 || rx == 1;
}

bool validChannel(int rx, int ch)
{
    return validRx(rx) && (ch == 0 || ch == 1);
}

// Preset values at construction: Long, Slow, Med, Fast, User.
constexpr zorvaniDsp::AgcParam kDefaultPresets[zorvaniDsp::kAgcPresets] = {
    {0.0, 1.0, 800.0, -120.0, 800}, {0.0, 1.0, 500.0, -120.0, 500}, {0.0, 1.0, 250.0, -120.0, 250},
    {0.0, 0.7, 100.0, -120.0, 100}, {-6.0, 1.0, 1000.0, -120.0, 1000}};

// Filter class of a mode, -1 when the mode keeps its tap count (DSB).
int firClassOf(int mode)
{
    switch (mode) {
    case ReceiverZorvani::LSB:
    case ReceiverZorvani::USB:
        return zorvaniDsp::FirSsb;
    case ReceiverZorvani::AM:
    case ReceiverZorvani::SAM:
    case ReceiverZorvani::NFM:
    case ReceiverZorvani::WFM:
        return zorvaniDsp::FirAm;
    case ReceiverZorvani::DIGL:
    case ReceiverZorvani::DIGU:
    case ReceiverZorvani::DRM:
        return zorvaniDsp::FirDig;
    case ReceiverZorvani::CW:
        return zorvaniDsp::FirCw;
    default:
        return -1;
    }
}

} // namespace

zorvaniDsp::zorvaniDsp(ThreadPoolAbstract*, BridgeAbstract*, std::shared_ptr<DeviceFunctionsAbstract> functions)
    : m_functions(std::move(functions))
{
    std::copy(std::begin(kDefaultPresets), std::end(kDefaultPresets), m_agcPresets.begin());
    createObjects();
}

zorvaniDsp::~zorvaniDsp()
{
    stop();
}

void zorvaniDsp::createObjects()
{
    for (quint32 r = 0; r < 2; ++r) {
        m_rawRings[r] = std::make_unique<CircularBuffer<Ostrovix::complex<double>>>(kRawRingSize);
        m_receivers[r] = std::make_unique<ReceiverZorvani>(r);
        ReceiverZorvani* receiver = m_receivers[r].get();
        CHECKED_CONNECT(receiver, SIGNAL(dBmMeter(quint32, double)), this, SLOT(setDbm(quint32, double)));
        CHECKED_CONNECT(receiver, SIGNAL(adcMeter(quint32, double, double)), this,
                        SLOT(setAdc(quint32, double, double)));
        CHECKED_CONNECT(receiver, SIGNAL(wfmStereo(bool)), this, SLOT(onWfmStereo(bool)));
        applyAgc(int(r));
    }
}

ReceiverZorvani* zorvaniDsp::receiver(int rx) const
{
    return validRx(rx) ? m_receivers[rx].get() : nullptr;
}

bool zorvaniDsp::processBlock(Ostrovix::complex<double>* samples, Ostrovix::complex<double>* audio, quint32 rx)
{
    if (rx > 1 || !samples)
        return false;
    if (IqTapAbstract* tap = m_iqTap.load(std::memory_order_acquire); tap && tap->isActive())
        tap->write(rx, samples, kBlock);
    m_rawRings[rx]->write(samples, kBlock);

    ReceiverZorvani* receiver = m_receivers[rx].get();
    if (receiver->isRunning() && receiver->inputRing().write(samples, kBlock)
        && receiver->inputRing().fill() >= receiver->wakeThreshold())
        receiver->wake();
    return false;
}

void zorvaniDsp::start()
{
    for (auto& receiver : m_receivers)
        receiver->start();
    m_running.store(true, std::memory_order_release);
}

void zorvaniDsp::stop()
{
    m_running.store(false, std::memory_order_release);
    for (auto& receiver : m_receivers)
        receiver->stop();
}

bool zorvaniDsp::isRunning() const
{
    return m_running.load(std::memory_order_acquire);
}

void zorvaniDsp::reset()
{
    for (int r = 0; r < 2; ++r) {
        m_receivers[r]->reset();
        m_rawRings[r]->reset();
    }
}

void zorvaniDsp::setSampleRate(double hz)
{
    if (!(hz > 0.0))
        return;
    m_sampleRate = hz;
    for (auto& receiver : m_receivers)
        receiver->setInputRate(hz);
}

double zorvaniDsp::sampleRate() const
{
    return m_sampleRate;
}

void zorvaniDsp::writeBandScope(const Ostrovix::complex<double>*, int) {}
void zorvaniDsp::resetBandScopeAccumulation() {}

int zorvaniDsp::nyquistZone() const
{
    return m_nyquistZone.load(std::memory_order_acquire);
}

void zorvaniDsp::setNyquistZone(int zone)
{
    m_nyquistZone.store(zone & 1, std::memory_order_release);
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

void zorvaniDsp::setCentreFrequency(int rx, double hz)
{
    if (validRx(rx))
        m_centre[rx] = hz;
}

double zorvaniDsp::centreFrequency(int rx) const
{
    return validRx(rx) ? m_centre[rx] : 0.0;
}

void zorvaniDsp::setChannelOffset(int rx, int ch, double hz)
{
    if (validChannel(rx, ch))
        m_receivers[rx]->setIfOffset(ch, hz);
}

void zorvaniDsp::setFilter(int rx, double lowHz, double highHz)
{
    if (!validRx(rx))
        return;
    for (int ch = 0; ch < 2; ++ch)
        m_receivers[rx]->setFilter(ch, lowHz, highHz);
}

void zorvaniDsp::setMode(int rx, int mode)
{
    if (!validRx(rx))
        return;
    m_receivers[rx]->setMode(mode);
    for (int r = 0; r < 2; ++r) {
        applyTapsForMode(r);
        applyAgc(r);
    }
}

void zorvaniDsp::applyTapsForMode(int rx)
{
    const int cls = firClassOf(m_receivers[rx]->pendingMode());
    if (cls >= 0)
        m_receivers[rx]->setTaps(m_firTaps[cls]);
}

void zorvaniDsp::setAgc(int rx, int index)
{
    if (!validRx(rx) || index < 0 || index > kAgcPresets || index - 1 == m_agcIndex[rx])
        return;
    m_agcIndex[rx] = index - 1;
    applyAgc(rx);
}

int zorvaniDsp::agcIndex(int rx) const
{
    return validRx(rx) ? m_agcIndex[rx] + 1 : 0;
}

void zorvaniDsp::applyAgc(int rx)
{
    const bool enabled = m_agcIndex[rx] >= 0;
    const AgcParam& p = m_agcPresets[enabled ? m_agcIndex[rx] : 0];
    m_receivers[rx]->queueAgc(AgcSettings{p.attack, p.decay, p.hang, enabled});
}

void zorvaniDsp::setAgcAttack(int preset, double ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[preset].attack = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

void zorvaniDsp::setAgcDecay(int preset, double ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[preset].decay = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

void zorvaniDsp::setAgcHang(int preset, uint32_t ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[preset].hang = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

zorvaniDsp::AgcParam zorvaniDsp::agcPreset(int preset) const
{
    return (preset >= 0 && preset < kAgcPresets) ? m_agcPresets[preset] : AgcParam{};
}

void zorvaniDsp::setFirTaps(int firClass, uint32_t taps)
{
    if (firClass < 0 || firClass >= 4 || taps == 0)
        return;
    m_firTaps[firClass] = taps;
    for (int r = 0; r < 2; ++r)
        applyTapsForMode(r);
}

uint32_t zorvaniDsp::firTaps(int firClass) const
{
    return (firClass >= 0 && firClass < 4) ? m_firTaps[firClass] : 0;
}

void zorvaniDsp::setDigOffsets(double diglHz, double diguHz)
{
    for (auto& receiver : m_receivers)
        receiver->setDigOffsets(diglHz, diguHz);
}

void zorvaniDsp::setCwPitch(int rx, double hz)
{
    if (validRx(rx))
        m_receivers[rx]->setCwPitch(hz);
}

void zorvaniDsp::setVolume(int rx, int ch, double dB)
{
    if (!validChannel(rx, ch))
        return;
    m_volume[rx][ch] = dB;
    updateMixerGains();
}

void zorvaniDsp::setBalance(int rx, int ch, double balance)
{
    if (!validChannel(rx, ch))
        return;
    m_balance[rx][ch] = balance;
    updateMixerGains();
}

void zorvaniDsp::setRxEnable(int rx, bool on)
{
    setChannelEnable(rx, 0, on);
}

void zorvaniDsp::setChannelEnable(int rx, int ch, bool on)
{
    if (!validChannel(rx, ch))
        return;
    m_enabled[rx][ch] = on;
    updateMixerGains();
}

MixerGainTable zorvaniDsp::updateMixerGains()
{
    return mixerGains(m_enabled, m_volume, m_balance);
}

void zorvaniDsp::setMainVolume(double) {}

void zorvaniDsp::setMute(int rx, int ch, bool on)
{
    if (validChannel(rx, ch))
        m_muted[rx][ch] = on;
}

void zorvaniDsp::setHideSpectrumSlopes(bool) {}
void zorvaniDsp::setFftSize(int) {}
void zorvaniDsp::setAveragingMode(int) {}
void zorvaniDsp::setAveraging(int) {}

void zorvaniDsp::setSpectrumRate(int fps)
{
    m_spectrumRate = std::clamp(fps, 10, 40);
}

int zorvaniDsp::spectrumRate() const
{
    return m_spectrumRate;
}

void zorvaniDsp::setIqTap(IqTapAbstract* tap)
{
    m_iqTap.store(tap, std::memory_order_release);
}

void zorvaniDsp::setSignalAnalyzer(SignalAnalyzerAbstract* analyzer)
{
    if (analyzer)
        analyzer->setSampleRate(zorvani::kWorkingRate);
    for (auto& receiver : m_receivers)
        receiver->setSignalAnalyzer(analyzer);
}

CircularBuffer<Ostrovix::complex<double>>* zorvaniDsp::rawIqRing(int rx)
{
    return validRx(rx) ? m_rawRings[rx].get() : nullptr;
}

void zorvaniDsp::setSoundCardOutput(bool on)
{
    if (on)
        soundCardOpen();
    else
        soundCardClose();
}

void zorvaniDsp::soundCardOpen() {}
void zorvaniDsp::soundCardClose() {}
void zorvaniDsp::onRnfEnabled(size_t, bool) {}
void zorvaniDsp::onRnfParam(size_t, size_t, bool, double, double) {}
void zorvaniDsp::setWaterfallFilter(bool) {}
void zorvaniDsp::setApf(quint32, bool) {}
void zorvaniDsp::setDse(quint32, bool) {}

int zorvaniDsp::senderReceiver() const
{
    for (int r = 0; r < 2; ++r)
        if (sender() == m_receivers[r].get())
            return r;
    return -1;
}

void zorvaniDsp::setDbm(quint32 channel, double level)
{
    if (const int rx = senderReceiver(); rx >= 0)
        emit dBmMeter(quint32(rx), channel, level);
}

void zorvaniDsp::setAdc(quint32 channel, double re, double im)
{
    if (const int rx = senderReceiver(); rx >= 0)
        emit adcMeter(quint32(rx), channel, re, im);
}

void zorvaniDsp::onWfmStereo(bool stereo)
{
    if (const int rx = senderReceiver(); rx >= 0)
        emit wfmStereo(quint32(rx), stereo);
}
