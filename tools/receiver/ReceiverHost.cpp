#include "ReceiverHost.h"

#include "IqPlayback.h"
#include "OptionsPage.h"
#include "Simulator.h"
#include "common/CircularBuffer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

QString ReceiverSource::text() const
{
    if (kind == Kind::Emulator)
        return QStringLiteral("the emulator");
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

ReceiverHost::ReceiverHost() : m_bridge(std::make_unique<ReceiverBridge>()), m_manager(std::make_unique<WindowManager>())
{
    connect(m_manager.get(), &WindowManager::deviceMenuArrived, this, &ReceiverHost::deviceMenuArrived);
}

ReceiverHost::~ReceiverHost()
{
    shutdown();
}

bool ReceiverHost::load(const QString& pluginPath, QWidget* optionsPage, QWidget* mainWindow, QString* error)
{
    if (!m_host.load(pluginPath)) {
        *error = m_host.errorString();
        return false;
    }
    m_device = m_host.device();
    m_optionsPage = optionsPage;
    auto* layout = new QVBoxLayout(optionsPage);
    layout->setContentsMargins(0, 0, 0, 0);
    m_manager->setMainWindow(mainWindow);
    if (!m_device->init(*m_bridge, layout, false, false)) {
        *error = QStringLiteral("the plug-in's init failed");
        return false;
    }
    m_initialised = true;
    m_device->setManager(m_manager.get());
    return true;
}

QString ReceiverHost::pluginText() const
{
    return QStringLiteral("%1 %2").arg(m_host.pluginName(), m_host.pluginVersion());
}

template <typename T> T* ReceiverHost::optionControl(const char* name) const
{
    return m_optionsPage ? ::optionControl<T>(*m_optionsPage, name) : nullptr;
}

bool ReceiverHost::pointAt(const QHostAddress& address, quint16 port)
{
    auto* mode = optionControl<QComboBox>("cbModeIP");
    auto* line = optionControl<QLineEdit>("leIP");
    auto* portBox = optionControl<QSpinBox>("sbPort");
    if (!mode || !line || !portBox)
        return false;
    mode->setCurrentIndex(1); // "Static IP"
    line->setText(address.toString());
    portBox->setValue(port);
    return true;
}

bool ReceiverHost::setRateIndex(int index)
{
    auto* rate = optionControl<QComboBox>("cbSampleRate");
    if (!rate || index < 0 || index >= rate->count())
        return false;
    rate->setCurrentIndex(index);
    return true;
}

int ReceiverHost::rateIndex() const
{
    auto* rate = optionControl<QComboBox>("cbSampleRate");
    return rate ? rate->currentIndex() : -1;
}

void ReceiverHost::setRecorder(const QString& folder, int format)
{
    m_bridge->hostRecorder().setFolder(folder);
    m_bridge->hostRecorder().setFormat(format);
}

bool ReceiverHost::start(const ReceiverSource& source, QString* error)
{
    if (!m_device) {
        *error = QStringLiteral("no plug-in is loaded");
        return false;
    }
    stop();
    m_source = source;
    QHostAddress address = source.address;
    if (source.kind == ReceiverSource::Kind::Emulator) {
        zorvani::sim::Config config;
        config.port = source.port;
        config.scene = source.scene;
        config.logCommands = false;
        m_sim = std::make_unique<zorvani::sim::Simulator>(config);
        if (!m_sim->start()) {
            m_sim.reset();
            *error = QStringLiteral("the receiver emulator cannot bind %1:%2").arg(config.address.toString()).arg(config.port);
            return false;
        }
        address = config.address;
    }
    if (!pointAt(address, source.port)) {
        *error = QStringLiteral("the options page lacks cbModeIP, leIP or sbPort");
        stop();
        return false;
    }
    if (!m_device->open()) {
        *error = QStringLiteral("%1 does not answer on port %2").arg(source.text()).arg(source.port);
        stop();
        return false;
    }
    if (!m_device->start()) {
        *error = QStringLiteral("%1 did not start its stream").arg(source.text());
        m_device->close();
        stop();
        return false;
    }
    m_running = true;
    // The plug-in runs its sound-card converter while the output is open.
    m_device->setSoundCardOutput(true);
    DeviceAbstract* device = m_device;
    speaker().open(m_audioDevice, [device] {
        // What lies beyond the ring's reserve: the reserve stays for the card's jitter.
        const StereoRing* ring = device->soundCardSource();
        if (ring == nullptr)
            return 0u;
        const quint32 fill = ring->fill();
        return fill > ring->prefill() ? fill - ring->prefill() : 0u;
    });
    return true;
}

void ReceiverHost::stop()
{
    if (m_running) {
        speaker().close();
        m_device->setSoundCardOutput(false);
        m_device->stop();
        m_device->close();
        m_running = false;
    }
    if (m_sim) {
        m_sim->stop();
        m_sim.reset();
    }
}

std::shared_ptr<zorvani::sim::IqPlayback> ReceiverHost::play(const QString& path, double fallbackCentreHz,
                                                             QString* error)
{
    if (!m_sim) {
        *error = QStringLiteral("recordings play through the emulator, and %1 is not it").arg(m_source.text());
        return nullptr;
    }
    return m_sim->play(path, error, fallbackCentreHz);
}

void ReceiverHost::stopPlayback()
{
    if (m_sim)
        m_sim->stopPlayback();
}

void ReceiverHost::loadSettings(QSettings& settings)
{
    if (m_device)
        m_device->loadSettings(&settings);
}

void ReceiverHost::saveSettings(QSettings& settings)
{
    if (m_device)
        m_device->saveSettings(&settings);
}

void ReceiverHost::shutdown()
{
    stop();
    if (m_bridge) {
        m_bridge->closeOutputs();
        m_bridge->hostPool().waitIdle();
    }
    if (m_device && m_initialised)
        m_device->deinit();
    m_initialised = false;
    m_bridge.reset();
    m_manager.reset();
    m_host.unload();
    m_device = nullptr;
}
