#include "zorvaniDsp/zorvaniDsp.h"

#include "BridgeAbstract.h"
#include "DeviceFunctionsAbstract.h"
#include "IqTapAbstract.h"
#include "common/CheckedConnect.h"
#include "common/ZorvaniSR.h"
#include "spectrum/PanSpectrumZorvaniDDC.h"
#include "zorvaniDsp/AudioPull.h"
#include "zorvaniDsp/AudioServerNotifyer.h"
#include "zorvaniDsp/Filters/IQNotchFilter.h"
#include "zorvaniDsp/Filters/ZorvaniNB.h"
#include "zorvaniDsp/MixerZorvani.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/ResamplerSCZorvani.h"

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

    for (quint32 r = 0; r < 2; ++r) {
        m_rawRings[r] = std::make_unique<CircularBuffer<Ostrovix::complex<double>>>(kRawRingSize);
        m_receivers[r] = std::make_unique<ReceiverZorvani>(r);
        ReceiverZorvani* receiver = m_receivers[r].get();
        CHECKED_CONNECT(receiver, SIGNAL(dBmMeter(quint32, double)), this, SLOT(setDbm(quint32, double)));
        CHECKED_CONNECT(receiver, SIGNAL(adcMeter(quint32, double, double)), this,
                        SLOT(setAdc(quint32, double, double)));
        CHECKED_CONNECT(receiver, SIGNAL(wfmStereo(bool)), this, SLOT(onWfmStereo(bool)));

        m_panoramas[r] = std::make_unique<PanSpectrumZorvaniDDC>(pool, r);
        m_panoramas[r]->setFftSize(PanSpectrumZorvaniDDC::kDefaultFftSize);
        m_panoramas[r]->setCenterFrequency(m_centre[r]);
        m_panoramas[r]->setOn(true);
        CHECKED_CONNECT(m_panoramas[r].get(), SIGNAL(spectrum(uint)), this, SIGNAL(spectrum(quint32)));

        m_notches[r].filter = std::make_unique<IQNotchFilter>();
        m_notches[r].filter->setCenterFrequency(m_centre[r]);
        m_notches[r].filter->setSampleRate(m_sampleRate);
        m_blankers[r] = std::make_unique<ZorvaniNB>();
    }

    m_bandScope = std::make_unique<PanSpectrumZorvaniDDC>(pool, 0);
    m_bandScope->setFftSize(PanSpectrumZorvaniDDC::kDefaultFftSize);
    m_bandScope->setAverageCount(15);
    CHECKED_CONNECT(m_bandScope.get(), SIGNAL(spectrum(uint)), this, SIGNAL(bandscope()));

    std::copy(std::begin(kDefaultPresets), std::end(kDefaultPresets), m_agcPresets.begin());
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
    m_blankers[rx]->process(samples, kBlock);
    {
        std::lock_guard<std::mutex> lock(m_notches[rx].mutex);
        m_notches[rx].filter->process(samples, kBlock);
    }
    m_panoramas[rx]->writeSamples(samples, kBlock);
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
    if (m_audioServerConverter->isRunning() && m_audioServerConverter->inputRing().free() >= uint32_t(kBlock))
        m_audioServerConverter->inputRing().write(audio, kBlock);
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
    for (auto& receiver : m_receivers)
        receiver->setInputRate(hz);
    for (NotchBank& bank : m_notches) {
        std::lock_guard<std::mutex> lock(bank.mutex);
        bank.filter->setSampleRate(hz);
    }
}

double zorvaniDsp::sampleRate() const
{
    return m_sampleRate;
}

// --- band scope ---

void zorvaniDsp::writeBandScope(const Ostrovix::complex<double>* samples, int count)
{
    m_bandScope->writeSamples(samples, count);
}

void zorvaniDsp::resetBandScopeAccumulation()
{
    m_bandScope->resetAccumulation();
}

void zorvaniDsp::setBandScopeActive(bool on)
{
    m_bandScope->setOn(on && isRunning());
}

int zorvaniDsp::nyquistZone() const
{
    return m_nyquistZone.load(std::memory_order_acquire);
}

void zorvaniDsp::setNyquistZone(int zone)
{
    m_nyquistZone.store(zone & 1, std::memory_order_release);
}

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

void zorvaniDsp::openVac(int rx, int sampleRate)
{
    if (validRx(rx))
        m_receivers[rx]->openVac(sampleRate);
}

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

