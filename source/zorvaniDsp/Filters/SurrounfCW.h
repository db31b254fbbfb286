#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <array>

// Binaural CW: the audio below the CW pitch goes to one ear and the audio
// between the pitch and twice the pitch to the other, so that stations on
// either side of the pitch appear on different sides.
class SurrounfCW {
public:
    static constexpr int kWork = 4096; // samples filtered per pass

    SurrounfCW();

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // Audio rate in Hz (> 0); redesigns both halves and clears their overlap.
    void setSampleRate(double fs);
    // CW pitch in Hz (> 0, below fs / 4); redesigns both halves.
    void setPitch(double hz);
    // Taps of each half, 1 .. FastFirZorvani::kMaxTaps; redesigns both halves.
    void setTaps(int taps);
    // Without swap the upper half goes left and the lower half right.
    void setSwap(bool on) { m_swap = on; }
    bool swap() const { return m_swap; }
    double sampleRate() const { return m_fs; }
    double pitch() const { return m_pitch; }
    int taps() const { return m_taps; }

    // In place: re = left, im = right. Disabled: unchanged. False (block
    // unchanged, warning) for a null block or count < 1.
    bool process(Ostrovix::complex<double>* x, int count);
    // Clears both overlaps; keeps the design.
    void reset();

private:
    void design();

    bool m_enabled = false;
    double m_fs = 39062.5;
    double m_pitch = 700.0;
    int m_taps = 140;
    bool m_swap = false;
    FastFirZorvani m_lower;
    FastFirZorvani m_upper;
    std::array<Ostrovix::complex<double>, kWork> m_lowerWork{};
    std::array<Ostrovix::complex<double>, kWork> m_upperWork{};
};
