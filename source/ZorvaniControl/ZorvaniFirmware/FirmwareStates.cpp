#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"

namespace zorvani::firmware {

QString stateText(int state)
{
    switch (state) {
    case Connecting:
    case EnteringBootloader:
    case Erasing:
        return QStringLiteral("Connection");
    case Writing:
        return QStringLiteral("Executing step 1");
    case Verifying:
        return QStringLiteral("Executing step 2");
    case Resetting:
        return QStringLiteral("Reset");
    case PortError:
        return QStringLiteral("Can not open UDP port.");
    case NoBootloader:
        return QStringLiteral("Can not go into bootloader mode.");
    case Finished:
        return QStringLiteral("Firmware updated.");
    case UpToDate:
        return QStringLiteral("Firmware is up to date.");
    default:
        return isError(state) ? QStringLiteral("Can not firmware update for ZorvaniDDC.") : QString();
    }
}

} // namespace zorvani::firmware
