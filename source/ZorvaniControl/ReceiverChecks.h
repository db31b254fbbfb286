#pragma once

#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"

#include <QString>

// What the start sequence checks in the receiver's information record, and
// the question for a receiver that can only take new firmware.
namespace zorvani::checks {

// The firmware version this plug-in works with.
inline constexpr quint16 kFirmwareMajor = 11;
inline constexpr quint16 kFirmwareMinor = 3;

bool isCurrentFirmware(const SDR2_HDR& info);
// "The receiver reports version a.b; ..." for the update question.
QString firmwareVersionNote(const SDR2_HDR& info);

// Why the receiver's frequency reference cannot be trusted, or empty: a PLL
// that is not locked, or an external reference chosen that the receiver does
// not see.
QString referenceProblem(const SDR2_HDR& info, bool externalChosen);

// Asks whether to update a receiver found in its bootloader; true for Yes.
bool askUpdateFromBootloader();

} // namespace zorvani::checks
