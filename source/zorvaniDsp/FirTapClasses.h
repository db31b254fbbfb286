#pragma once

#include <array>
#include <cstdint>

// Band-pass tap counts by filter class: every mode belongs to one class (SSB,
// AM, DIG or CW) and takes that class's count; DSB keeps whatever it has.
// GUI thread only. Modes in the host's numbering 0..10.
class FirTapClasses {
public:
    enum Class { Ssb = 0, Am, Dig, Cw };
    static constexpr int kClasses = 4;
    static constexpr uint32_t kDefaultTaps = 1537;

    // The class of a mode; -1 for DSB and for numbers that are no mode.
    static int classOf(int mode);

    // taps: 1..FastFirZorvani::kMaxTaps. False (nothing changed) when the
    // class or the count is out of range.
    bool set(int firClass, uint32_t taps);
    // 0 for a class out of range.
    uint32_t taps(int firClass) const;
    // The count a receiver in `mode` takes; 0 when the mode keeps its own.
    uint32_t tapsFor(int mode) const;

private:
    std::array<uint32_t, kClasses> m_taps{{kDefaultTaps, kDefaultTaps, kDefaultTaps, kDefaultTaps}};
};
