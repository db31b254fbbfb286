#pragma once

#include "OstrovixComplex.h"

#include <cstdint>
#include <vector>

// Peak-tracking look-ahead AGC. The output is the input delayed by
// L = round(0.03 × fs × attack ms) samples, multiplied by a gain g that falls
// at the attack rate when the peak ahead rises and, after a hang, rises at the
// decay rate when it falls. The peak ahead is the largest max(|re|, |im|)
// over the line and the newest sample, taken per sample so that the output
// does not depend on how the stream is cut into blocks. With AGC off a fixed
// gain is applied, smoothed over 50 ms, without delay.
class AgcZorvani {
public:
    static constexpr double kMinAttackMs = 0.1, kMaxAttackMs = 5.0;
    static constexpr double kMinDecayMs = 1.0, kMaxDecayMs = 3000.0;
    static constexpr uint32_t kMinHangMs = 1, kMaxHangMs = 3000;

    AgcZorvani();

    // fs: sample rate in Hz, > 0 (default 48000). Recomputes the coefficients
    // and rebuilds the delay line. Other values are ignored with a warning.
    void setSampleRate(double fs);
    // attack 0.1 .. 5 ms, decay 1 .. 3000 ms, hang 1 .. 3000 ms (clamped).
    // Recomputes the coefficients, clears the delay line and the hang counter.
    void setParameters(double attackMs, double decayMs, uint32_t hangMs, bool enabled);
    // Levels in dB; stored with their linear values 10^(dB/20).
    void setMaxGain(double dB);
    void setMinGain(double dB);
    // RF gain control: fixed gain = dB limited to [-60, 120]; maximum gain =
    // 120 above 120, otherwise max(minimum gain + 1, dB).
    void setRfGain(int dB);

    bool isEnabled() const { return m_enabled; }
    double gain() const { return m_gain; }  // current g, linear
    double fixedGain() const { return m_fixedGain; }  // smoothed fixed gain, linear
    double maxGainDb() const { return m_maxDb; }
    double minGainDb() const { return m_minDb; }
    double fixedGainDb() const { return m_fixedDb; }
    double sampleRate() const { return m_fs; }
    int delayLength() const { return m_length; }  // L, samples
    uint32_t hangLimit() const;                   // H, samples

    bool process(Ostrovix::complex<double>* x, int count);
    // Clears the delay line and the hang counter; g and the settings are kept.
    void reset();

private:
    void updateCoefficients();
    double peakAhead(double m);

    bool m_enabled = true;
    double m_fs = 48000.0;
    double m_attackMs = 1.0;
    double m_decayMs = 400.0;
    uint32_t m_hangMs = 400;
    double m_hangSeconds = 0.4;
    double m_maxDb = 0.0, m_maxLin = 1.0;
    double m_minDb = -20.0, m_minLin = 0.1;
    double m_fixedDb = 0.0, m_fixedLin = 1.0;
    double m_refLin = 1.0;  // reference level 0 dB
    double m_e0 = 0.0, m_ea = 0.0, m_ed = 0.0;

    // Delay line: capacity for the longest attack at fs, L in use.
    std::vector<Ostrovix::complex<double>> m_line;
    int m_length = 1;
    int m_write = 0;

    // Running maximum of max(|re|, |im|) over the samples in the line plus the
    // newest one: a monotonic queue of (sample number, value), newest at back.
    std::vector<uint64_t> m_peakIndex;
    std::vector<double> m_peakValue;
    uint64_t m_sampleNumber = 0;
    uint32_t m_peakHead = 0, m_peakCount = 0, m_peakMask = 0;

    uint32_t m_hang = 0;
    double m_gain = 1.0;
    double m_fixedGain = 1.0;
};
