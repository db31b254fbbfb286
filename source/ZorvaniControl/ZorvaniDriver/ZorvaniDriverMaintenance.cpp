// The driver's maintenance slots: FPGA loading and the calibration blocks.
#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/MessageBox.h"

using namespace zorvani::packet;

bool ZorvaniDriver::fastLoadFpga()
{
    emit fpgaLoading(true);
    const auto result = m_maintenance.loadFpga(m_fpgaPath);
    emit fpgaLoading(false);
    if (result != MaintenanceCommands::FpgaLoad::Failed)
        return result == MaintenanceCommands::FpgaLoad::Loaded;
    emit endInitFirmware();
    ox::ui::MessageRequest box;
    box.icon = QMessageBox::Critical;
    box.title = QStringLiteral("Velmora2");
    box.text = QStringLiteral("Initialization failure");
    box.buttons = QMessageBox::Ok;
    ox::ui::showMessage(box);
    return false;
}

bool ZorvaniDriver::readRootCalibrations(RootCoefficient* coeff, bool* crcOk)
{
    return m_maintenance.readCalibration(CmdReadRoot, coeff ? coeff->coefficients : nullptr,
                                         coeff ? &coeff->percent : nullptr, crcOk);
}

bool ZorvaniDriver::wrireRootCalibrations(RootCoefficient* coeff, bool* crcOk)
{
    return coeff && m_maintenance.writeCalibration(CmdWriteRoot, coeff->coefficients, coeff->percent, crcOk);
}

bool ZorvaniDriver::readUserCalibrations(UserCoefficient* coeff, bool* crcOk)
{
    return m_maintenance.readCalibration(CmdReadUser, nullptr, coeff ? &coeff->percent : nullptr, crcOk);
}

bool ZorvaniDriver::wrireUserCalibrations(UserCoefficient* coeff, bool* crcOk)
{
    return coeff && m_maintenance.writeCalibration(CmdWriteUser, nullptr, coeff->percent, crcOk);
}
