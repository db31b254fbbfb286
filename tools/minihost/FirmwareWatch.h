#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Follows a firmware update the plug-in runs, through its firmwareState and
// firmwareProgress signals: prints the steps and the progress on the console
// and tells how the update ended.
class FirmwareWatch : public QObject {
    Q_OBJECT
public:
    // False when the plug-in offers no such signals.
    bool attach(QObject* device);
    // Forgets the last update.
    void reset();

    // Waits, processing events, until an update has ended: true then. False
    // when none began within `beginMs`, or it did not end within `endMs`,
    // or `stop` asked to give up.
    bool waitForEnd(int beginMs, int endMs, const std::function<bool()>& stop);

    bool begun() const { return m_last >= 0; }
    bool ended() const;
    // 13 (written) and 14 (already current) are successes.
    bool succeeded() const { return m_last == 13 || m_last == 14; }
    // "finished: Firmware updated. (state 13)" and the like, for the summary.
    QString outcome() const;

private slots:
    void onState(int state, const QString& text);
    void onProgress(int percent);

private:
    static constexpr int kNoneShown = -10;

    int m_last = -1;
    QString m_text;
    int m_shownPercent = kNoneShown;
};
