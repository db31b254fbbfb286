// The host's setters: each forwards one setting to the engine, the panorama
// workers, the controller or the driver.
#include "ZorvaniInterface.h"

#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "recording/IQRecording.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCoreApplication>
#include <QSettings>

#include <algorithm>

namespace {
bool validRx(uint rx)
{
    return rx < 2;
}

SpectrumView view(std::vector<float>& panorama, std::vector<float>& waterfall)
{
    return {quint32(panorama.size()), waterfall.data(), panorama.data()};
}
} // namespace

void ZorvaniInterface::setIqTap(IqTapAbstract* tap)
{
    m_dsp->setIqTap(tap);
}

void ZorvaniInterface::setSignalAnalyzer(SignalAnalyzerAbstract* analyzer)
{
    m_dsp->setSignalAnalyzer(analyzer);
}

void ZorvaniInterface::setWfmStereo(quint32 rx, bool on)
{
    m_dsp->setWfmStereo(rx, on);
}

void ZorvaniInterface::setWriteIQ(bool on, int rx)
{
    if (rx < 0 || rx > 1)
        return;
    // A stop request always stops, also after the stream has ended: otherwise
    // the recording would run on, unseen, until the plug-in is torn down.
    if (!on && size_t(rx) < m_iqFiles.size())
        ox::file::stopRecording(m_iqFiles[size_t(rx)]);
    if (!m_control || !m_control->isStreaming()) {
        emit sWriteIQ(false, rx);
        return;
    }
    if (!on)
        return;
    IqFileSlot& slot = m_iqFiles[size_t(rx)];
    IQRecorderConfigAbstract* config = m_bridge ? m_bridge->iqRecorderConfig() : nullptr;
    if (!config) {
        emit sWriteIQ(false, rx);
        return;
    }
    ox::file::startRecording(slot, *config, QCoreApplication::applicationName(),
                             m_manager ? m_manager->mainWindow() : nullptr, [this, rx] { emit sWriteIQ(false, rx); });
}

void ZorvaniInterface::setCtcssEnable(int rx, bool on)
{
    if (rx == 0 || rx == 1)
        m_dsp->setEnableCTCSS(quint32(rx), on);
}

void ZorvaniInterface::setCtcssTone(int rx, int tone)
{
    if (rx == 0 || rx == 1)
        m_dsp->setToneCTCSS(quint32(rx), tone);
}

void ZorvaniInterface::setBandScope(bool on, quint64 centreHz, uint decimation)
{
    m_control->setBandScope(on, centreHz, decimation);
}

void ZorvaniInterface::setRxEnable(uint rx, bool on)
{
    if (!validRx(rx))
        return;
    m_dsp->setRxEnable(int(rx), on);
    if (rx == 1)
        m_control->setReceiverCount(on ? 2 : 1);
}

void ZorvaniInterface::setChannelEnable(uint rx, uint ch, bool on)
{
    m_dsp->setChannelEnable(int(rx), int(ch), on);
}

void ZorvaniInterface::forwardToManager(quint32 value, int kind, bool state)
{
    if (m_manager && kind == 2)
        m_manager->forwardedFromDevice(value, state);
}

SpectrumView ZorvaniInterface::rxSpectrum(int rx)
{
    if (!m_dsp || !m_dsp->readSpectrum(rx, m_panorama, m_waterfall))
        return {};
    return view(m_panorama, m_waterfall);
}

SpectrumView ZorvaniInterface::txSpectrum()
{
    return {};
}

SpectrumView ZorvaniInterface::bandScopeSpectrum()
{
    if (!m_dsp)
        return {};
    m_dsp->readBandScope(m_bandScopePanorama, m_bandScopeWaterfall);
    return view(m_bandScopePanorama, m_bandScopeWaterfall);
}

bool ZorvaniInterface::setFreq(uint rx, uint, double hz)
{
    if (!validRx(rx) || !m_dsp)
        return false;
    // The band scope swaps re and im in every odd 62.5 MHz zone.
    if (rx == 0)
        m_dsp->setNyquistZone(int((quint64(std::max(hz, 0.0)) / 62500000u) % 2u));
    m_control->tune(int(rx), hz);
    m_iqFiles[rx]->setFrequency(hz);
    m_dsp->setCentreFrequency(int(rx), hz);
    return true;
}

bool ZorvaniInterface::setPreamp(uint index)
{
    return m_control->setPreamp(int(index));
}

void ZorvaniInterface::setMute(uint rx, int ch, bool on)
{
    m_dsp->setMute(int(rx), ch, on);
}

void ZorvaniInterface::setSqlEnable(uint rx, uint ch, bool on)
{
    if (validRx(rx))
        m_dsp->setSqlEnable(rx, ch, on);
}

