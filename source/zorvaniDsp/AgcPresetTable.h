#pragma once

#include "zorvaniDsp/AgcQueue.h"

#include <array>
#include <cstdint>

// The AGC presets of the host's list "Long", "Slow", "Med", "Fast", "User"
// and the one each receiver follows. GUI thread only.
//
// Units: times in ms, levels in dB. Presets 0..4, receivers 0..1; the host
// numbers its AGC choice 0 (off) and 1..5 (the presets).
class AgcPresetTable {
public:
    struct Preset {
        double level1 = 0.0;    // dB, kept with the preset only
        double attack = 1.0;    // ms
        double decay = 800.0;   // ms
        double level2 = -120.0; // dB, kept with the preset only
        uint32_t hang = 800;    // ms
    };
    static constexpr int kPresets = 5;
    static constexpr int kReceivers = 2;

    // Every preset at its default, every receiver on "Long".
    AgcPresetTable();

    // One field of a preset, e.g. set(4, &Preset::decay, 1200.0). False (and
    // nothing changed) for a preset out of range.
    template <typename T>
    bool set(int preset, T Preset::*field, T value)
    {
        if (!validPreset(preset))
            return false;
        m_presets[size_t(preset)].*field = value;
        return true;
    }
    // A copy of the preset; defaults for one out of range.
    Preset preset(int preset) const;

    // The host's choice for rx: 0 off, 1..5 a preset. False when rx or the
    // index is out of range or the choice is the one already made.
    bool select(int rx, int hostIndex);
    // 0 off, 1..5; 0 for rx out of range.
    int hostIndex(int rx) const;
    // True when rx follows `preset` (AGC on).
    bool follows(int rx, int preset) const;
    // What rx's AGC gets: its preset's times, enabled; off: the first
    // preset's times, disabled.
    AgcSettings settings(int rx) const;

private:
    static bool validPreset(int preset) { return preset >= 0 && preset < kPresets; }
    static bool validRx(int rx) { return rx >= 0 && rx < kReceivers; }

    std::array<Preset, kPresets> m_presets;
    std::array<int, kReceivers> m_selected{{0, 0}}; // preset index, -1 = AGC off
};
