#pragma once

#include "recording/IQFile.h"

#include <QDateTime>
#include <QString>

#include <functional>

class IQRecorderConfigAbstract;
class QWidget;

namespace ox::file {

// "<folder>/<app>_ZorvaniDDC_yyyyMMdd_hh-mm-ss_<suffix>.wav" with the suffix
// "hd" (format 2), "wv" (format 1) or none (format 0).
QString iqFileName(const QString& folder, const QString& applicationName, IQFile::Format format,
                   const QDateTime& localTime);

// The host's format value clamped to 0..2.
IQFile::Format clampedFormat(int value);

// Starts recording into a new file named after the current time in the
// configured folder and format. On failure calls `failed` (the plug-in emits
// sWriteIQ(false, rx) there), then shows the warning box "Failed to open IQ
// file for write!" titled with the application's name, and returns false. The
// box comes after the slot is released, so the packet thread never waits on it.
bool startRecording(IqFileSlot& slot, const IQRecorderConfigAbstract& config, const QString& applicationName,
                    QWidget* parent, const std::function<void()>& failed = {});

// Stops the slot's recording, if any, and waits until the file is final.
void stopRecording(IqFileSlot& slot);

// The warning box for a recording that its writer had to end (IQFile::failed):
// which file, why, and that it keeps what was recorded. Titled with the
// application's name, like the box of a recording that cannot start.
void showWriteFailure(const QString& path, const QString& reason, const QString& applicationName, QWidget* parent);

} // namespace ox::file
