#pragma once

#include "discovery/Receiver.h"

#include <QWidget>

#include <memory>

class DiscoverLockMediator;
class QMenu;

// The plug-in's options page: every user setting lives here as control state.
class ZorvaniOptions : public QWidget {
    Q_OBJECT
public:
    explicit ZorvaniOptions(QWidget* parent = nullptr);
    ~ZorvaniOptions() override;

    QMenu* deviceMenu() const;
    DiscoverLockMediator* discoverLock() const;
    Receiver receiverRecord() const;

public slots:
    void setReceiver(Receiver r);

signals:
    void sampleRateChanged(int index);
    void cwPitchChanged(int hz);

private:
    Receiver m_receiver;
    std::unique_ptr<QMenu> m_menu;
    DiscoverLockMediator* m_lock;
};
