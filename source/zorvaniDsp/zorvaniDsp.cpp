#include "zorvaniDsp/zorvaniDsp.h"

#include "BridgeAbstract.h"
#include "DeviceFunctionsAbstract.h"
#include "IqTapAbstract.h"
#include "common/CheckedConnect.h"
#include "common/ZorvaniSR.h"
#include "zorvaniDsp/Audio/AudioPull.h"
#include "zorvaniDsp/Audio/AudioServerNotifyer.h"
#include "zorvaniDsp/Audio/MixerZorvani.h"
#include "zorvaniDsp/PanoramaBank.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/Audio/ResamplerSCZorvani.h"
#include "zorvaniDsp/WidebandStages.h"

namespace {

using Rx = ReceiverZorvani;
using Lms = ReceiverZorvani::Lms;

bool validRx(int rx)
{
    return rx == 0 || rx == 1;
}

bool validChannel(int rx, int ch)
{
    return validRx(rx) && (ch == 0 || ch == 1);
}

} // namespace

zorvaniDsp::zorvaniDsp(ThreadPoolAbstract* pool, BridgeAbstract* bridge, std::shared_ptr<DeviceFunctionsAbstract> functions)
    : m_bridge(bridge), m_functions(std::move(functions))
{
    createObjects(pool);
}

zorvaniDsp::~zorvaniDsp()
{
    stop();
    m_soundCard->stop();
}

void zorvaniDsp::createObjects(ThreadPoolAbstract* pool)
{
    m_soundCard = std::make_shared<ResamplerSCZorvani>(zorvani::kWorkingRate, m_outputRate);
    m_audioServerConverter = std::make_shared<ResamplerSCZorvani>(zorvani::kWorkingRate, m_outputRate);
    m_notifier = std::make_shared<AudioServerNotifyer>(m_bridge, m_audioServerConverter);
    if (m_bridge && m_bridge->audioServer())
        m_bridge->audioServer()->addListener(m_notifier);

    m_panoramas = std::make_unique<PanoramaBank>(pool, m_centre[0]);
    m_wideband = std::make_unique<WidebandStages>(m_centre[0], m_sampleRate);
    CHECKED_CONNECT(&m_panoramas->bandScope(), SIGNAL(spectrum(uint)), this, SIGNAL(bandscope()));
    for (quint32 r = 0; r < 2; ++r) {
        m_rawRings[r] = std::make_unique<CircularBuffer<Ostrovix::complex<double>>>(kRawRingSize);
        m_receivers[r] = std::make_unique<ReceiverZorvani>(r);
        ReceiverZorvani* receiver = m_receivers[r].get();
        CHECKED_CONNECT(receiver, SIGNAL(dBmMeter(quint32, double)), this, SLOT(setDbm(quint32, double)));
        CHECKED_CONNECT(receiver, SIGNAL(adcMeter(quint32, double, double)), this,
                        SLOT(setAdc(quint32, double, double)));
        CHECKED_CONNECT(receiver, SIGNAL(wfmStereo(bool)), this, SLOT(onWfmStereo(bool)));
        CHECKED_CONNECT(m_panoramas->receiver(int(r)), SIGNAL(spectrum(uint)), this, SIGNAL(spectrum(quint32)));
    }

    m_mixer = std::make_unique<MixerZorvani>(std::vector<MixerSource*>{m_receivers[0].get(), m_receivers[1].get()},
                                             m_soundCard);
    for (int r = 0; r < 2; ++r) {
        applyTapsForMode(r);
        applyAgc(r);
    }
}

ReceiverZorvani* zorvaniDsp::receiver(int rx) const
{
    return validRx(rx) ? m_receivers[rx].get() : nullptr;
}

// --- per-block entry (socket thread) ---

