#pragma once

#include "BoxScript.h"
#include "HostBridge.h"
#include "PrivateHome.h"
#include "Simulator.h"
#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

// The plug-in object on the minimal host's bridge, its options page pointed
// at an emulated receiver on loopback in "Static IP" mode, every box and
// file dialog answered by a script.
class PanelRig {
public:
    PanelRig() = default;
    Q_DISABLE_COPY(PanelRig)
    ~PanelRig()
    {
        if (device) {
            device->stop();
            device->close();
            device->deinit();
        }
    }

    // Starts the emulator as `c` says (with `running` false only configures
    // the address it would have), inits the plug-in and points it there.
    bool start(zorvani::sim::Config c, bool running = true)
    {
        sim = std::make_unique<zorvani::sim::Simulator>(c);
        if (running && !sim->start())
            return false;
        device = std::make_unique<ZorvaniInterface>();
        if (!device->init(bridge, nullptr, false, true))
            return false;
        control<QComboBox>("cbModeIP")->setCurrentIndex(1);
        control<QLineEdit>("leIP")->setText(c.address.toString());
        control<QSpinBox>("sbPort")->setValue(c.port);
        return true;
    }

    template <typename T>
    T* control(const char* name) const
    {
        return device->options()->findChild<T*>(QLatin1String(name));
    }
    void click(const char* button) const { control<QPushButton>(button)->click(); }
    ZorvaniControl& panel() const { return *device->control(); }

    ScriptedBoxes boxes;
    std::unique_ptr<zorvani::sim::Simulator> sim;
    HostBridge bridge;
    std::unique_ptr<ZorvaniInterface> device;
};
