#pragma once

#include "DeviceAbstract.h"
#include "recording/IQFile.h"

#include <QPointer>

#include <memory>
#include <vector>

class ZorvaniControl;
class ZorvaniDialog;
class ZorvaniFunctions;
class ZorvaniOptions;
class zorvaniDsp;

// The one object the host sees: it drives one ZorvaniDDC receiver.
class ZorvaniInterface : public DeviceAbstract {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Ostrovix.Velmora2.plugin" FILE "ZorvaniDDC.json")
    Q_INTERFACES(DeviceAbstract)

public:
    ZorvaniInterface();
    ~ZorvaniInterface() override;

    bool init(BridgeAbstract& bridge, QLayout* layout, bool flag, bool adminPage) override;
    void deinit() override;
    QString name() const override;
    void setManager(DeviceManagerAbstract* manager) override;
    DeviceLimits limits() const override;
    DeviceFunctionsAbstract* functions() const override;
    void setHostObject(void* object) override;

    bool open() override;
    void close() override;
    bool start() override;
    void stop() override;
    void retranslate() override;
    bool isOpen() const override;
    bool isStarted() const override;

    // The host's setters (ZorvaniControlSurface.cpp).
    void setIqTap(IqTapAbstract* tap) override;
    void setSignalAnalyzer(SignalAnalyzerAbstract* analyzer) override;
    void setWfmStereo(quint32 rx, bool on) override;
    void setWriteIQ(bool on, int rx) override;
    void setCtcssEnable(int rx, bool on) override;
    void setCtcssTone(int rx, int tone) override;
    void setBandScope(bool on, quint64 centreHz, uint decimation) override;
    void setRxEnable(uint rx, bool on) override;
    void setChannelEnable(uint rx, uint ch, bool on) override;
    void forwardToManager(quint32 value, int kind, bool state) override;
    SpectrumView rxSpectrum(int rx) override;
    SpectrumView txSpectrum() override;
    SpectrumView bandScopeSpectrum() override;
    bool setFreq(uint rx, uint, double hz) override;
    bool setPreamp(uint index) override;
    void setMute(uint rx, int ch, bool on) override;
    void setSqlEnable(uint rx, uint ch, bool on) override;
    void setSqlLevel(uint rx, uint ch, int level) override;
    void announceSettings() override;
    void setMainVolume(int dB) override;
    void setVolume(uint rx, uint ch, int dB) override;
    void setBalance(uint rx, uint ch, int value) override;
    void setRit(uint rx, uint ch, double hz) override;
    void setFftSize(uint n) override;
    void setAveragingMode(int mode) override;
    void setAveraging(int value) override;
    void setSpectrumRate(int fps) override;
    void setChannelOffset(int rx, int ch, int, double hz) override;
    void setFilter(int rx, int, int, double low, double high) override;
    void setMode(int rx, int, int mode) override;
    void setRf(int rx, int, int dB) override;
    void setAgc(uint rx, uint, int index) override;
    void setBin(uint rx, bool on) override;
    void setNb1(uint rx, bool on) override;
    void setNb2(uint rx, bool on) override;
    void setNr(uint rx, bool on) override;
    void setAnf(uint rx, bool on) override;
    void setRxEq(uint rx, bool on) override;
    void setRxEqLevels(uint rx, QList<int> levels) override;
    void setSoundCardOutput(bool on) override;
    StereoRing* soundCardSource() override;
    StereoRing* rawIqRing(uint rx) override;
    void saveSettings(QSettings* store) override;
    void loadSettings(QSettings* store) override;
    void saveDspSettings(QSettings* store) override;
    void loadDspSettings(QSettings* store) override;

    // Members the tests inspect.
    ZorvaniOptions* options() const { return m_options.get(); }
    ZorvaniControl* control() const { return m_control.get(); }
    ZorvaniDialog* dialog() const { return m_dialog.get(); }
    zorvaniDsp* dsp() const { return m_dsp.get(); }
    const IqFileSlots& iqFiles() const { return m_iqFiles; }

signals:
    // Beyond the host's signals, for a host that follows a firmware update:
    // its state (0 ... 14) with the text shown for it, and the percent written.
    void firmwareState(int state, const QString& text);
    void firmwareProgress(int percent);
    // IQ packets given up since init, because the receiver did not re-send
    // them in time (never silent, see IqStream).
    void iqPacketsGivenUp(quint64 total);

public slots:
    void search();
    void info();
    void initReceiverAddr();
    void setForceStop();
    void on4k(bool);
    void onHideSpectrumSlopes(bool hide);
    // The host's manager connects to this name (sic).
    bool isDeviceAvalible();

private:
    // The catalogue and the host learn the rate of sample-rate index 0..3.
    void publishSampleRate(int index);
    // Probes the options' typed address ("Static IP" mode) and updates the records.
    bool probeStaticAddress();
    void installAudioSources();
    // Both receivers' CW pitch, Hz.
    void applyCwPitch(int hz);
    void detachAudioSources();

    std::shared_ptr<ZorvaniFunctions> m_functions;
    std::shared_ptr<ZorvaniOptions> m_options;
    std::unique_ptr<ZorvaniControl> m_control;
    std::unique_ptr<ZorvaniDialog> m_dialog;
    std::shared_ptr<zorvaniDsp> m_dsp;
    IqFileSlots m_iqFiles;
    DeviceManagerAbstract* m_manager = nullptr;
    DeviceLimits m_limits;
    std::vector<float> m_panorama;
    std::vector<float> m_waterfall;
    std::vector<float> m_bandScopePanorama;
    std::vector<float> m_bandScopeWaterfall;
    BridgeAbstract* m_bridge = nullptr;
    bool m_hideSlopes = false;
    void* m_hostObject = nullptr;
};