bool zorvaniDsp::processBlock(Ostrovix::complex<double>* samples, Ostrovix::complex<double>* audio, quint32 rx)
{
    // The receiver number comes from the packet: anything else is refused.
    if (rx > 1 || !samples || !audio)
        return false;
    m_wideband->process(rx, samples, kBlock);
    m_panoramas->write(rx, samples, kBlock);
    if (IqTapAbstract* tap = m_iqTap.load(std::memory_order_acquire); tap && tap->isActive())
        tap->write(rx, samples, kBlock);
    m_rawRings[rx]->write(samples, kBlock);

    ReceiverZorvani* receiver = m_receivers[rx].get();
    CircularBuffer<Ostrovix::complex<double>>& input = receiver->inputRing();
    if (receiver->isRunning() && input.fill() + kBlock <= receiver->inputLimit() && input.write(samples, kBlock)
        && input.fill() >= receiver->wakeThreshold())
        receiver->wake();

    if (!m_mixer->outputRing().read(audio, kBlock))
        return false;
    if (m_audioServerConverter->isRunning())
        m_audioServerConverter->push(audio, kBlock);
    return true;
}

// --- lifecycle ---

void zorvaniDsp::start()
{
    if (isRunning())
        return;
    for (auto& receiver : m_receivers)
        receiver->start();
    m_audioServerConverter->start();
    m_mixer->start();
    m_running.store(true, std::memory_order_release);
}

void zorvaniDsp::stop()
{
    m_running.store(false, std::memory_order_release);
    for (auto& receiver : m_receivers)
        receiver->stop();
    m_audioServerConverter->stop();
    m_mixer->stop();
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
    m_soundCard->reset();
    m_audioServerConverter->reset();
    m_mixer->reset();
}

void zorvaniDsp::setSampleRate(double hz)
{
    if (!(hz >= zorvani::kWorkingRate))
        return;
    m_sampleRate = hz;
    forReceivers(&Rx::setInputRate, hz);
    m_wideband->setSampleRate(hz);
}

double zorvaniDsp::sampleRate() const { return m_sampleRate; }

// --- band scope ---

void zorvaniDsp::writeBandScope(const Ostrovix::complex<double>* samples, int count)
{
    m_panoramas->writeBandScope(samples, count);
}

void zorvaniDsp::resetBandScopeAccumulation() { m_panoramas->resetBandScopeAccumulation(); }
void zorvaniDsp::setBandScopeActive(bool on) { m_panoramas->setBandScopeOn(on && isRunning()); }
int zorvaniDsp::nyquistZone() const { return m_nyquistZone.load(std::memory_order_acquire); }
void zorvaniDsp::setNyquistZone(int zone) { m_nyquistZone.store(zone & 1, std::memory_order_release); }

// --- audio paths ---

bool zorvaniDsp::soundCardPull(float* buffer, quint32 length, quint32 channels)
{
    return pullStereo(m_soundCard->outputRing(), m_soundCard->isRunning(), buffer, length, channels);
}

bool zorvaniDsp::vacPull(int rx, float* buffer, quint32 length, quint32 channels)
{
    if (!validRx(rx))
        return pullStereo(m_soundCard->outputRing(), false, buffer, length, channels);
    return m_receivers[rx]->pullVac(buffer, length, channels);
}

bool zorvaniDsp::lineOutPull(int rx, float* buffer, quint32 length, quint32 channels)
{
    if (!validRx(rx))
        return pullStereo(m_soundCard->outputRing(), false, buffer, length, channels);
    return m_receivers[rx]->pullLineOut(buffer, length, channels);
}

void zorvaniDsp::openVac(int rx, int sampleRate) { forReceiver(quint32(rx), &Rx::openVac, sampleRate); }

void zorvaniDsp::setSoundCardOutput(bool on)
{
    if (on)
        soundCardOpen();
    else
        soundCardClose();
}

void zorvaniDsp::soundCardOpen()
{
    if (!m_soundCard->isRunning())
        m_soundCard->start();
}

void zorvaniDsp::soundCardClose()
{
    if (m_soundCard->isRunning())
        m_soundCard->stop();
}

CircularBuffer<Ostrovix::complex<double>>* zorvaniDsp::soundCardSource() { return &m_soundCard->outputRing(); }

// --- receiver settings ---

void zorvaniDsp::setCentreFrequency(int rx, double hz)
{
    if (!validRx(rx))
        return;
    m_centre[rx] = hz;
    m_panoramas->setCentreFrequency(rx, hz);
    m_wideband->setCentreFrequency(rx, hz);
}

double zorvaniDsp::centreFrequency(int rx) const { return validRx(rx) ? m_centre[rx] : 0.0; }

