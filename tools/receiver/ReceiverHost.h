#pragma once

#include "HostBridge.h"
#include "PluginHost.h"
#include "Scene.h"
#include "SpeakerOutput.h"

#include <QAudioDeviceInfo>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <memory>

class QSettings;

namespace zorvani::sim {
class IqPlayback;
class Simulator;
} // namespace zorvani::sim

// Which receiver the window drives: the emulator in-process on loopback, or
// one on the network in "Static IP" mode.
struct ReceiverSource {
    enum class Kind { Emulator, Network };
    Kind kind = Kind::Emulator;
    QHostAddress address;     // Network
    quint16 port = 50001;     // the link's port; the emulator's too
    zorvani::sim::Scene scene = zorvani::sim::Scene::defaultScene(); // Emulator

    QString text() const;
};

// The host's bridge with the window's sound output as its main output.
class ReceiverBridge : public HostBridge {
public:
    SoundOutAbstract* soundOut() override { return &m_speaker; }
    SpeakerOutput& speaker() { return m_speaker; }

private:
    SpeakerOutput m_speaker;
};

// The host's device manager, telling the window when the device menu arrives.
class WindowManager : public HostManager {
    Q_OBJECT
public:
    void setDeviceMenu(QMenu* menu) override
    {
        HostManager::setDeviceMenu(menu);
        emit deviceMenuArrived(menu);
    }

signals:
    void deviceMenuArrived(QMenu* menu);
};

// What the window does as the host: loads the plug-in through QPluginLoader,
// inits it with its options page in the window, opens and starts the
// receiver (starting the emulator when that is the source), feeds the main
// output to the sound card, and tears everything down in the host's order.
// GUI thread only.
class ReceiverHost : public QObject {
    Q_OBJECT
public:
    ReceiverHost();
    ~ReceiverHost() override;

    // The options page goes into `optionsPage`'s layout; `mainWindow` parents
    // the plug-in's message boxes.
    bool load(const QString& pluginPath, QWidget* optionsPage, QWidget* mainWindow, QString* error);
    DeviceAbstract* device() const { return m_device; }
    QString pluginText() const;

    // The sound card (a null device runs silent); before start().
    void setAudioDevice(const QAudioDeviceInfo& device) { m_audioDevice = device; }
    SpeakerOutput& speaker() { return m_bridge->speaker(); }

    // Opens the receiver and starts its stream and the audio.
    bool start(const ReceiverSource& source, QString* error);
    // Stops the stream and the audio, closes the link and stops the emulator.
    void stop();
    bool isRunning() const { return m_running; }
    const ReceiverSource& source() const { return m_source; }
    // Null unless the source is the emulator.
    zorvani::sim::Simulator* emulator() const { return m_sim.get(); }

    // The emulator streams this recording instead of its scene; null with
    // *error set when it cannot (no emulator, not a recording).
    std::shared_ptr<zorvani::sim::IqPlayback> play(const QString& path, double fallbackCentreHz, QString* error);
    void stopPlayback();

    // The sample rate on the plug-in's options page, index 0..3 (the plug-in
    // restarts a running stream at the new rate).
    bool setRateIndex(int index);
    int rateIndex() const;

    // Where the plug-in writes IQ recordings, and their layout 0..2.
    void setRecorder(const QString& folder, int format);

    void loadSettings(QSettings& settings);
    void saveSettings(QSettings& settings);

    // Stop, then the host's teardown: outputs closed, deinit, unload.
    void shutdown();

signals:
    void deviceMenuArrived(QMenu* menu);

private:
    template <typename T> T* optionControl(const char* name) const;
    bool pointAt(const QHostAddress& address, quint16 port);

    PluginHost m_host;
    DeviceAbstract* m_device = nullptr;
    // Both may hold objects of the plug-in: released before it is unloaded.
    std::unique_ptr<ReceiverBridge> m_bridge;
    std::unique_ptr<WindowManager> m_manager;
    QPointer<QWidget> m_optionsPage;
    QAudioDeviceInfo m_audioDevice; // null: silent
    ReceiverSource m_source;
    std::unique_ptr<zorvani::sim::Simulator> m_sim;
    bool m_initialised = false;
    bool m_running = false;
};
