#include "ZorvaniInterface.h"

#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "ZorvaniFunctions.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "common/CheckedConnect.h"
#include "common/ZorvaniSR.h"
#include "discovery/Receiver.h"
#include "recording/IQRecording.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QWidgetAction>

#include <spdlog/pattern_formatter.h>
#include <spdlog/spdlog.h>

static void initResources()
{
    Q_INIT_RESOURCE(zorvani);
}

ZorvaniInterface::ZorvaniInterface() : DeviceAbstract(nullptr)
{
    m_limits = DeviceLimits{30, 30, 100, 10, 700, 100, 300, 100, 300, 7, 1, 0};

    spdlog::set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "[thread %t , time %H:%M:%S:%e] %v", spdlog::pattern_time_type::local, "\r\n"));

    qRegisterMetaType<ZorvaniSR>("ZorvaniSR");
    qRegisterMetaType<Receiver>("Receiver");
    initResources();

    m_functions = std::make_shared<ZorvaniFunctions>();
}

ZorvaniInterface::~ZorvaniInterface()
{
    std::vector<float>().swap(m_bandScopePanorama);
    std::vector<float>().swap(m_bandScopeWaterfall);
    std::vector<float>().swap(m_panorama);
    std::vector<float>().swap(m_waterfall);
    m_iqFiles.clear();
    m_dsp.reset();
    m_dialog.reset();
    m_control.reset();
    m_options.reset();
    m_functions.reset();
}