void zorvaniDsp::setChannelOffset(int rx, int ch, double hz)
{
    if (validChannel(rx, ch))
        m_receivers[rx]->setIfOffset(ch, hz);
}

void zorvaniDsp::setFilter(int rx, double lowHz, double highHz)
{
    for (int ch = 0; ch < 2; ++ch)
        forReceiver(quint32(rx), &Rx::setFilter, ch, lowHz, highHz);
}

void zorvaniDsp::setMode(int rx, int mode)
{
    if (!validRx(rx))
        return;
    const bool changed = m_receivers[rx]->setMode(mode);
    for (int r = 0; r < 2; ++r)
        applyTapsForMode(r);
    // Re-applying the preset refades only the receiver whose mode changed.
    if (changed)
        applyAgc(rx);
}

void zorvaniDsp::applyTapsForMode(int rx)
{
    if (const uint32_t taps = m_taps.tapsFor(m_receivers[rx]->pendingMode()); taps > 0)
        m_receivers[rx]->setTaps(taps);
}

void zorvaniDsp::setRf(int rx, int dB) { forReceiver(quint32(rx), &Rx::setRfGain, dB); }

void zorvaniDsp::setAgc(int rx, int index)
{
    if (m_agc.select(rx, index))
        applyAgc(rx);
}

int zorvaniDsp::agcIndex(int rx) const { return m_agc.hostIndex(rx); }
void zorvaniDsp::applyAgc(int rx) { m_receivers[rx]->queueAgc(m_agc.settings(rx)); }
void zorvaniDsp::setAgcAttack(int preset, double ms) { setAgcPresetField(preset, &AgcParam::attack, ms); }
void zorvaniDsp::setAgcDecay(int preset, double ms) { setAgcPresetField(preset, &AgcParam::decay, ms); }
void zorvaniDsp::setAgcHang(int preset, uint32_t ms) { setAgcPresetField(preset, &AgcParam::hang, ms); }
zorvaniDsp::AgcParam zorvaniDsp::agcPreset(int preset) const { return m_agc.preset(preset); }

// Receivers following the preset get its new values.
template <typename T>
void zorvaniDsp::setAgcPresetField(int preset, T AgcParam::*field, T value)
{
    if (!m_agc.set(preset, field, value))
        return;
    for (int r = 0; r < 2; ++r)
        if (m_agc.follows(r, preset))
            applyAgc(r);
}

void zorvaniDsp::setFirTaps(int firClass, uint32_t taps)
{
    if (!m_taps.set(firClass, taps))
        return;
    for (int r = 0; r < 2; ++r)
        applyTapsForMode(r);
}

uint32_t zorvaniDsp::firTaps(int firClass) const { return m_taps.taps(firClass); }
void zorvaniDsp::setDigOffsets(double diglHz, double diguHz) { forReceivers(&Rx::setDigOffsets, diglHz, diguHz); }
void zorvaniDsp::setCwPitch(int rx, double hz) { forReceiver(quint32(rx), &Rx::setCwPitch, hz); }

// --- mixer ---

void zorvaniDsp::setVolume(int rx, int ch, double dB)
{
    if (m_gains.setVolume(rx, ch, dB))
        applyMixerGains();
}

void zorvaniDsp::setBalance(int rx, int ch, double balance)
{
    if (m_gains.setBalance(rx, ch, balance))
        applyMixerGains();
}

void zorvaniDsp::setRxEnable(int rx, bool on) { setChannelEnable(rx, 0, on); }

void zorvaniDsp::setChannelEnable(int rx, int ch, bool on)
{
    if (!m_gains.setEnabled(rx, ch, on))
        return;
    m_mixer->setEnable(rx, ch, on);
    m_receivers[rx]->setChannelEnabled(ch, on);
    applyMixerGains();
}

void zorvaniDsp::applyMixerGains()
{
    const MixerGainTable table = m_gains.table();
    for (int rx = 0; rx < 2; ++rx)
        for (int ch = 0; ch < 2; ++ch)
            m_mixer->setGain(rx, ch, table[size_t(rx)][size_t(ch)].gain, table[size_t(rx)][size_t(ch)].balance);
}

void zorvaniDsp::setMainVolume(double dB) { m_mixer->setMasterGain(gainFromDb(dB)); }

