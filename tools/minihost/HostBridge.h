#pragma once

#include "BridgeAbstract.h"
#include "DeviceManagerAbstract.h"
#include "HostOutputs.h"
#include "HostThreadPool.h"

#include <QMenu>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The host's audio server: asks its listeners for audio every 10 ms and counts
// (or records) what they deliver.
class HostAudioServer : public AudioServerAbstract {
public:
    ~HostAudioServer() override;
    void addListener(std::shared_ptr<ox::audio::AudioEventListenerAbstract> listener) override;
    void writeAudio(std::size_t count, const float* data) override;
    void start();
    void stop();
    std::uint64_t valuesReceived() const { return m_values; }
    // Calls every listener once on the calling thread.
    void requestData();

private:
    std::mutex m_mutex;
    std::vector<std::shared_ptr<ox::audio::AudioEventListenerAbstract>> m_listeners;
    std::atomic<std::uint64_t> m_values{0};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

class HostNotchControl : public RadioNotchFilterControlAbstract {
    Q_OBJECT
public:
    struct Band {
        bool enabled = false;
        std::vector<RadioNotchFilterParams> filters;
    };

    std::size_t bandCount() const override { return m_bands.size(); }
    std::size_t filterCount(std::size_t band) const override
    {
        return band < m_bands.size() ? m_bands[band].filters.size() : 0;
    }
    RadioNotchFilterParams filter(std::size_t band, std::size_t index) const override
    {
        return (band < m_bands.size() && index < m_bands[band].filters.size()) ? m_bands[band].filters[index]
                                                                               : RadioNotchFilterParams{};
    }
    bool bandEnabled(std::size_t band) const override { return band < m_bands.size() && m_bands[band].enabled; }

    void setBands(std::vector<Band> bands) { m_bands = std::move(bands); }

private:
    std::vector<Band> m_bands;
};

class HostRecorderConfig : public IQRecorderConfigAbstract {
public:
    int format() const override { return m_format; }
    QString folder() const override { return m_folder; }
    void setFormat(int format) { m_format = format; }
    void setFolder(const QString& folder) { m_folder = folder; }

private:
    int m_format = 2;
    QString m_folder;
};

// Everything the host hands to a device in init.
class HostBridge : public BridgeAbstract {
public:
    HostBridge();
    ~HostBridge() override;

    SoundOutAbstract* soundOut() override { return &m_soundOut; }
    VacCollectionAbstract* vacs() override { return &m_vacs; }
    LineOutCollectionAbstract* lineOuts() override { return &m_lineOuts; }
    ThreadPoolAbstract* threadPool() override { return &m_pool; }
    AudioServerAbstract* audioServer() override { return &m_audioServer; }
    RadioNotchFilterControlAbstract* radioNotchFilterControl() override { return &m_notches; }
    IQRecorderConfigAbstract* iqRecorderConfig() override { return &m_recorder; }

    HostSoundOut& hostSoundOut() { return m_soundOut; }
    HostOutputCollection<VacAbstract, HostVac>& hostVacs() { return m_vacs; }
    HostOutputCollection<LineOutAbstract, HostLineOut>& hostLineOuts() { return m_lineOuts; }
    HostThreadPool& hostPool() { return m_pool; }
    HostAudioServer& hostAudioServer() { return m_audioServer; }
    HostNotchControl& hostNotches() { return m_notches; }
    HostRecorderConfig& hostRecorder() { return m_recorder; }

    // Closes every output (their threads stop pulling).
    void closeOutputs();

private:
    HostSoundOut m_soundOut;
    HostOutputCollection<VacAbstract, HostVac> m_vacs;
    HostOutputCollection<LineOutAbstract, HostLineOut> m_lineOuts;
    HostThreadPool m_pool;
    HostAudioServer m_audioServer;
    HostNotchControl m_notches;
    HostRecorderConfig m_recorder;
};

class HostComponent : public ManagerComponentAbstract {
public:
    void setFirstOption(bool on) override { first = on; ++calls; }
    void setSecondOption(bool on) override { second = on; ++calls; }
    bool first = true;
    bool second = true;
    int calls = 0;
};

// The host's device manager.
class HostManager : public DeviceManagerAbstract {
    Q_OBJECT
public:
    explicit HostManager(bool hideSlopes = false) : m_hideSlopes(hideSlopes) {}

    void setDeviceMenu(QMenu* menu) override { m_menu = menu; ++m_menuCalls; }
    QWidget* mainWindow() const override { return m_window; }
    bool hideSpectrumSlopes() const override { return m_hideSlopes; }
    ManagerComponentAbstract* component() override { return &m_component; }
    void forwardedFromDevice(quint32 value, bool state) override
    {
        lastForwarded = value;
        lastForwardedState = state;
    }

    void setHideSpectrumSlopes(bool hide)
    {
        m_hideSlopes = hide;
        emit hideSpectrumSlopesChanged(hide);
    }
    void setMainWindow(QWidget* window) { m_window = window; }
    QMenu* deviceMenu() const { return m_menu; }
    int deviceMenuCalls() const { return m_menuCalls; }
    HostComponent& hostComponent() { return m_component; }
    bool wfmStereo(quint32 rx) const { return rx < 2 && m_stereo[rx]; }

    quint32 lastForwarded = 0;
    bool lastForwardedState = false;

public slots:
    void onWfmStereo(quint32 receiver, bool stereo) override
    {
        if (receiver < 2)
            m_stereo[receiver] = stereo;
    }

private:
    bool m_hideSlopes;
    QPointer<QWidget> m_window;
    QPointer<QMenu> m_menu;
    int m_menuCalls = 0;
    HostComponent m_component;
    bool m_stereo[2] = {false, false};
};
