#pragma once

#include "HostBridge.h"
#include "PrivateHome.h"
#include "Simulator.h"
#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "common/FileDialog.h"
#include "common/MessageBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMutex>
#include <QPushButton>
#include <QSpinBox>

#include <memory>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

// Answers the plug-in's message boxes and file dialogs from scripts and
// remembers what they asked. A box without a scripted answer gets No, else
// Cancel, else Ok (never Retry, so no update retries by itself); a file
// dialog without one is cancelled. Installed for the object's lifetime.
class ScriptedBoxes {
public:
    ScriptedBoxes()
    {
        ox::ui::setMessageHandler([this](const ox::ui::MessageRequest& r) {
            QMutexLocker lock(&m_mutex);
            m_boxes << r;
            if (!m_answers.isEmpty())
                return m_answers.takeFirst();
            return (r.buttons & QMessageBox::No) ? QMessageBox::No : (r.buttons & QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok;
        });
        ox::ui::setFileHandler([this](const ox::ui::FileRequest& r) {
            QMutexLocker lock(&m_mutex);
            m_files << r;
            return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
        });
    }
    ~ScriptedBoxes()
    {
        ox::ui::setMessageHandler({});
        ox::ui::setFileHandler({});
    }
    Q_DISABLE_COPY(ScriptedBoxes)

    void answer(QList<QMessageBox::StandardButton> buttons) { QMutexLocker lock(&m_mutex); m_answers << buttons; }
    void chooseFile(const QString& path) { QMutexLocker lock(&m_mutex); m_fileAnswers << path; }
    QList<ox::ui::MessageRequest> boxes() const { QMutexLocker lock(&m_mutex); return m_boxes; }
    QList<ox::ui::FileRequest> files() const { QMutexLocker lock(&m_mutex); return m_files; }
    QStringList texts() const // of the boxes shown so far, in order
    {
        QStringList t;
        for (const auto& b : boxes())
            t << b.text;
        return t;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_boxes.clear(), m_files.clear(), m_answers.clear(), m_fileAnswers.clear();
    }

private:
    mutable QMutex m_mutex;
    QList<ox::ui::MessageRequest> m_boxes;
    QList<ox::ui::FileRequest> m_files;
    QList<QMessageBox::StandardButton> m_answers;
    QStringList m_fileAnswers;
};

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