void zorvaniDsp::setMute(int rx, int ch, bool on)
{
    if (ch < 0)
        m_mixer->setMasterMute(on);
    else if (validChannel(rx, ch))
        m_mixer->setMute(rx, ch, on);
}

void zorvaniDsp::setEnableBin(quint32 rx, quint32 ch, bool on)
{
    if (validChannel(int(rx), int(ch)))
        m_mixer->setBinaural(int(rx), int(ch), on);
}

// --- panorama workers ---

void zorvaniDsp::setHideSpectrumSlopes(bool hide) { m_panoramas->setHideSlopes(hide); }
void zorvaniDsp::setFftSize(int n) { m_panoramas->setFftSize(n); }
void zorvaniDsp::setAveragingMode(int mode) { m_panoramas->setAveragingMode(mode); }
void zorvaniDsp::setAveraging(int count) { m_panoramas->setAveraging(count); }
// The host speaks of frames per second; the workers of the time between frames.
void zorvaniDsp::setSpectrumRate(int fps) { m_panoramas->setFrameRate(fps); }
int zorvaniDsp::spectrumRate() const { return m_panoramas->frameRate(); }
void zorvaniDsp::setWaterfallFilter(bool on) { m_panoramas->setWaterfallFilter(on); }

bool zorvaniDsp::readSpectrum(int rx, std::vector<float>& panorama, std::vector<float>& waterfall)
{
    return m_panoramas->readSpectrum(rx, panorama, waterfall);
}

void zorvaniDsp::readBandScope(std::vector<float>& panorama, std::vector<float>& waterfall)
{
    m_panoramas->readBandScope(panorama, waterfall);
}

const PanSpectrumZorvaniDDC* zorvaniDsp::panorama(int rx) const { return m_panoramas->receiver(rx); }
const PanSpectrumZorvaniDDC* zorvaniDsp::bandScope() const { return &m_panoramas->bandScope(); }

// --- taps ---

void zorvaniDsp::setIqTap(IqTapAbstract* tap) { m_iqTap.store(tap, std::memory_order_release); }

void zorvaniDsp::setSignalAnalyzer(SignalAnalyzerAbstract* analyzer)
{
    if (analyzer)
        analyzer->setSampleRate(zorvani::kWorkingRate);
    forReceivers(&Rx::setSignalAnalyzer, analyzer);
}

CircularBuffer<Ostrovix::complex<double>>* zorvaniDsp::rawIqRing(int rx)
{
    return validRx(rx) ? m_rawRings[rx].get() : nullptr;
}

// --- wide-band stages ---

int zorvaniDsp::bandOf(int rx) const
{
    if (!m_functions)
        return -1;
    const double f = m_centre[rx] + m_receivers[rx]->ifOffset(0);
    const QList<DeviceBand> bands = m_functions->bands();
    for (int b = 0; b < bands.size(); ++b)
        if (double(bands[b].low) <= f && f <= double(bands[b].high))
            return b;
    return -1;
}

// The notch settings of a band reach the receivers tuned in that band.
void zorvaniDsp::onRnfEnabled(size_t band, bool state)
{
    for (int r = 0; r < 2; ++r)
        if (bandOf(r) == int(band))
            m_wideband->setNotchesEnabled(r, state);
}

void zorvaniDsp::onRnfParam(size_t band, size_t id, bool enable, double freq, double width)
{
    for (int r = 0; r < 2; ++r)
        if (bandOf(r) == int(band))
            m_wideband->setNotch(r, id, enable, freq, width);
}

void zorvaniDsp::setNb1(quint32 rx, bool on) { m_wideband->setNb1(rx, on); }
void zorvaniDsp::setNb2(quint32 rx, bool on) { m_wideband->setNb2(rx, on); }
void zorvaniDsp::setNb1Threshold(double threshold) { m_wideband->setNb1Threshold(threshold); }
void zorvaniDsp::setNb2Threshold(double threshold) { m_wideband->setNb2Threshold(threshold); }
double zorvaniDsp::nb1Threshold() const { return m_wideband->nb1Threshold(); }
double zorvaniDsp::nb2Threshold() const { return m_wideband->nb2Threshold(); }

// --- mode stages ---

