#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/DspPanelZorvani.h"
#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"
#include "ZorvaniControl/InitFpga.h"
#include "ZorvaniControl/ReceiverChecks.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"
#include "common/DottedAddress.h"
#include "common/EventPause.h"
#include "common/FormControl.h"
#include "common/MessageBox.h"
#include "common/ZorvaniSR.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>

namespace {
// Delays of the start sequence's last steps, ms.
constexpr int kFrontEndDelayMs = 50;
constexpr int kBandScopeDelayMs = 100;
// Time the receiver needs to switch its reference, ms.
constexpr int kReferenceSettleMs = 300;
// From the decision to update to the firmware writer, ms.
constexpr int kFirmwareDelayMs = 500;
} // namespace

ZorvaniControl::ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                               std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog)
    : m_options(options), m_functions(std::move(functions)), m_dsp(std::move(dsp)), m_iqFiles(iqFiles),
      m_dialog(dialog)
{
    m_receiver.port = kDefaultPort;
    makeLink(iqFiles);

    m_region = std::make_unique<AmateurRegion>();
    m_extCtrl = std::make_unique<ExtCtrlZorvani>(m_options, m_region.get());
    connect(m_extCtrl.get(), &ExtCtrlZorvani::valueChanged, this, &ZorvaniControl::changedExtCtrl);
    connect(&m_frontEnd, &FrontEndControl::valueChanged, this, &ZorvaniControl::onFrontEnd);
    connect(&m_frontEnd, &FrontEndControl::preampCoeffChanged, this, &ZorvaniControl::onPreampCoeff);

    m_dspPanel = std::make_unique<DspPanelZorvani>(m_options, m_dsp.get());
    connect(m_dspPanel.get(), &DspPanelZorvani::digOffsetsChanged, this, &ZorvaniControl::sDigOffset);

    m_firmware = std::make_unique<ZorvaniFirmware>(m_driver.get());
    connect(m_firmware.get(), &ZorvaniFirmware::state, this, &ZorvaniControl::firmwareState, Qt::QueuedConnection);
    connect(m_firmware.get(), &ZorvaniFirmware::progress, this, &ZorvaniControl::firmwareProgress,
            Qt::QueuedConnection);
    m_calibrationDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (m_calibrationDir.isEmpty())
        m_calibrationDir = QDir::homePath();

    findControls();
    connectControls();
    connectButtons();
}

ZorvaniControl::~ZorvaniControl()
{
    // An update still running uses the link: it is abandoned first.
    m_firmware.reset();
    m_driver->close();
}

void ZorvaniControl::findControls()
{
    using ox::ui::requireChild;
    Controls& c = m_controls;
    c.modeIp = requireChild<QComboBox>(m_options, "cbModeIP");
    c.address = requireChild<QLineEdit>(m_options, "leIP");
    c.port = requireChild<QSpinBox>(m_options, "sbPort");
    c.sampleRate = requireChild<QComboBox>(m_options, "cbSampleRate");
    c.lpf = requireChild<QCheckBox>(m_options, "chbLpf");
    c.bpf = requireChild<QCheckBox>(m_options, "chbBpf");
    c.att = requireChild<QCheckBox>(m_options, "chbFeAtt");
    c.preamp = requireChild<QCheckBox>(m_options, "chbFePreamp");
    c.disableAudio = requireChild<QCheckBox>(m_options, "chbDisableAudio");
    c.pll = requireChild<QCheckBox>(m_options, "chbPll");
    c.staticAddress = requireChild<QLineEdit>(m_options, "leStaticIP");
    c.newPort = requireChild<QSpinBox>(m_options, "sbWrPort");
    c.networkMode = requireChild<QComboBox>(m_options, "cbNetworkMode");
    c.preampM0 = requireChild<QDoubleSpinBox>(m_options, "dsbHfPreampM0");
    c.preampM20 = requireChild<QDoubleSpinBox>(m_options, "dsbHfPreampM20");
    c.rootFrequency = requireChild<QDoubleSpinBox>(m_options, "dsbAdminFreqCorrect");
    c.userFrequency = requireChild<QDoubleSpinBox>(m_options, "dsbFreqCoeffUser");
}

void ZorvaniControl::connectControls()
{
    const Controls& c = m_controls;
    m_frontEnd.setBpf(c.bpf->isChecked());
    m_frontEnd.setAtt(c.att->isChecked());
    m_frontEnd.setPreamp(c.preamp->isChecked());
    connect(c.bpf, &QCheckBox::toggled, this, &ZorvaniControl::onBpf);
    connect(c.att, &QCheckBox::toggled, &m_frontEnd, &FrontEndControl::setAtt);
    connect(c.preamp, &QCheckBox::toggled, &m_frontEnd, &FrontEndControl::setPreamp);
    m_lpf = c.lpf->isChecked();
    connect(c.lpf, &QCheckBox::toggled, this, &ZorvaniControl::changedLpf);
    connect(c.pll, &QCheckBox::toggled, this, &ZorvaniControl::changedPll);
    changedDisableAudio(c.disableAudio->isChecked());
    connect(c.disableAudio, &QCheckBox::toggled, this, &ZorvaniControl::changedDisableAudio);
    for (QDoubleSpinBox* calibration : {c.preampM0, c.preampM20})
        connect(calibration, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                &ZorvaniControl::rootPreampChanged);
    connect(c.sampleRate, qOverload<int>(&QComboBox::currentIndexChanged), this, &ZorvaniControl::changedSampleRate);
    applySampleRate(c.sampleRate->currentIndex());
}

