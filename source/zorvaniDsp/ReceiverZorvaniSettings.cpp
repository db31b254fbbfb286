// The receiver's settings: the control thread's side. Each setter takes the
// parameter lock, changes what it names and redesigns only the stages that
// depend on it; the receiver thread sees the change at its next pass.
#include "zorvaniDsp/ReceiverZorvani.h"

#include <cmath>

void ReceiverZorvani::setInputRate(double hz)
{
    const long factor = std::lround(hz / kWorkingRate);
    if (!(factor == 1 || factor == 2 || factor == 4 || factor == 8) || hz != double(factor) * kWorkingRate)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_inputRate = hz;
    designInputRateLocked();
}

double ReceiverZorvani::inputRate() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_inputRate;
}

void ReceiverZorvani::setIfOffset(int channel, double hz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    Channel& c = m_channels[channel];
    c.ifOffset = hz;
    c.ifShift.setFrequency(-hz / m_inputRate);
}

double ReceiverZorvani::ifOffset(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_channels[channel & 1].ifOffset;
}

void ReceiverZorvani::setChannelEnabled(int channel, bool on)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    Channel& c = m_channels[channel];
    if (on == c.enabled)
        return;
    c.enabled = on;
    if (on)
        c.resumed = c.fadeTail == 0;
    else
        c.fadeTail = kFadeTail;
}

void ReceiverZorvani::setRit(int channel, double hz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    Channel& c = m_channels[channel];
    c.rit = hz;
    c.ifShift.setRit(-hz / m_inputRate);
}

void ReceiverZorvani::setFilter(int channel, double lowHz, double highHz)
{
    if (channel != 0 && channel != 1)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    Channel& c = m_channels[channel];
    c.filterLow = lowHz;
    c.filterHigh = highHz;
    designChannelLocked(c);
}

bool ReceiverZorvani::setMode(int mode)
{
    if (mode < AM || mode > DRM)
        return false;
    std::lock_guard<SpinLock> guard(m_params);
    if (mode == m_switcher.pendingMode())
        return false;
    m_switcher.setPendingMode(mode);
    m_switcher.requestChange();
    return true;
}

int ReceiverZorvani::pendingMode() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.pendingMode();
}

void ReceiverZorvani::setTaps(uint32_t taps)
{
    if (taps < 1 || taps > FastFirZorvani::kMaxTaps)
        return;
    std::lock_guard<SpinLock> guard(m_params);
    if (taps == m_taps)
        return;
    m_taps = taps;
    for (Channel& c : m_channels)
        designChannelLocked(c);
}

uint32_t ReceiverZorvani::taps() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_taps;
}

double ReceiverZorvani::filterDelaySeconds() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_channels[0].decimator.delaySeconds() + 0.5 * double(m_taps - 1) / kWorkingRate;
}

void ReceiverZorvani::setCwPitch(double hz)
{
    if (!(hz > 0.0 && hz < kWorkingRate / 4.0))
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_cwPitch = hz;
    designCwLocked();
}

void ReceiverZorvani::setDigOffsets(double diglHz, double diguHz)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_diglOffset = diglHz;
    m_diguOffset = diguHz;
    for (Channel& c : m_channels) {
        c.diglShift.setFrequency(-diglHz / m_inputRate);
        c.diguShift.setFrequency(-diguHz / m_inputRate);
    }
}

void ReceiverZorvani::queueAgc(const AgcSettings& settings)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_agcQueue.push(settings);
    m_switcher.requestChange();
}

AgcSettings ReceiverZorvani::appliedAgc() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_agc;
}

void ReceiverZorvani::setRfGain(int dB)
{
    forChannels([dB](Channel& c) { c.agc.setRfGain(dB); });
}

void ReceiverZorvani::setLmsEnabled(Lms which, bool on)
{
    forChannels([&](Channel& c) { lms(c, which).setEnabled(on); });
}

void ReceiverZorvani::setLmsTaps(Lms which, int taps)
{
    forChannels([&](Channel& c) { lms(c, which).setTaps(taps); });
}

void ReceiverZorvani::setLmsDelay(Lms which, int delay)
{
    forChannels([&](Channel& c) { lms(c, which).setDelay(delay); });
}

void ReceiverZorvani::setLmsRate(Lms which, double mu)
{
    forChannels([&](Channel& c) { lms(c, which).setRate(mu); });
}

void ReceiverZorvani::setLmsLeak(Lms which, double lambda)
{
    forChannels([&](Channel& c) { lms(c, which).setLeak(lambda); });
}