void ZorvaniInterface::setSqlLevel(uint rx, uint ch, int level)
{
    if (validRx(rx))
        m_dsp->setSqlValue(rx, ch, level);
}

void ZorvaniInterface::announceSettings()
{
    m_control->announceSettings();
    m_options->announceSampleRate();
}

void ZorvaniInterface::setMainVolume(int dB)
{
    m_dsp->setMainVolume(dB);
}

void ZorvaniInterface::setVolume(uint rx, uint ch, int dB)
{
    m_dsp->setVolume(int(rx), int(ch), dB);
}

void ZorvaniInterface::setBalance(uint rx, uint ch, int value)
{
    m_dsp->setBalance(int(rx), int(ch), value);
}

void ZorvaniInterface::setRit(uint rx, uint ch, double hz)
{
    if (validRx(rx))
        m_dsp->setRit(rx, ch, hz);
}

void ZorvaniInterface::setFftSize(uint n)
{
    // Sizes beyond the workers' 16384 points are refused there; keep the cast in range.
    m_dsp->setFftSize(int(std::min<uint>(n, 1u << 30)));
}

void ZorvaniInterface::setAveragingMode(int mode)
{
    m_dsp->setAveragingMode(mode);
}

void ZorvaniInterface::setAveraging(int value)
{
    m_dsp->setAveraging(value);
}

void ZorvaniInterface::setSpectrumRate(int fps)
{
    m_dsp->setSpectrumRate(fps);
}

void ZorvaniInterface::setChannelOffset(int rx, int ch, int, double hz)
{
    if (rx < 0 || rx > 1 || ch < 0 || ch > 1)
        return;
    m_dsp->setChannelOffset(rx, ch, hz);
    if (rx == 0 && ch == 0)
        m_control->setBandOffset(hz);
}

void ZorvaniInterface::setFilter(int rx, int, int, double low, double high)
{
    m_dsp->setFilter(rx, low, high);
}

void ZorvaniInterface::setMode(int rx, int, int mode)
{
    m_dsp->setMode(rx, mode);
}

void ZorvaniInterface::setRf(int rx, int, int dB)
{
    m_dsp->setRf(rx, std::clamp(dB, -60, 120));
}

void ZorvaniInterface::setAgc(uint rx, uint, int index)
{
    if (validRx(rx))
        m_dsp->setAgc(int(rx), index);
}

void ZorvaniInterface::setBin(uint rx, bool on)
{
    // The host switches the binaural output of a whole receiver.
    for (quint32 ch = 0; ch < 2; ++ch)
        m_dsp->setEnableBin(rx, ch, on);
}

void ZorvaniInterface::setNb1(uint rx, bool on)
{
    if (validRx(rx))
        m_dsp->setNb1(rx, on);
}

void ZorvaniInterface::setNb2(uint rx, bool on)
{
    if (validRx(rx))
        m_dsp->setNb2(rx, on);
}

void ZorvaniInterface::setNr(uint rx, bool on)
{
    if (validRx(rx))
        m_dsp->setNr(rx, on);
}

void ZorvaniInterface::setAnf(uint rx, bool on)
{
    if (validRx(rx))
        m_dsp->setAnf(rx, on);
}

void ZorvaniInterface::setRxEq(uint rx, bool on)
{
    if (validRx(rx))
        m_dsp->setEqualizerEnable(rx, on);
}

void ZorvaniInterface::setRxEqLevels(uint rx, QList<int> levels)
{
    if (validRx(rx))
        m_dsp->setEqualizerGains(rx, levels);
}

void ZorvaniInterface::setSoundCardOutput(bool on)
{
    m_dsp->setSoundCardOutput(on);
}

StereoRing* ZorvaniInterface::soundCardSource()
{
    return m_dsp ? m_dsp->soundCardSource() : nullptr;
}

StereoRing* ZorvaniInterface::rawIqRing(uint rx)
{
    return (m_dsp && validRx(rx)) ? m_dsp->rawIqRing(int(rx)) : nullptr;
}

void ZorvaniInterface::saveSettings(QSettings* store)
{
    if (m_options && store)
        m_options->saveSettings(*store, OptionsSettings::Set::Full);
}

void ZorvaniInterface::loadSettings(QSettings* store)
{
    if (!m_options || !store)
        return;
    m_options->loadSettings(*store, OptionsSettings::Set::Full);
    announceSettings();
    applyCwPitch(m_options->cwPitch());
}

void ZorvaniInterface::saveDspSettings(QSettings* store)
{
    if (m_options && store)
        m_options->saveSettings(*store, OptionsSettings::Set::Reduced);
}

void ZorvaniInterface::loadDspSettings(QSettings* store)
{
    if (m_options && store)
        m_options->loadSettings(*store, OptionsSettings::Set::Reduced);
}
