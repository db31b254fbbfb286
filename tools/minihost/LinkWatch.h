#pragma once

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QStringList>

class DeviceAbstract;

// What the minimal host hears of the link while it runs: the plug-in closing
// the device itself (its watchdog found the IQ stream lost) and the IQ packets
// it gave up because the receiver did not re-send them in time. The second is
// a signal of the plug-in beyond the host's interface, connected by name.
class LinkWatch : public QObject {
    Q_OBJECT
public:
    // From the start of the stream until detach().
    void attach(DeviceAbstract* device);
    void detach();

    bool lost() const { return m_lostAfterMs >= 0; }
    double lostAfterS() const { return double(m_lostAfterMs) / 1000.0; }
    quint64 givenUp() const { return m_givenUp; }
    // ", N IQ packets given up" once there are any.
    QString progressText() const;
    // Lines for the summary, and what went wrong (empty when nothing did).
    QStringList summaryLines() const;
    QString problem() const;

private slots:
    void onGivenUp(quint64 total) { m_givenUp = total; }

private:
    QMetaObject::Connection m_closed;
    QMetaObject::Connection m_gaps;
    QElapsedTimer m_clock;
    qint64 m_lostAfterMs = -1;
    quint64 m_givenUp = 0;
};