void ReceiverZorvani::setCwApfEnabled(bool on)
{
    forChannels([on](Channel& c) { c.cwApf.setEnabled(on); });
}

void ReceiverZorvani::setCwApfGain(double dB)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_cwApfGain = dB;
    for (Channel& c : m_channels)
        designCwApfLocked(c);
}

void ReceiverZorvani::setCwApfQuality(double q)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_cwApfQuality = q;
    for (Channel& c : m_channels)
        designCwApfLocked(c);
}

void ReceiverZorvani::setSsbApfEnabled(bool on)
{
    forChannels([on](Channel& c) { c.ssbApf.setEnabled(on); });
}

void ReceiverZorvani::setSsbApfGain(double dB)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_ssbApfGain = dB;
    designSsbApfLocked();
}

void ReceiverZorvani::setSsbApfQuality(double q)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_ssbApfQuality = q;
    designSsbApfLocked();
}

void ReceiverZorvani::setSsbApfFrequency(double hz)
{
    if (!(hz > 0.0 && hz < kWorkingRate / 2.0))
        return;
    std::lock_guard<SpinLock> guard(m_params);
    m_ssbApfFrequency = hz;
    designSsbApfLocked();
}

void ReceiverZorvani::setBinauralEnabled(bool on)
{
    forChannels([on](Channel& c) { c.binaural.setEnabled(on); });
    m_binauralOn.store(on, std::memory_order_release);
}

void ReceiverZorvani::setBinauralTaps(int taps)
{
    forChannels([taps](Channel& c) { c.binaural.setTaps(taps); });
}

void ReceiverZorvani::setBinauralSwap(bool on)
{
    forChannels([on](Channel& c) { c.binaural.setSwap(on); });
}

void ReceiverZorvani::setSquelchEnabled(bool on)
{
    forChannels([on](Channel& c) {
        c.squelch.setEnabled(on);
        c.fmSquelch.setEnabled(on);
    });
}

void ReceiverZorvani::setSquelchLevel(double dB)
{
    forChannels([dB](Channel& c) {
        c.squelch.setLevel(dB);
        c.fmSquelch.setLevel(dB);
    });
}

void ReceiverZorvani::setCtcssEnabled(bool on)
{
    forChannels([on](Channel& c) { c.fmSquelch.setCtcssEnabled(on); });
}

void ReceiverZorvani::setCtcssTone(int index)
{
    forChannels([index](Channel& c) { c.fmSquelch.setTone(index); });
}

void ReceiverZorvani::setEqualizerEnabled(bool on)
{
    forChannels([on](Channel& c) { c.equalizer.setEnabled(on); });
}

void ReceiverZorvani::setEqualizerGains(const QList<int>& dB)
{
    forChannels([&dB](Channel& c) { c.equalizer.setGains(dB); });
}

void ReceiverZorvani::setWfmStereo(bool on)
{
    std::lock_guard<SpinLock> guard(m_params);
    m_wfmStereoOn = on;
    m_wfm->setStereo(on);
}

void ReceiverZorvani::setWfmUsa(bool on)
{
    std::lock_guard<SpinLock> guard(m_params);
    if (on == m_wfmUsa)
        return;
    m_wfmUsa = on;
    designWfmLocked();
}

ReceiverZorvani::StageSettings ReceiverZorvani::stageSettings() const
{
    const auto lmsOf = [](const LmsFilterZorvani& f) { return LmsSettings{f.taps(), f.delay(), f.rate(), f.leak()}; };
    std::lock_guard<SpinLock> guard(m_params);
    const Channel& c = m_channels[0];
    StageSettings s;
    s.nr = lmsOf(c.nr);
    s.anf = lmsOf(c.anf);
    s.cwApfGain = m_cwApfGain;
    s.cwApfQuality = m_cwApfQuality;
    s.ssbApfGain = m_ssbApfGain;
    s.ssbApfQuality = m_ssbApfQuality;
    s.ssbApfFrequency = m_ssbApfFrequency;
    s.binauralTaps = c.binaural.taps();
    s.binauralSwap = c.binaural.swap();
    s.wfmUsa = m_wfmUsa;
    s.diglOffset = m_diglOffset;
    s.diguOffset = m_diguOffset;
    return s;
}

double ReceiverZorvani::meterLevel(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_channels[channel & 1].meter.level();
}

ReceiverZorvani::ModulationSwitcher::State ReceiverZorvani::faderState() const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.state();
}

double ReceiverZorvani::faderGain(int channel) const
{
    std::lock_guard<SpinLock> guard(m_params);
    return m_switcher.gain(channel);
}

