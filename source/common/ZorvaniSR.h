#pragma once

#include <QMetaType>

// Sample-rate index of the stream: 0..3 for 39062.5, 78125, 156250 and 312500 Hz.
enum ZorvaniSR : int { SR39k = 0, SR78k = 1, SR156k = 2, SR312k = 3 };
Q_DECLARE_METATYPE(ZorvaniSR)

namespace zorvani {
// Stream rates by index, Hz.
inline constexpr double kStreamRates[4] = {39062.5, 78125.0, 156250.0, 312500.0};
// What the panorama shows of each rate when the filter slopes are hidden (0.9216 of it).
inline constexpr double kVisibleRates[4] = {36000.0, 72000.0, 144000.0, 288000.0};
// The rate every receiver channel works at after decimation, Hz.
inline constexpr double kWorkingRate = 39062.5;
} // namespace zorvani
