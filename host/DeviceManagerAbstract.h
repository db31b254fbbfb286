#pragma once

#include <QObject>

class QMenu;
class QWidget;

// A component of the host's device manager that the plug-in switches off
// when it is attached; what the two switches mean is the host's business.
class ManagerComponentAbstract {
public:
    virtual ~ManagerComponentAbstract() = default;
    virtual void setFirstOption(bool on) = 0;
    virtual void setSecondOption(bool on) = 0;
};

class DeviceManagerAbstract : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DeviceManagerAbstract() override = default;

    virtual void setDeviceMenu(QMenu* menu) = 0;
    virtual QWidget* mainWindow() const = 0;      // parent for message boxes
    virtual bool hideSpectrumSlopes() const = 0;
    virtual ManagerComponentAbstract* component() = 0;
    // Receives what the device forwards with DeviceAbstract::forwardToManager.
    virtual void forwardedFromDevice(quint32 value, bool state) = 0;

public slots:
    virtual void onWfmStereo(quint32 receiver, bool stereo) = 0;

signals:
    void sDeviceAvalible();
    void waterfallFilterChanged(bool on);
    void apfChanged(quint32 receiver, bool on);
    void dseChanged(quint32 receiver, bool on);
    void display4kModeChanged(bool on);
    void hideSpectrumSlopesChanged(bool hide);
};
