#pragma once

#include "discovery/Receiver.h"
#include "discovery/Searcher.h"

#include <QThread>

#include <atomic>
#include <memory>

class ZorvaniDriver;
class ZorvaniFirmwareDialog;

// One firmware update of the receiver per start of the thread: version check,
// the image read, the receiver into its bootloader, erase, the image in 448
// enciphered chunks, back into the application. Created on the GUI thread,
// where its dialog lives; state() and progress() reach the dialog queued.
// While it runs the thread is the only user of the driver's link (the
// controller refuses its own link actions meanwhile).
class ZorvaniFirmware : public QThread {
    Q_OBJECT
public:
    // Waits and counts of one update; tests shorten them.
    struct Timing {
        int passes = 12;       // bootloader search passes after the first switch
        int passWaitMs = 5000; // between two passes
        int settleMs = 1000;   // after the erase, and before leaving the bootloader
    };
    static constexpr int kEraseTries = 2;
    static constexpr int kWriteAttempts = 2;
    static constexpr quint16 kDiscoveryPort = 50001;

    explicit ZorvaniFirmware(ZorvaniDriver* driver, QObject* parent = nullptr);
    // A running update is abandoned at its next step; the receiver may be
    // left in its bootloader, where the next start offers the update again.
    ~ZorvaniFirmware() override;

    // The setters take effect from the next update.
    // The image file (default the plug-in's resource ":/Zorvani/ZorvaniMCU.mcu").
    void setImagePath(const QString& path);
    void setTiming(const Timing& timing);
    // True skips the version check; the default is "admin" among the application's arguments.
    void setAdmin(bool admin);
    // Where the bootloader search sends its requests (default: every interface's broadcast address).
    void setSearchTargets(Searcher::TargetProvider targets);

    ZorvaniFirmwareDialog* dialog() const { return m_dialog.get(); }
    // True from the start of an update until its last state is out.
    bool isUpdating() const { return isRunning() && !m_ended.load(); }

public slots:
    // Starts an update unless one is running.
    void upgrade();
    void retryUpgrade();
    // Ends the update: a running one at its next step, then the link is closed.
    void cancelUpgrade();

signals:
    void state(int value);
    void progress(int value);
    void searchCurrent(QString serial);

protected:
    void run() override;

private:
    // The update's last state, or kAbandoned when it was cancelled.
    int update(Searcher& searcher);
    int loadImage(QByteArray* image) const;
    bool enterBootloader(Searcher& searcher);
    bool erase();
    bool writeImage(const QByteArray& image);
    void report(int value);
    // Waits while processing this thread's events; returns early when abandoned.
    void pauseFor(int ms);
    bool abandoned() const { return m_abandon.load(); }

    static constexpr int kAbandoned = -1;

    ZorvaniDriver* m_driver;
    std::unique_ptr<ZorvaniFirmwareDialog> m_dialog;
    QString m_imagePath;
    Timing m_timing;
    bool m_admin;
    Searcher::TargetProvider m_targets;

    // The update thread's own.
    Receiver m_receiver;
    quint16 m_discoveryPort = kDiscoveryPort;

    std::atomic<bool> m_ended{true};
    std::atomic<bool> m_abandon{false};
};
