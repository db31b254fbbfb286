#pragma once

#include <QString>

#include <optional>

// The root calibration values in a ".cff" file: an INI file with the group
// "ZorvaniRoot" and the keys HfPreampM20, HfPreampM0 and Frequency.
namespace zorvani::cff {

struct RootValues {
    double preampM20 = 0.0; // dB, correction with the HF preamplifier at -20 dB
    double preampM0 = 0.0;  // dB, correction with the HF preamplifier at 0 dB
    double frequency = 0.0; // percent, root frequency correction
};

struct Range {
    double min;
    double max;
};

// What each value may be: the ranges of the controls that show them.
struct Limits {
    Range preampM20;
    Range preampM0;
    Range frequency;
};

// The values a file gives for keys that are missing, not numbers or out of range.
inline constexpr RootValues kFileDefaults{20.0, 0.0, 0.0};

// Reads the file; nothing when it cannot be read or is no INI file.
std::optional<RootValues> readRoot(const QString& path, const Limits& limits);
// Writes the three keys and syncs; false when the file could not be written.
bool writeRoot(const QString& path, const RootValues& values);

} // namespace zorvani::cff