CircularBuffer<Ostrovix::complex<double>>* zorvaniDsp::soundCardSource()
{
    return &m_soundCard->outputRing();
}

// --- receiver settings ---

void zorvaniDsp::setCentreFrequency(int rx, double hz)
{
    if (!validRx(rx))
        return;
    m_centre[rx] = hz;
    m_panoramas[rx]->setCenterFrequency(hz);
    std::lock_guard<std::mutex> lock(m_notches[rx].mutex);
    m_notches[rx].filter->setCenterFrequency(hz);
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
    const bool changed = m_receivers[rx]->setMode(mode);
    for (int r = 0; r < 2; ++r)
        applyTapsForMode(r);
    // Re-applying the preset refades only the receiver whose mode changed.
    if (changed)
        applyAgc(rx);
}

void zorvaniDsp::applyTapsForMode(int rx)
{
    const int cls = firClassOf(m_receivers[rx]->pendingMode());
    if (cls >= 0)
        m_receivers[rx]->setTaps(m_firTaps[size_t(cls)]);
}

void zorvaniDsp::setRf(int rx, int dB)
{
    if (validRx(rx))
        m_receivers[rx]->setRfGain(dB);
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
    const AgcParam& p = m_agcPresets[size_t(enabled ? m_agcIndex[rx] : 0)];
    m_receivers[rx]->queueAgc(AgcSettings{p.attack, p.decay, p.hang, enabled});
}

