// The controller's maintenance actions: FPGA loading and the firmware update.
#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"

#include <QTimer>

namespace {
// From the firmware action to the firmware writer, ms.
constexpr int kFirmwareActionDelayMs = 500;
constexpr int kFirmwareLaterDelayMs = 200;
} // namespace

void ZorvaniControl::updateFpga()
{
    // Loading the FPGA ends whatever the receiver was streaming.
    if (isStreaming())
        emit forceStop();
    bool opened = false;
    if (!openForAction(&opened))
        return;
    m_driver->fastLoadFpga();
    closeAfterAction(opened);
}

void ZorvaniControl::firmware()
{
    if (!staticAddressMode() && m_receiver.serial.isEmpty())
        emit beginFind();
    if (isStreaming())
        emit forceStop();
    QTimer::singleShot(kFirmwareActionDelayMs, this, &ZorvaniControl::writeFirmware);
}

void ZorvaniControl::firmware2()
{
    QTimer::singleShot(kFirmwareLaterDelayMs, this, &ZorvaniControl::writeFirmware);
}

void ZorvaniControl::writeFirmware()
{
    if (firmwareUpdating())
        return;
    if (isStreaming())
        emit forceStop();
    bool opened = false;
    if (!openForAction(&opened))
        return;
    // In "Static IP" mode the bootloader search asks the receiver's address
    // only: broadcasting is "Auto" mode's way of finding it.
    if (staticAddressMode()) {
        const QHostAddress address = m_driver->currentReceiver().address;
        m_firmware->setSearchTargets([address] { return QList<QHostAddress>{address}; });
    } else {
        m_firmware->setSearchTargets({});
    }
    // The update owns the link from here on and closes it when it is done.
    m_firmware->upgrade();
}
