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

    // Members the tests inspect.
    ZorvaniOptions* options() const { return m_options.get(); }
    ZorvaniControl* control() const { return m_control.get(); }
    ZorvaniDialog* dialog() const { return m_dialog.get(); }
    zorvaniDsp* dsp() const { return m_dsp.get(); }
    const IqFileSlots& iqFiles() const { return m_iqFiles; }

public slots:
    void search();
    void info();
    void initReceiverAddr();
    void setForceStop();
    void on4k(bool);
    void onHideSpectrumSlopes(bool hide);
    bool isDeviceAvalible();

private:
    void applySampleRate(int index);
    // Probes the options' typed address ("Static IP" mode) and updates the records.
    bool probeStaticAddress();
    // Joins the socket and driver threads, stops the engine, closes the link.
    void closeLink();
    void installAudioSources();
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