void zorvaniDsp::setAgcAttack(int preset, double ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[size_t(preset)].attack = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

void zorvaniDsp::setAgcDecay(int preset, double ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[size_t(preset)].decay = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

void zorvaniDsp::setAgcHang(int preset, uint32_t ms)
{
    if (preset < 0 || preset >= kAgcPresets)
        return;
    m_agcPresets[size_t(preset)].hang = ms;
    for (int r = 0; r < 2; ++r)
        if (m_agcIndex[r] == preset)
            applyAgc(r);
}

zorvaniDsp::AgcParam zorvaniDsp::agcPreset(int preset) const
{
    return (preset >= 0 && preset < kAgcPresets) ? m_agcPresets[size_t(preset)] : AgcParam{};
}

void zorvaniDsp::setFirTaps(int firClass, uint32_t taps)
{
    if (firClass < 0 || firClass >= 4 || taps < 1 || taps > FastFirZorvani::kMaxTaps)
        return;
    m_firTaps[size_t(firClass)] = taps;
    for (int r = 0; r < 2; ++r)
        applyTapsForMode(r);
}

uint32_t zorvaniDsp::firTaps(int firClass) const
{
    return (firClass >= 0 && firClass < 4) ? m_firTaps[size_t(firClass)] : 0;
}

void zorvaniDsp::setDigOffsets(double diglHz, double diguHz)
{
    forReceivers([&](ReceiverZorvani& r) { r.setDigOffsets(diglHz, diguHz); });
}

void zorvaniDsp::setCwPitch(int rx, double hz)
{
    if (validRx(rx))
        m_receivers[rx]->setCwPitch(hz);
}

// --- mixer ---

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
    m_mixer->setEnable(rx, ch, on);
    updateMixerGains();
}

MixerGainTable zorvaniDsp::updateMixerGains()
{
    const MixerGainTable table = mixerGains(m_enabled, m_volume, m_balance);
    for (int rx = 0; rx < 2; ++rx)
        for (int ch = 0; ch < 2; ++ch)
            m_mixer->setGain(rx, ch, table[size_t(rx)][size_t(ch)].gain, table[size_t(rx)][size_t(ch)].balance);
    return table;
}

void zorvaniDsp::setMainVolume(double dB)
{
    m_mixer->setMasterGain(gainFromDb(dB));
}

void zorvaniDsp::setMute(int rx, int ch, bool on)
{
    if (ch < 0) {
        m_mixer->setMasterMute(on);
    } else if (validChannel(rx, ch)) {
        m_mixer->setMute(rx, ch, on);
    }
}

// --- panorama workers ---

void zorvaniDsp::setHideSpectrumSlopes(bool hide)
{
    for (auto& panorama : m_panoramas)
        panorama->setHideSlopes(hide);
}

void zorvaniDsp::setFftSize(int n)
{
    if (n < 2 || (n & (n - 1)) != 0)
        return;
    for (auto& panorama : m_panoramas)
        panorama->setFftSize(n);
}

void zorvaniDsp::setAveragingMode(int mode)
{
    for (auto& panorama : m_panoramas)
        panorama->setAveragerType(std::clamp(mode, 0, 2));
}

void zorvaniDsp::setAveraging(int count)
{
    for (auto& panorama : m_panoramas)
        panorama->setAverageCount(count);
}

void zorvaniDsp::setSpectrumRate(int fps)
{
    // The host speaks of frames per second; the workers of the time between frames.
    m_spectrumRate = std::clamp(fps, 10, 40);
    for (auto& panorama : m_panoramas)
        panorama->setFrameRate(m_spectrumRate);
    m_bandScope->setFrameRate(m_spectrumRate);
}

int zorvaniDsp::spectrumRate() const
{
    return m_spectrumRate;
}

void zorvaniDsp::setWaterfallFilter(bool on)
{
    for (auto& panorama : m_panoramas)
        panorama->setWaterfallFilter(on);
    m_bandScope->setWaterfallFilter(on);
}

PanSpectrumZorvaniDDC* zorvaniDsp::panorama(int rx) const
{
    return validRx(rx) ? m_panoramas[rx].get() : nullptr;
}

PanSpectrumZorvaniDDC* zorvaniDsp::bandScope() const
{
    return m_bandScope.get();
}

// --- taps ---

void zorvaniDsp::setIqTap(IqTapAbstract* tap)
{
    m_iqTap.store(tap, std::memory_order_release);
}

void zorvaniDsp::setSignalAnalyzer(SignalAnalyzerAbstract* analyzer)
{
    if (analyzer)
        analyzer->setSampleRate(zorvani::kWorkingRate);
    forReceivers([analyzer](ReceiverZorvani& r) { r.setSignalAnalyzer(analyzer); });
}

CircularBuffer<Ostrovix::complex<double>>* zorvaniDsp::rawIqRing(int rx)
{
    return validRx(rx) ? m_rawRings[rx].get() : nullptr;
}

// --- notches and blankers ---

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

void zorvaniDsp::onRnfEnabled(size_t band, bool state)
{
    for (int r = 0; r < 2; ++r) {
        if (bandOf(r) != int(band))
            continue;
        std::lock_guard<std::mutex> lock(m_notches[r].mutex);
        m_notches[r].filter->setEnabled(state);
    }
}

void zorvaniDsp::onRnfParam(size_t band, size_t id, bool enable, double freq, double width)
{
    if (id >= size_t(IQNotchFilter::kNotchCount))
        return;
    for (int r = 0; r < 2; ++r) {
        if (bandOf(r) != int(band))
            continue;
        std::lock_guard<std::mutex> lock(m_notches[r].mutex);
        IQNotchFilter& bank = *m_notches[r].filter;
        bank.setNotchEnabled(int(id), enable);
        bank.setNotchFrequency(int(id), freq);
        bank.setNotchWidth(int(id), width);
    }
}

void zorvaniDsp::setNb1(quint32 rx, bool on)
{
    if (rx < 2)
        m_blankers[rx]->setNb1(on);
}

void zorvaniDsp::setNb2(quint32 rx, bool on)
{
    if (rx < 2)
        m_blankers[rx]->setNb2(on);
}

void zorvaniDsp::setNb1Threshold(double threshold)
{
    for (auto& blanker : m_blankers)
        blanker->setNb1Threshold(threshold);
}

void zorvaniDsp::setNb2Threshold(double threshold)
{
    for (auto& blanker : m_blankers)
        blanker->setNb2Threshold(threshold);
}

double zorvaniDsp::nb1Threshold() const
{
    return m_blankers[0]->nb1Threshold();
}

double zorvaniDsp::nb2Threshold() const
{
    return m_blankers[0]->nb2Threshold();
}

// --- mode stages ---

void zorvaniDsp::setAnf(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setLmsEnabled(ReceiverZorvani::Lms::AutoNotch, on);
}

void zorvaniDsp::setNr(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setLmsEnabled(ReceiverZorvani::Lms::NoiseReduction, on);
}

void zorvaniDsp::setAnfTaps(int taps)
{
    forReceivers([taps](ReceiverZorvani& r) { r.setLmsTaps(ReceiverZorvani::Lms::AutoNotch, taps); });
}

void zorvaniDsp::setAnfDelay(int delay)
{
    forReceivers([delay](ReceiverZorvani& r) { r.setLmsDelay(ReceiverZorvani::Lms::AutoNotch, delay); });
}

void zorvaniDsp::setAnfRate(double mu)
{
    forReceivers([mu](ReceiverZorvani& r) { r.setLmsRate(ReceiverZorvani::Lms::AutoNotch, mu); });
}

void zorvaniDsp::setAnfLeak(double lambda)
{
    forReceivers([lambda](ReceiverZorvani& r) { r.setLmsLeak(ReceiverZorvani::Lms::AutoNotch, lambda); });
}

void zorvaniDsp::setNrTaps(int taps)
{
    forReceivers([taps](ReceiverZorvani& r) { r.setLmsTaps(ReceiverZorvani::Lms::NoiseReduction, taps); });
}

void zorvaniDsp::setNrDelay(int delay)
{
    forReceivers([delay](ReceiverZorvani& r) { r.setLmsDelay(ReceiverZorvani::Lms::NoiseReduction, delay); });
}

void zorvaniDsp::setNrRate(double mu)
{
    forReceivers([mu](ReceiverZorvani& r) { r.setLmsRate(ReceiverZorvani::Lms::NoiseReduction, mu); });
}

void zorvaniDsp::setNrLeak(double lambda)
{
    forReceivers([lambda](ReceiverZorvani& r) { r.setLmsLeak(ReceiverZorvani::Lms::NoiseReduction, lambda); });
}

void zorvaniDsp::setApf(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setCwApfEnabled(on);
}

void zorvaniDsp::setSsbApf(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setSsbApfEnabled(on);
}

void zorvaniDsp::setApfGain(double dB)
{
    forReceivers([dB](ReceiverZorvani& r) { r.setCwApfGain(dB); });
}

void zorvaniDsp::setApfQuality(double q)
{
    forReceivers([q](ReceiverZorvani& r) { r.setCwApfQuality(q); });
}

void zorvaniDsp::setSsbApfGain(double dB)
{
    forReceivers([dB](ReceiverZorvani& r) { r.setSsbApfGain(dB); });
}

void zorvaniDsp::setSsbApfQuality(double q)
{
    forReceivers([q](ReceiverZorvani& r) { r.setSsbApfQuality(q); });
}

void zorvaniDsp::setSsbApfFreq(double hz)
{
    forReceivers([hz](ReceiverZorvani& r) { r.setSsbApfFrequency(hz); });
}

void zorvaniDsp::setDse(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setBinauralEnabled(on);
}

void zorvaniDsp::setDseTaps(int taps)
{
    forReceivers([taps](ReceiverZorvani& r) { r.setBinauralTaps(taps); });
}

void zorvaniDsp::setDseSwap(bool on)
{
    forReceivers([on](ReceiverZorvani& r) { r.setBinauralSwap(on); });
}

void zorvaniDsp::setWfmUsa(bool on)
{
    forReceivers([on](ReceiverZorvani& r) { r.setWfmUsa(on); });
}

void zorvaniDsp::onWfmUsa(bool on)
{
    setWfmUsa(on);
}

void zorvaniDsp::setWfmStereo(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setWfmStereo(on);
}

void zorvaniDsp::setRit(quint32 rx, quint32 ch, double hz)
{
    if (validChannel(int(rx), int(ch)))
        m_receivers[rx]->setRit(int(ch), hz);
}

void zorvaniDsp::setSqlEnable(quint32 rx, quint32, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setSquelchEnabled(on);
}

void zorvaniDsp::setSqlValue(quint32 rx, quint32, int dB)
{
    if (rx < 2)
        m_receivers[rx]->setSquelchLevel(double(dB));
}

void zorvaniDsp::setEnableCTCSS(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setCtcssEnabled(on);
}

void zorvaniDsp::setToneCTCSS(quint32 rx, int index)
{
    if (rx < 2)
        m_receivers[rx]->setCtcssTone(index);
}

void zorvaniDsp::setEqualizerEnable(quint32 rx, bool on)
{
    if (rx < 2)
        m_receivers[rx]->setEqualizerEnabled(on);
}

void zorvaniDsp::setEqualizerGains(quint32 rx, const QList<int>& dB)
{
    if (rx < 2)
        m_receivers[rx]->setEqualizerGains(dB);
}

void zorvaniDsp::setEnableBin(quint32 rx, quint32 ch, bool on)
{
    if (validChannel(int(rx), int(ch)))
        m_mixer->setBinaural(int(rx), int(ch), on);
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
