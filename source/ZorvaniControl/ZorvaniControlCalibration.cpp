// The controller's calibration actions: read, write and default for the
// receiver's user and root blocks, and the root values to and from a
// ".cff" file. Boxes are titled with the application's name.
#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/CalibrationFile.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/FileDialog.h"
#include "common/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>

#include <cmath>

namespace {
constexpr double kUserDefault = 0.0;
constexpr double kRootPreampM20Default = 27.6;
constexpr double kRootPreampM0Default = 9.9;
const QString kFileFilter = QStringLiteral("Calibrations (*.cff)");

QString title()
{
    return QCoreApplication::applicationName();
}

void critical(const QString& text)
{
    ox::ui::showMessage(QMessageBox::Critical, title(), text);
}

void noAnswer()
{
    critical(QStringLiteral("Failed to get answer from ZorvaniDDC!"));
}

// A block without a valid CRC: whether to write the defaults (Yes is the default).
bool askForDefaults(const QString& text)
{
    return ox::ui::showMessage(QMessageBox::Critical, title(), text, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}

bool confirmDefaults()
{
    return ox::ui::showMessage(QMessageBox::Warning, title(),
                               QStringLiteral("You really want to write the default calibration?"),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}
} // namespace

bool ZorvaniControl::openForCalibration(bool* opened)
{
    if (!isOpen() && !staticAddressMode() && m_receiver.serial.isEmpty())
        emit beginFind();
    return openForAction(opened, title());
}

void ZorvaniControl::readUserCoeff()
{
    bool opened = false;
    if (!openForCalibration(&opened))
        return;
    UserCoefficient user;
    bool crcOk = false;
    if (!m_driver->readUserCalibrations(&user, &crcOk))
        noAnswer();
    else if (crcOk && std::isfinite(user.percent))
        m_controls.userFrequency->setValue(user.percent);
    else if (askForDefaults(QStringLiteral("ZorvaniDDC don't have calibrations!\n"
                                           "Do you want write default calibration coefficients?")))
        defaultUserCoeff();
    closeAfterAction(opened);
}

void ZorvaniControl::readAdminCoeff()
{
    bool opened = false;
    if (!openForCalibration(&opened))
        return;
    RootCoefficient root;
    bool crcOk = false;
    if (!m_driver->readRootCalibrations(&root, &crcOk)) {
        noAnswer();
    } else if (crcOk && std::isfinite(root.coefficients[0]) && std::isfinite(root.coefficients[1]) &&
               std::isfinite(root.percent)) {
        m_controls.preampM20->setValue(root.coefficients[0]);
        m_controls.preampM0->setValue(root.coefficients[1]);
        m_controls.rootFrequency->setValue(root.percent);
    } else if (askForDefaults(QStringLiteral("ZorvaniDDC don't have root calibrations!\n"
                                             "Do you want write default calibration coefficients?"))) {
        defaultAdminCoeff();
    }
    closeAfterAction(opened);
}

void ZorvaniControl::writeUserCoeff()
{
    writeUserBlock();
}

void ZorvaniControl::writeAdminCoeff()
{
    writeRootBlock();
}

bool ZorvaniControl::writeUserBlock()
{
    UserCoefficient user;
    user.percent = m_controls.userFrequency->value();
    return writeBlock([&](bool* accepted) { return m_driver->wrireUserCalibrations(&user, accepted); });
}

bool ZorvaniControl::writeRootBlock()
{
    RootCoefficient root;
    root.coefficients[0] = m_controls.preampM20->value();
    root.coefficients[1] = m_controls.preampM0->value();
    root.percent = m_controls.rootFrequency->value();
    return writeBlock([&](bool* accepted) { return m_driver->wrireRootCalibrations(&root, accepted); });
}

bool ZorvaniControl::writeBlock(const std::function<bool(bool* accepted)>& write)
{
    bool opened = false;
    if (!openForCalibration(&opened))
        return false;
    // Stays true when no answer came: the driver sets it from an answer only.
    bool accepted = true;
    const bool written = write(&accepted);
    if (!written) {
        if (accepted)
            noAnswer();
        else
            critical(QStringLiteral("Failed to write calibrations!"));
    } else if (isStreaming()) {
        // The start sequence reads both blocks again and applies them.
        stopStream();
        startSequence();
    }
    closeAfterAction(opened);
    return written;
}

void ZorvaniControl::defaultUserCoeff()
{
    if (!confirmDefaults())
        return;
    QDoubleSpinBox* user = m_controls.userFrequency;
    const double before = user->value();
    user->setValue(kUserDefault);
    // A failed write leaves the control as it was.
    if (!writeUserBlock())
        user->setValue(before);
}

void ZorvaniControl::defaultAdminCoeff()
{
    if (!confirmDefaults())
        return;
    // The root frequency correction is kept: only the level corrections
    // have factory defaults.
    const double beforeM20 = m_controls.preampM20->value();
    const double beforeM0 = m_controls.preampM0->value();
    m_controls.preampM20->setValue(kRootPreampM20Default);
    m_controls.preampM0->setValue(kRootPreampM0Default);
    if (!writeRootBlock()) {
        m_controls.preampM20->setValue(beforeM20);
        m_controls.preampM0->setValue(beforeM0);
    }
}

QString ZorvaniControl::serialForFileName()
{
    const bool wasOpen = isOpen();
    if (!wasOpen) {
        if (firmwareUpdating())
            return {};
        if (staticAddressMode())
            m_receiver = typedReceiver();
        if (!m_driver->open(m_receiver))
            return {};
    }
    SDR2_HDR info{};
    const QString serial = readInformation(&info) ? informationSerial(info) : QString();
    if (!wasOpen)
        m_driver->close();
    return serial;
}

void ZorvaniControl::writeAdminCoeffToFile()
{
    ox::ui::FileRequest request;
    request.kind = ox::ui::FileRequest::SaveFile;
    request.title = QStringLiteral("Save File");
    request.directory = m_calibrationDir + QStringLiteral("/Zorvani_") + serialForFileName() + QStringLiteral(".cff");
    request.filter = kFileFilter;
    const QString path = ox::ui::chooseFile(request);
    if (path.isEmpty())
        return;
    m_calibrationDir = QFileInfo(path).absolutePath();
    const zorvani::cff::RootValues values{m_controls.preampM20->value(), m_controls.preampM0->value(),
                                          m_controls.rootFrequency->value()};
    if (!zorvani::cff::writeRoot(path, values))
        critical(QStringLiteral("Failed to write the calibration file %1!").arg(QDir::toNativeSeparators(path)));
}

void ZorvaniControl::readAdminCoeffFromFile()
{
    ox::ui::FileRequest request;
    request.kind = ox::ui::FileRequest::OpenFile;
    request.title = QStringLiteral("Open File");
    request.directory = m_calibrationDir;
    request.filter = kFileFilter;
    const QString path = ox::ui::chooseFile(request);
    if (path.isEmpty())
        return;
    m_calibrationDir = QFileInfo(path).absolutePath();
    const auto range = [](const QDoubleSpinBox* c) { return zorvani::cff::Range{c->minimum(), c->maximum()}; };
    const zorvani::cff::Limits limits{range(m_controls.preampM20), range(m_controls.preampM0),
                                      range(m_controls.rootFrequency)};
    const auto values = zorvani::cff::readRoot(path, limits);
    if (!values) {
        critical(QStringLiteral("Failed to read the calibration file %1!").arg(QDir::toNativeSeparators(path)));
        return;
    }
    // Shown only: the receiver gets them when the user presses Write.
    m_controls.preampM20->setValue(values->preampM20);
    m_controls.preampM0->setValue(values->preampM0);
    m_controls.rootFrequency->setValue(values->frequency);
}