void ZorvaniControl::connectButtons()
{
    const struct {
        const char* name;
        void (ZorvaniControl::*action)();
    } buttons[] = {
        {"pbSetIpAddress", &ZorvaniControl::setIpAddress},
        {"pbNetworkModeSet", &ZorvaniControl::writeNetworkMode},
        {"pbNetworkReset", &ZorvaniControl::resetZorvani},
        {"pbUserCoeffRead", &ZorvaniControl::readUserCoeff},
        {"pbUserCoeffWrite", &ZorvaniControl::writeUserCoeff},
        {"pbUserCoeffDefault", &ZorvaniControl::defaultUserCoeff},
        {"pbCoeRootRead", &ZorvaniControl::readAdminCoeff},
        {"pbCoeRootWrite", &ZorvaniControl::writeAdminCoeff},
        {"pbCoeRootDefault", &ZorvaniControl::defaultAdminCoeff},
        {"pbSaveAdmin", &ZorvaniControl::writeAdminCoeffToFile},
        {"pbLoadAdmin", &ZorvaniControl::readAdminCoeffFromFile},
        {"pbUpdate", &ZorvaniControl::firmware},
        {"pbUpdateFpga", &ZorvaniControl::updateFpga},
    };
    for (const auto& button : buttons)
        connect(ox::ui::requireChild<QPushButton>(m_options, button.name), &QPushButton::clicked, this,
                button.action);
}

// ---- start sequence ----

bool ZorvaniControl::startSequence()
{
    if (!isOpen() || firmwareUpdating())
        return false;
    if (m_receiver.bootloader) {
        // The bootloader cannot answer a Start: offer the update instead.
        emit forceStop();
        if (zorvani::checks::askUpdateFromBootloader())
            QTimer::singleShot(kFirmwareDelayMs, this, &ZorvaniControl::writeFirmware);
        return false;
    }
    SDR2_HDR info{};
    if (!readInformation(&info)) {
        emit forceStop();
        ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Velmora2"),
                            QStringLiteral("Can't get information because not found ZorvaniDDC."));
        return false;
    }
    if (!acceptFirmware(info))
        return false;
    warnAboutReference(info);
    readStoredCalibration();
    onPreampCoeff(0.0);
    if (!startStream())
        return false;

    changedExtCtrl(m_extCtrl->currentValue());
    onBpf(m_controls.bpf->isChecked());
    m_frontEnd.setPreamp(m_controls.preamp->isChecked());
    m_frontEnd.setAtt(m_controls.att->isChecked());
    QTimer::singleShot(kFrontEndDelayMs, &m_frontEnd, &FrontEndControl::emitState);
    QTimer::singleShot(kBandScopeDelayMs, this, &ZorvaniControl::onSetBs);
    return true;
}

bool ZorvaniControl::acceptFirmware(const SDR2_HDR& info)
{
    if (zorvani::checks::isCurrentFirmware(info))
        return true;
    ox::ui::MessageRequest ask;
    ask.icon = QMessageBox::Information;
    ask.title = QStringLiteral("Information");
    ask.text = QStringLiteral("You need update the ZorvaniDDC firmware.");
    ask.informativeText = zorvani::checks::firmwareVersionNote(info);
    ask.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Ignore;
    ask.defaultButton = QMessageBox::Yes;
    const auto answer = ox::ui::showMessage(ask);
    if (answer == QMessageBox::Ignore)
        return true;
    emit forceStop();
    if (answer == QMessageBox::Yes)
        QTimer::singleShot(kFirmwareDelayMs, this, &ZorvaniControl::writeFirmware);
    return false;
}

void ZorvaniControl::warnAboutReference(const SDR2_HDR& info)
{
    const QString problem = zorvani::checks::referenceProblem(info, m_controls.pll->isChecked());
    if (!problem.isEmpty())
        ox::ui::showMessage(QMessageBox::Warning, QStringLiteral("Velmora2"), problem);
}

void ZorvaniControl::readStoredCalibration()
{
    // An erased or unreadable block leaves the controls as they are.
    RootCoefficient root;
    bool crcOk = false;
    if (m_driver->readRootCalibrations(&root, &crcOk) && crcOk && std::isfinite(root.coefficients[0]) &&
        std::isfinite(root.coefficients[1]) && std::isfinite(root.percent)) {
        m_controls.preampM20->setValue(root.coefficients[0]);
        m_controls.preampM0->setValue(root.coefficients[1]);
        m_controls.rootFrequency->setValue(root.percent);
    }
    UserCoefficient user;
    crcOk = false;
    if (m_driver->readUserCalibrations(&user, &crcOk) && crcOk && std::isfinite(user.percent))
        m_controls.userFrequency->setValue(user.percent);
}

