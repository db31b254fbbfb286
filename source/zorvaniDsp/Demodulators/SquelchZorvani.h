#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/Demodulators/CtcssDetector.h"
#include "zorvaniDsp/Filters/IirLowpassZorvani.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <array>

// Squelch of the modes with AGC: mutes a block when enabled and the level is
// above the channel's meter reading + 3 dB.
class CarrierSquelch {
public:
    static constexpr double kHysteresisDb = 3.0;

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // Level in dB (same scale as the meter).
    void setLevel(double dB) { m_level = dB; }
    double level() const { return m_level; }

    // Zeroes the block when muted. False (block unchanged) for a null block or
    // count < 1. isOpen() tells the result of the last block.
    bool process(Ostrovix::complex<double>* x, int count, double meterLevelDb);
    bool isOpen() const { return m_open; }

private:
    bool m_enabled = false;
    double m_level = 0.01;
    bool m_open = true;
};

// Squelch of NFM. When enabled, a level above the meter's slow level + 3 dB
// mutes. With CTCSS on, the block also passes only while the selected
// sub-audible tone is detected (CtcssDetector). The 350 Hz low-pass and the
// tone band-pass work on a copy for the detector; the audio itself is only
// gated, never filtered.
class FmSquelch {
public:
    static constexpr double kHysteresisDb = 3.0;
    static constexpr int kCopySize = 4096;      // samples examined per pass
    static constexpr uint32_t kToneTaps = 500;
    static constexpr double kToneHalfWidth = 2.0; // Hz around the tone
    static constexpr double kPreFilterHz = 350.0;
    static constexpr int kPreFilterOrder = 4;

    // fs: audio rate in Hz (the working rate 39062.5).
    explicit FmSquelch(double fs = 39062.5);

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    void setLevel(double dB) { m_level = dB; }
    double level() const { return m_level; }
    void setCtcssEnabled(bool on);
    bool isCtcssEnabled() const { return m_ctcss; }
    // Tone index 0..41 (kCtcssTones); others are ignored. Redesigns the
    // detector's band-pass around the new tone.
    void setTone(int index);
    int tone() const { return m_detector.tone(); }
    bool tonePresent() const { return m_detector.tonePresent(); }

    // In place. False (block unchanged) for a null block or count < 1.
    // isOpen() tells the result of the last block.
    bool process(Ostrovix::complex<double>* x, int count, double slowMeterLevelDb);
    bool isOpen() const { return m_open; }
    void reset();

private:
    void examine(const Ostrovix::complex<double>* x, int count);

    double m_fs;
    bool m_enabled = false;
    bool m_ctcss = false;
    double m_level = 0.01;
    bool m_open = true;
    IirLowpassZorvani m_preFilter;
    FastFirZorvani m_toneFilter;
    CtcssDetector m_detector;
    std::array<Ostrovix::complex<double>, kCopySize> m_copy{};
};
