#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

// Synchronous AM detector: a second-order loop locks a local oscillator to the
// carrier; the in-phase part of the mixed signal is the audio (mono), then a
// 250-tap low-pass.
class SamDemodZorvani {
public:
    static constexpr uint32_t kTaps = 250;
    static constexpr double kAlpha = 0.004825486315913922;
    static constexpr double kBeta = 5.821329546268129e-6;
    static constexpr double kNuLimit = 1000.0;

    SamDemodZorvani();

    // Working rate in Hz (> 0), kept for the low-pass design; default 39062.5.
    void setSampleRate(double fs);
    double sampleRate() const { return m_fs; }
    // Low-pass from 0 to highRel (Hz / working rate, 0 < highRel <= 0.5).
    bool setBandwidth(double highRel);

    // In place. False (block unchanged) for a null block or count < 1.
    bool process(Ostrovix::complex<double>* x, int count);
    // Clears the loop and the low-pass overlap.
    void reset();

    double frequency() const { return m_nu; } // loop frequency, rad per sample
    double phase() const { return m_theta; }

private:
    double m_fs = 39062.5;
    double m_theta = 0.0;
    double m_nu = 0.0;
    FastFirZorvani m_lowPass;
};
