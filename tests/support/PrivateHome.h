#pragma once

#include <QStandardPaths>
#include <QTemporaryDir>

namespace support {

// Points HOME at `home` and Qt's standard paths at their test places, so the
// plug-in's settings, band plan and calibration files stay out of the user's.
inline bool isolateHome(QTemporaryDir& home)
{
    if (!home.isValid())
        return false;
    qputenv("HOME", home.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
    return true;
}

} // namespace support