bool ZorvaniInterface::init(BridgeAbstract& bridge, QLayout* layout, bool, bool adminPage)
{
    m_bridge = &bridge;

    m_options = std::make_shared<ZorvaniOptions>();
    if (layout)
        layout->addWidget(m_options.get());
    else
        m_options->show();

    if (!adminPage) {
        if (auto* tabs = m_options->findChild<QTabWidget*>(QStringLiteral("tbwOptions"))) {
            if (QWidget* admin = tabs->widget(3))
                admin->close();
            tabs->removeTab(3);
        }
    }

    bridge.vacs()->setOutputCount(2);
    bridge.lineOuts()->setOutputCount(2);

    for (int rx = 0; rx < 2; ++rx) {
        auto file = std::make_shared<ox::file::IQFile>();
        // A recording its writer had to end: the host's button goes off and the user learns why.
        connect(file.get(), &ox::file::IQFile::failed, this, [this, rx](const QString& path, const QString& reason) {
            emit sWriteIQ(false, rx);
            ox::file::showWriteFailure(path, reason, QCoreApplication::applicationName(),
                                       m_manager ? m_manager->mainWindow() : nullptr);
        });
        m_iqFiles.emplace_back(std::move(file), std::make_shared<std::recursive_mutex>());
    }

    m_dialog = std::make_unique<ZorvaniDialog>();
    m_dialog->setWindowFlags(Qt::WindowFlags(7));

    m_dsp = std::make_shared<zorvaniDsp>(bridge.threadPool(), &bridge, m_functions);
    m_control = std::make_unique<ZorvaniControl>(m_options.get(), m_functions, m_dsp, &m_iqFiles, m_dialog.get());

    applyCwPitch(m_options->cwPitch());

    installAudioSources();

    zorvaniDsp* dsp = m_dsp.get();
    CHECKED_CONNECT(dsp, SIGNAL(spectrum(quint32)), this, SIGNAL(rxSpectrum(quint32)));
    CHECKED_CONNECT(dsp, SIGNAL(bandscope()), this, SIGNAL(bsSpectrum()));
    CHECKED_CONNECT(bridge.soundOut(), SIGNAL(opened()), dsp, SLOT(soundCardOpen()));
    CHECKED_CONNECT(bridge.soundOut(), SIGNAL(closed()), dsp, SLOT(soundCardClose()));
    for (int rx = 0; rx < 2; ++rx) {
        VacAbstract* vac = bridge.vacs()->outputAt(rx).get();
        connect(vac, &OutputAbstract::opened, vac, [dsp, vac, rx] { dsp->openVac(rx, vac->sampleRate()); });
        CHECKED_CONNECT(vac, SIGNAL(closed()), dsp->receiver(rx), SLOT(vacClose()));
        LineOutAbstract* line = bridge.lineOuts()->outputAt(rx).get();
        CHECKED_CONNECT(line, SIGNAL(opened()), dsp->receiver(rx), SLOT(lineoutOpen()));
        CHECKED_CONNECT(line, SIGNAL(closed()), dsp->receiver(rx), SLOT(lineoutClose()));
    }
    CHECKED_CONNECT(dsp, SIGNAL(dBmMeter(quint32, quint32, double)), this, SIGNAL(dBmMeter(quint32, quint32, double)));
    CHECKED_CONNECT(dsp, SIGNAL(adcMeter(quint32, quint32, double, double)), this,
                    SIGNAL(adcMeter(quint32, quint32, double, double)));
    CHECKED_CONNECT(m_options->findChild<QPushButton*>(QStringLiteral("pbSearch")), SIGNAL(clicked()), this,
                    SLOT(search()));
    CHECKED_CONNECT(m_options->findChild<QPushButton*>(QStringLiteral("pbInfo")), SIGNAL(clicked()), this,
                    SLOT(info()));
    CHECKED_CONNECT(m_dialog.get(), SIGNAL(receiver(Receiver)), m_options.get(), SLOT(setReceiver(Receiver)));
    CHECKED_CONNECT(m_control.get(), SIGNAL(receiver(Receiver)), m_options.get(), SLOT(setReceiver(Receiver)));
    CHECKED_CONNECT(m_control.get(), SIGNAL(sDigOffset(int, int)), this, SIGNAL(sDigOffset(int, int)));
    CHECKED_CONNECT(m_control.get(), SIGNAL(forceStop()), this, SIGNAL(devClosed()));
    CHECKED_CONNECT(m_control.get(), SIGNAL(forceStop()), this, SLOT(setForceStop()));
    CHECKED_CONNECT(m_control.get(), SIGNAL(iqPacketsGivenUp(quint64)), this, SIGNAL(iqPacketsGivenUp(quint64)));
    CHECKED_CONNECT(m_control.get(), SIGNAL(beginFind()), this, SLOT(initReceiverAddr()));
    connect(m_control.get(), &ZorvaniControl::firmwareState, this,
            [this](int state) { emit firmwareState(state, zorvani::firmware::stateText(state)); });
    CHECKED_CONNECT(m_control.get(), SIGNAL(firmwareProgress(int)), this, SIGNAL(firmwareProgress(int)));
    // Also emitted when the rate is chosen on the options page or in the
    // device menu, so the catalogue and the host follow at once.
    connect(m_options.get(), &ZorvaniOptions::sampleRateChanged, this, &ZorvaniInterface::publishSampleRate);
    connect(m_options.get(), &ZorvaniOptions::cwPitchChanged, this, &ZorvaniInterface::applyCwPitch);
    if (RadioNotchFilterControlAbstract* notches = bridge.radioNotchFilterControl()) {
        CHECKED_CONNECT(notches, SIGNAL(paramChanged(size_t, size_t, bool, double, double)), dsp,
                        SLOT(onRnfParam(size_t, size_t, bool, double, double)));
        CHECKED_CONNECT(notches, SIGNAL(enableFiltersChanged(size_t, bool)), dsp, SLOT(onRnfEnabled(size_t, bool)));
    }
    return true;
}

void ZorvaniInterface::installAudioSources()
{
    // Each callable keeps the engine alive for as long as the host holds it.
    std::shared_ptr<zorvaniDsp> dsp = m_dsp;
    m_bridge->soundOut()->setAudioSource(
        [dsp](float* buffer, quint32 length, quint32 channels) { return dsp->soundCardPull(buffer, length, channels); });
    for (int rx = 0; rx < 2; ++rx) {
        m_bridge->vacs()->outputAt(rx)->setAudioSource([dsp, rx](float* buffer, quint32 length, quint32 channels) {
            return dsp->vacPull(rx, buffer, length, channels);
        });
    }
    for (int rx = 0; rx < 2; ++rx) {
        m_bridge->lineOuts()->outputAt(rx)->setAudioSource([dsp, rx](float* buffer, quint32 length, quint32 channels) {
            return dsp->lineOutPull(rx, buffer, length, channels);
        });
    }
}

void ZorvaniInterface::applyCwPitch(int hz)
{
    m_dsp->setCwPitch(0, double(hz));
    m_dsp->setCwPitch(1, double(hz));
}