void zorvaniDsp::setAnf(quint32 rx, bool on) { forReceiver(rx, &Rx::setLmsEnabled, Lms::AutoNotch, on); }
void zorvaniDsp::setNr(quint32 rx, bool on) { forReceiver(rx, &Rx::setLmsEnabled, Lms::NoiseReduction, on); }
void zorvaniDsp::setAnfTaps(int taps) { forReceivers(&Rx::setLmsTaps, Lms::AutoNotch, taps); }
void zorvaniDsp::setAnfDelay(int delay) { forReceivers(&Rx::setLmsDelay, Lms::AutoNotch, delay); }
void zorvaniDsp::setAnfRate(double mu) { forReceivers(&Rx::setLmsRate, Lms::AutoNotch, mu); }
void zorvaniDsp::setAnfLeak(double lambda) { forReceivers(&Rx::setLmsLeak, Lms::AutoNotch, lambda); }
void zorvaniDsp::setNrTaps(int taps) { forReceivers(&Rx::setLmsTaps, Lms::NoiseReduction, taps); }
void zorvaniDsp::setNrDelay(int delay) { forReceivers(&Rx::setLmsDelay, Lms::NoiseReduction, delay); }
void zorvaniDsp::setNrRate(double mu) { forReceivers(&Rx::setLmsRate, Lms::NoiseReduction, mu); }
void zorvaniDsp::setNrLeak(double lambda) { forReceivers(&Rx::setLmsLeak, Lms::NoiseReduction, lambda); }
void zorvaniDsp::setApf(quint32 rx, bool on) { forReceiver(rx, &Rx::setCwApfEnabled, on); }
void zorvaniDsp::setSsbApf(quint32 rx, bool on) { forReceiver(rx, &Rx::setSsbApfEnabled, on); }
void zorvaniDsp::setApfGain(double dB) { forReceivers(&Rx::setCwApfGain, dB); }
void zorvaniDsp::setApfQuality(double q) { forReceivers(&Rx::setCwApfQuality, q); }
void zorvaniDsp::setSsbApfGain(double dB) { forReceivers(&Rx::setSsbApfGain, dB); }
void zorvaniDsp::setSsbApfQuality(double q) { forReceivers(&Rx::setSsbApfQuality, q); }
void zorvaniDsp::setSsbApfFreq(double hz) { forReceivers(&Rx::setSsbApfFrequency, hz); }
void zorvaniDsp::setDse(quint32 rx, bool on) { forReceiver(rx, &Rx::setBinauralEnabled, on); }
void zorvaniDsp::setDseTaps(int taps) { forReceivers(&Rx::setBinauralTaps, taps); }
void zorvaniDsp::setDseSwap(bool on) { forReceivers(&Rx::setBinauralSwap, on); }
void zorvaniDsp::setWfmUsa(bool on) { forReceivers(&Rx::setWfmUsa, on); }
void zorvaniDsp::onWfmUsa(bool on) { setWfmUsa(on); }
void zorvaniDsp::setWfmStereo(quint32 rx, bool on) { forReceiver(rx, &Rx::setWfmStereo, on); }
// Squelch is per receiver: the channel argument of the host's call is not used.
void zorvaniDsp::setSqlEnable(quint32 rx, quint32, bool on) { forReceiver(rx, &Rx::setSquelchEnabled, on); }
void zorvaniDsp::setSqlValue(quint32 rx, quint32, int dB) { forReceiver(rx, &Rx::setSquelchLevel, double(dB)); }
void zorvaniDsp::setEnableCTCSS(quint32 rx, bool on) { forReceiver(rx, &Rx::setCtcssEnabled, on); }
void zorvaniDsp::setToneCTCSS(quint32 rx, int index) { forReceiver(rx, &Rx::setCtcssTone, index); }
void zorvaniDsp::setEqualizerEnable(quint32 rx, bool on) { forReceiver(rx, &Rx::setEqualizerEnabled, on); }
void zorvaniDsp::setEqualizerGains(quint32 rx, const QList<int>& dB) { forReceiver(rx, &Rx::setEqualizerGains, dB); }

void zorvaniDsp::setRit(quint32 rx, quint32 ch, double hz)
{
    if (validChannel(int(rx), int(ch)))
        m_receivers[rx]->setRit(int(ch), hz);
}

// --- receiver signal forwarders ---

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