bool ZorvaniControl::startStream()
{
    m_lpf = m_controls.lpf->isChecked();
    m_driver->setPreamp(m_preamp);
    m_driver->setLpf(m_lpf);
    m_driver->setPll(m_controls.pll->isChecked());
    if (m_driver->Start())
        return true;
    // A refusal asking for new firmware has been handled by the driver: it
    // offered the update and emitted forceStop().
    const quint32 status = m_driver->lastStartStatus();
    if (status == 2)
        return false;
    emit forceStop();
    if (status == ZorvaniDriver::kNoStartReply)
        ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Velmora2"),
                            QStringLiteral("ZorvaniDDC did not answer the start command.\n"
                                           "Check that it is switched on and reachable, then start again."));
    else
        ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Velmora2"),
                            QStringLiteral("ZorvaniDDC refused the start command (status %1).").arg(status));
    return false;
}

// ---- host verbs ----

void ZorvaniControl::tune(int rx, double hz)
{
    m_driver->setFreq(rx, hz);
    if (rx != 0)
        return;
    m_frequency = hz;
    updateBands();
}

void ZorvaniControl::setBandOffset(double hz)
{
    m_bandOffset = hz;
    updateBands();
}

void ZorvaniControl::updateBands()
{
    m_extCtrl->setOffset(m_bandOffset);
    m_extCtrl->setFrequency(m_frequency);
    // The front end re-emits its word only when the band changes.
    m_frontEnd.setBand(FrontEndControl::bandForFrequency(qint64(m_frequency) + qint64(m_bandOffset)));
}

bool ZorvaniControl::setPreamp(int index)
{
    if (index == m_preamp)
        return false;
    m_driver->setPreamp(index);
    m_preamp = index;
    onPreampCoeff(0.0);
    return true;
}

void ZorvaniControl::setReceiverCount(int count)
{
    m_driver->setReceivers(count);
}

void ZorvaniControl::setBandScope(bool on, quint64 centreHz, uint decimation)
{
    m_bandScopeOn = on;
    m_bandScopeCentre = centreHz;
    m_bandScopeDecimation = decimation;
    onSetBs();
}

void ZorvaniControl::announceSettings()
{
    const int index = m_controls.sampleRate->currentIndex();
    if (index >= 0 && index < 4)
        emit currentSampleRate(zorvani::kStreamRates[index]);
    m_dspPanel->announceDigOffsets();
}

double ZorvaniControl::levelCorrection() const
{
    const QDoubleSpinBox* calibration = m_preamp != 0 ? m_controls.preampM0 : m_controls.preampM20;
    return m_frontEnd.levelCorrection() + calibration->value();
}

// ---- slots of the device column ----

void ZorvaniControl::onPreampCoeff(double)
{
    m_driver->setPreampCoeff(levelCorrection());
}

void ZorvaniControl::rootPreampChanged(double)
{
    const QObject* selected = m_preamp != 0 ? m_controls.preampM0 : m_controls.preampM20;
    if (sender() == selected)
        onPreampCoeff(0.0);
}

void ZorvaniControl::onSetBs()
{
    m_driver->setBandScope(m_bandScopeOn, m_bandScopeCentre, int(m_bandScopeDecimation));
    m_dsp->setBandScopeActive(m_bandScopeOn && m_dsp->isRunning());
}

void ZorvaniControl::changedLpf(bool on)
{
    if (!isOpen() || on == m_lpf)
        return;
    m_lpf = on;
    m_driver->setLpf(on);
}

void ZorvaniControl::changedSampleRate(int index)
{
    if (index < 0 || index > 3)
        return;
    if (isStreaming()) {
        m_driver->Stop();
        applySampleRate(index);
        startSequence();
    } else {
        applySampleRate(index);
    }
    emit currentSampleRate(zorvani::kStreamRates[index]);
}

void ZorvaniControl::applySampleRate(int index)
{
    if (index < 0 || index > 3)
        return;
    const double rate = zorvani::kStreamRates[index];
    m_driver->setSampleRateId(index);
    m_dsp->setSampleRate(rate);
    for (IqFileSlot& slot : *m_iqFiles)
        slot->setSampleRate(rate);
}

void ZorvaniControl::changedPll(bool on)
{
    if (!isStreaming()) {
        m_driver->setPll(on);
        return;
    }
    m_driver->Stop();
    ox::ui::pauseProcessingEvents(kReferenceSettleMs);
    m_driver->setPll(on);
    startSequence();
}

void ZorvaniControl::onBpf(bool on)
{
    m_frontEnd.setBpf(on);
}

void ZorvaniControl::onFrontEnd(ushort word)
{
    m_driver->setFrontEnd(word);
}

void ZorvaniControl::changedExtCtrl(uint value)
{
    m_driver->setExtCtrl(int(value));
}

void ZorvaniControl::changedDisableAudio(bool on)
{
    m_driver->setMute(on);
}