void ZorvaniInterface::detachAudioSources()
{
    m_bridge->soundOut()->setAudioSource({});
    for (int rx = 0; rx < 2; ++rx)
        m_bridge->vacs()->outputAt(rx)->setAudioSource({});
    for (int rx = 0; rx < 2; ++rx)
        m_bridge->lineOuts()->outputAt(rx)->setAudioSource({});
}

void ZorvaniInterface::deinit()
{
    if (m_bridge)
        detachAudioSources();
    m_control.reset();
    m_dialog.reset();
    m_dsp.reset();
    m_options.reset();
    m_iqFiles.clear();
}

QString ZorvaniInterface::name() const
{
    return QStringLiteral("ZorvaniDDC");
}

void ZorvaniInterface::setManager(DeviceManagerAbstract* manager)
{
    if (manager == m_manager)
        return;
    m_manager = manager;
    if (!manager)
        return;

    CHECKED_CONNECT(manager, SIGNAL(sDeviceAvalible()), this, SLOT(isDeviceAvalible()));
    CHECKED_CONNECT(manager, SIGNAL(waterfallFilterChanged(bool)), m_dsp.get(), SLOT(setWaterfallFilter(bool)));
    CHECKED_CONNECT(m_dsp.get(), SIGNAL(wfmStereo(quint32, bool)), manager, SLOT(onWfmStereo(quint32, bool)));
    CHECKED_CONNECT(manager, SIGNAL(apfChanged(quint32, bool)), m_dsp.get(), SLOT(setApf(quint32, bool)));
    CHECKED_CONNECT(manager, SIGNAL(dseChanged(quint32, bool)), m_dsp.get(), SLOT(setDse(quint32, bool)));
    CHECKED_CONNECT(manager, SIGNAL(display4kModeChanged(bool)), this, SLOT(on4k(bool)));

    if (ManagerComponentAbstract* component = manager->component()) {
        component->setFirstOption(false);
        component->setSecondOption(false);
    }

    QTimer::singleShot(500, this, [this] {
        if (m_manager && m_options)
            m_manager->setDeviceMenu(m_options->deviceMenu());
    });

    CHECKED_CONNECT(manager, SIGNAL(hideSpectrumSlopesChanged(bool)), this, SLOT(onHideSpectrumSlopes(bool)));
    // Run the change path once with the manager's state, whatever the flag was.
    const bool hide = manager->hideSpectrumSlopes();
    m_hideSlopes = !hide;
    onHideSpectrumSlopes(hide);
}

void ZorvaniInterface::publishSampleRate(int index)
{
    if (index < 0 || index > 3)
        return;
    m_functions->setStreamRate(zorvani::kStreamRates[index]);
    const double* displayed = m_hideSlopes ? zorvani::kVisibleRates : zorvani::kStreamRates;
    m_functions->setDisplayedRate(displayed[index]);
    m_functions->setMinimumDisplayedRate(displayed[0]);
    emit changedSampleRate(displayed[index]);
}

void ZorvaniInterface::onHideSpectrumSlopes(bool hide)
{
    if (hide == m_hideSlopes)
        return;
    m_hideSlopes = hide;
    if (m_dsp)
        m_dsp->setHideSpectrumSlopes(hide);
    if (m_options)
        m_options->announceSampleRate();
}

void ZorvaniInterface::on4k(bool)
{
    if (!m_options)
        return;
    QList<QComboBox*> combos;
    for (const char* name : {"cbModeIP", "cbSampleRate", "cbNetworkMode", "cbDspMode"})
        if (auto* combo = m_options->findChild<QComboBox*>(QLatin1String(name)))
            combos << combo;
    if (QMenu* menu = m_options->deviceMenu())
        if (auto* combo = menu->findChild<QComboBox*>(QStringLiteral("cbSampleRate")))
            combos << combo;
    for (QComboBox* combo : combos) {
        for (int i = 0; i < combo->count(); ++i) {
            const QString text = combo->itemText(i);
            combo->setItemText(i, QStringLiteral("  "));
            combo->setItemText(i, text);
        }
    }
}

DeviceLimits ZorvaniInterface::limits() const
{
    return m_limits;
}

DeviceFunctionsAbstract* ZorvaniInterface::functions() const
{
    return m_functions.get();
}

void ZorvaniInterface::setHostObject(void* object)
{
    m_hostObject = object;
}

void ZorvaniInterface::retranslate() {}
