#pragma once

#include "HostBridge.h"
#include "PrivateHome.h"
#include "PluginHost.h"
#include "Simulator.h"

#include <QPushButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QWidget>

#include <memory>

// Answers to the plug-in's message boxes travel in test data rows.
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

// The plug-in loaded the way the host loads it, wired to the minimal host's
// bridge and manager, and pointed at an emulator on loopback in "Static IP"
// mode through its own options page.
namespace systest {

class LoadedPlugin {
public:
    // Keeps the band-plan file and settings of the plug-in in a private place.
    static bool isolateHome(QTemporaryDir& home) { return support::isolateHome(home); }

    bool load()
    {
        const QByteArray path = qgetenv("ZORVANI_PLUGIN");
        if (!host.load(path.isEmpty() ? PluginHost::defaultPluginPath() : QString::fromLocal8Bit(path)))
            return false;
        layout = new QVBoxLayout(&window);
        manager.setMainWindow(&window);
        if (!device()->init(bridge, layout, false, false))
            return false;
        device()->setManager(&manager);
        // A modal box would block the test forever: answer it from `answers`
        // or close it, and remember it.
        modalGuard.setInterval(50);
        QObject::connect(&modalGuard, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            boxes << modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen << Box{box->windowTitle(), box->text(), box->informativeText(), box->standardButtons(),
                            box->standardButton(box->defaultButton())};
                if (!answers.isEmpty())
                    if (QAbstractButton* answer = box->button(answers.takeFirst())) {
                        answer->click();
                        return;
                    }
            }
            modal->close();
        });
        modalGuard.start();
        return true;
    }

    void unload()
    {
        modalGuard.stop();
        if (!device())
            return;
        device()->setSoundCardOutput(false);
        device()->stop();
        device()->close();
        bridge.closeOutputs();
        bridge.hostPool().waitIdle();
        device()->deinit();
        host.unload();
    }

    template <typename T>
    T* option(const char* name) const
    {
        return window.findChild<T*>(QLatin1String(name));
    }

    // The device panel the host shows as its drop-down menu (handed over 500 ms after setManager).
    QWidget* menuPanel() const
    {
        QMenu* menu = manager.deviceMenu();
        auto* action = menu ? qobject_cast<QWidgetAction*>(menu->actions().value(0)) : nullptr;
        return action ? action->defaultWidget() : nullptr;
    }

    // A control of the options page (`where` "options") or of the device menu ("menu").
    template <typename T>
    T* control(const QString& where, const char* name) const
    {
        if (where != QLatin1String("menu"))
            return option<T>(name);
        QWidget* menu = menuPanel();
        return menu ? menu->findChild<T*>(QLatin1String(name)) : nullptr;
    }

    bool useEmulator(const zorvani::sim::Simulator& sim)
    {
        auto* mode = option<QComboBox>("cbModeIP");
        auto* address = option<QLineEdit>("leIP");
        auto* port = option<QSpinBox>("sbPort");
        if (!mode || !address || !port)
            return false;
        mode->setCurrentIndex(1);
        address->setText(sim.config().address.toString());
        port->setValue(sim.config().port);
        return true;
    }

    // Starts an emulator on `port` with `scene`, loads the plug-in and points
    // it at the emulator. Empty on success, else what failed.
    QString attachEmulator(std::unique_ptr<zorvani::sim::Simulator>& sim, quint16 port,
                           const zorvani::sim::Scene& scene)
    {
        zorvani::sim::Config c;
        c.port = port;
        c.scene = scene;
        c.logCommands = false;
        return attachEmulator(sim, c);
    }

    // The same with an emulator configured as `c` says.
    QString attachEmulator(std::unique_ptr<zorvani::sim::Simulator>& sim, const zorvani::sim::Config& c)
    {
        sim = std::make_unique<zorvani::sim::Simulator>(c);
        if (!sim->start())
            return QStringLiteral("the emulator did not start");
        if (!load())
            return host.errorString();
        if (!useEmulator(*sim))
            return QStringLiteral("the options page lacks the address controls");
        return {};
    }

    DeviceAbstract* device() const { return host.device(); }

    PluginHost host;
    HostBridge bridge;
    HostManager manager;
    QWidget window;
    QVBoxLayout* layout = nullptr;
    // A message box the plug-in showed.
    struct Box {
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    QTimer modalGuard;
    QStringList boxes;                          // titles of every modal window
    QList<Box> seen;                            // the message boxes among them
    QList<QMessageBox::StandardButton> answers; // for the next boxes, in order; none left: closed
};

} // namespace systest
