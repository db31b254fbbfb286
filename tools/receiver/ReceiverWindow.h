#pragma once

#include "ReceiverOptions.h"

#include <QDateTime>
#include <QMainWindow>
#include <QTimer>

#include <memory>

class ControlPanel;
class FrequencyDisplay;
class PlaybackBar;
class QActionGroup;
class QComboBox;
class QDialog;
class QLabel;
class QSettings;
class QTabWidget;
class QToolButton;
class RadioController;
class ReceiverHost;
class SignalMeter;
class PanoramaView;

namespace zorvani::sim {
class IqPlayback;
}

// The receiver window: the plug-in's panorama and waterfall of the current
// receiver (and the band scope), the frequency display, the S-meter and the
// peak meter, the controls, IQ recording, playback of recordings through the
// emulator, the plug-in's options page and device menu, and the window's
// settings in the user's configuration folder. It is the host: everything it
// shows comes from the plug-in through the host's interface.
class ReceiverWindow : public QMainWindow {
    Q_OBJECT
public:
    ReceiverWindow(ReceiverHost& host, const ReceiverOptions& options, QWidget* parent = nullptr);
    ~ReceiverWindow() override;

    // Loads the plug-in and connects to the receiver (then plays --play).
    // False when the plug-in cannot be loaded; a receiver that does not
    // answer leaves the window up, saying so.
    bool start();
    // Saves the settings and tears the plug-in down (also on close).
    void shutdown();

    // Plays a recording through the emulator (switching to it if needed).
    bool openRecording(const QString& path);
    void backToLive();
    bool setRecording(bool on);
    QString recordingFile() const { return m_recordFile; }
    QString settingsFile() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    void connectDevice();
    bool connectTo(const ReceiverSource& source);
    void fillReceiverMenu();
    void showRadio();
    void showBandScope();
    void onSpectrum(quint32 rx);
    void onSampleRate(double hz);
    void updateStatus();
    void recordingFailed(const QString& why);
    void chooseRecording();
    void chooseRecordingFolder();
    void showError(const QString& text);
    void readSettings();
    void writeSettings();
    std::unique_ptr<QSettings> openSettings() const;

    ReceiverHost& m_host;
    ReceiverOptions m_options;
    std::unique_ptr<RadioController> m_radio;

    FrequencyDisplay* m_frequency = nullptr;
    QLabel* m_centre = nullptr;
    QComboBox* m_step = nullptr;
    QToolButton* m_rxButtons[2] = {nullptr, nullptr};
    SignalMeter* m_sMeter = nullptr;
    SignalMeter* m_peakMeter = nullptr;
    QTabWidget* m_views = nullptr;
    PanoramaView* m_rxView = nullptr;
    PanoramaView* m_bsView = nullptr;
    QComboBox* m_bsSpan = nullptr;
    PlaybackBar* m_playbar = nullptr;
    ControlPanel* m_panel = nullptr;
    QDialog* m_optionsDialog = nullptr;
    QWidget* m_optionsPage = nullptr;
    QAction* m_recordAction = nullptr;
    QActionGroup* m_formats = nullptr;
    QMenu* m_receiverMenu = nullptr;
    QLabel* m_statusSource = nullptr;
    QLabel* m_statusRecording = nullptr;
    QLabel* m_statusAudio = nullptr;
    QLabel* m_statusPackets = nullptr;
    QTimer m_statusTimer;

    struct BandScope {
        bool on = false;
        quint64 centre = 0; // Hz
        uint decimation = 0;
        bool operator!=(const BandScope& o) const { return on != o.on || centre != o.centre || decimation != o.decimation; }
    };
    BandScope m_bandScope; // as last sent; a new link starts from off
    double m_span = 0.0;       // Hz, as the plug-in announced it
    quint64 m_spectra = 0;     // frames of the shown receiver
    quint64 m_spectraShown = 0;
    QString m_recordFolder;
    QString m_recordFile;
    QDateTime m_recordStart;
    int m_recordRx = 0;
    bool m_recordStopping = false;
    std::shared_ptr<zorvani::sim::IqPlayback> m_playback;
    ReceiverSource m_lastNetwork;
    bool m_started = false;
    bool m_shutDown = false;
};
