#pragma once

#include <QObject>

// Announces whether discovery is locked: it is while the stream runs.
class DiscoverLockMediator : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isLocked() const { return m_locked; }

public slots:
    // Emits lockChanged(state) only when state differs from the last announced one.
    void setStart(bool state);

signals:
    void lockChanged(bool locked);

private:
    bool m_locked = false;
    bool m_announced = false;
};
