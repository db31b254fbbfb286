#pragma once

#include "FirmwareWatch.h"
#include "HostBridge.h"
#include "HostSettings.h"
#include "JobOptions.h"
#include "LinkWatch.h"
#include "PluginHost.h"
#include "SpectrumPictures.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

namespace zorvani::sim {
class Simulator;
}

// The minimal host's run: load the plug-in, drive it like the host does
// (init, setManager, open, start, the setters, stop, close, deinit, unload)
// against the built-in emulator or a receiver the user names, and write what
// came out: the main audio output, panorama pictures, an IQ recording and a
// summary. The plug-in's settings are loaded before the receiver starts and
// saved, with the host's choices, at exit.
class MainJob : public QObject {
    Q_OBJECT
public:
    explicit MainJob(const JobOptions& options);
    ~MainJob() override;

    // The exit status: 0 when everything asked for was done.
    int run();
    // Ends the running phase early (safe from a signal handler).
    static void requestStop();

    // The scene the emulator plays without --scene.
    static QString defaultSceneText();

private:
    struct Tuning {
        double freqHz = 0.0;
        int mode = 0;
        QString modeName;
        double filterLow = 0.0;
        double filterHigh = 0.0;
        int agc = 0;
    };
    struct Meter {
        double last = 0.0;
        double sum = 0.0;
        quint64 count = 0;
    };

    int execute();
    void teardown();
    int fail(const QString& message);

    bool prepareOutputFolder();
    bool startEmulator();
    bool loadAndInit();
    bool configureOptionsPage();
    bool chooseDiscoveredReceiver();
    bool resolveTuning(double freqHz, const QString& mode, Tuning* tuning);
    void applyTuning(uint rx, const Tuning& tuning);
    void runFor(double seconds);
    void printProgress(double elapsedS, bool last);
    void answerMessageBoxes();
    // "Firmware update" pressed as a user would, then its end awaited; false
    // (with the problem noted) when it did not end well.
    bool pressFirmwareUpdate();
    // Follows an update the plug-in began or begins within seconds; true when it ended well.
    bool followFirmwareUpdate();
    QString boxesText() const;
    void writePictures();
    bool writeSummary();
    template <typename T> T* optionControl(const char* name) const;

    JobOptions m_options;
    HostSettings m_settings;
    bool m_choicesValid = false; // the choices to remember are those of a run that could tune
    QString m_outDir;
    std::unique_ptr<zorvani::sim::Simulator> m_sim;
    PluginHost m_host;
    DeviceAbstract* m_device = nullptr;
    std::unique_ptr<HostBridge> m_bridge;
    std::unique_ptr<HostManager> m_manager;
    QWidget m_window;
    QTimer m_boxTimer; // answers the plug-in's message boxes when headless
    FirmwareWatch m_firmware;
    QString m_emulatorVersion; // as the emulator reported it at the end
    bool m_initialised = false;
    bool m_collecting = false;

    Tuning m_tuning[2];
    QMap<QPair<quint32, quint32>, Meter> m_meters;
    std::vector<float> m_panorama;
    WaterfallHistory m_waterfall;
    quint64 m_spectrumFrames = 0;
    QStringList m_boxes;
    QStringList m_problems;
    bool m_iqFailed = false;
    bool m_iqStopping = false; // our own stop of the recording is under way
    QStringList m_iqFiles;
    OutputLevel m_audio;
    quint64 m_counters[4] = {0, 0, 0, 0}; // emulator: sent, answered, lost, re-sent
    LinkWatch m_link;
    double m_ranS = 0.0;
    bool m_wfmStereo[2] = {false, false}; // as the manager last heard
    double m_displayedRate = 0.0; // Hz, as the plug-in announced it
    QStringList m_written;
    bool m_terminal = false;

    static std::atomic<bool> s_stop;
};
