#pragma once

#include "ZorvaniOptions/OptionsSettings.h"
#include "discovery/Receiver.h"

#include <QWidget>

#include <memory>

class DeviceMenuZorvaniDDC;
class DiscoverLockMediator;
class QMenu;
class QSettings;

namespace Ui {
class ZorvaniOptions;
}

// The plug-in's options page: every user setting lives here as control state.
// The controller and the settings code find the controls by object name; the
// receiver's address is "leIP", the Expert page's new static address "leStaticIP".
// It also owns the device menu the host shows and the discovery lock.
class ZorvaniOptions : public QWidget {
    Q_OBJECT
public:
    explicit ZorvaniOptions(QWidget* parent = nullptr);
    ~ZorvaniOptions() override;

    // The menu (one QWidgetAction holding the device panel) handed to the host.
    QMenu* deviceMenu() const;
    DeviceMenuZorvaniDDC* deviceMenuWidget() const { return m_menuWidget; }
    DiscoverLockMediator* discoverLock() const;
    Receiver receiverRecord() const;
    // "Pitch:" of the CW group, Hz.
    int cwPitch() const;
    // Emits sampleRateChanged with the sample-rate combo's index.
    void announceSampleRate();

    // The page in the host's settings store (group "ZorvaniOptions"). Load
    // also takes a stored serial and a valid stored address into the receiver
    // record, and the port too for the full set.
    void saveSettings(QSettings& store, OptionsSettings::Set set) const;
    void loadSettings(QSettings& store, OptionsSettings::Set set);

public slots:
    // Shows r; the static-address field takes r's address until the user edits it.
    void setReceiver(Receiver r);
    // Shows the discovery's current receiver.
    void updateReceiver();
    // 0 "Auto": address and port read-only; otherwise editable.
    void changedModeIP(int index);
    // Indices 4 and above show the warning and disable "Disable audio output".
    void changedSampleRate(int index);
    void onDefaultSsbApf();

signals:
    // The sample-rate combo changed, or its rate is announced again.
    void sampleRateChanged(int index);
    void cwPitchChanged(int hz);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectMenu();
    void fitAddressFields();

    std::unique_ptr<Ui::ZorvaniOptions> ui;
    std::unique_ptr<OptionsSettings> m_settings;
    Receiver m_receiver;
    std::unique_ptr<QMenu> m_menu;
    DeviceMenuZorvaniDDC* m_menuWidget;
    DiscoverLockMediator* m_lock;
};
