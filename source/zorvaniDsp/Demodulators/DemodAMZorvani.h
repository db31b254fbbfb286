#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

// AM envelope detector: |x| on both parts, then a 250-tap low-pass. The
// carrier stays in the output as a constant level for the AGC to follow.
class DemodAMZorvani {
public:
    static constexpr uint32_t kTaps = 250;

    // Designs the low-pass from 0 to highRel (Hz / working rate, 0 < highRel
    // <= 0.5; the whole audio band is initially 16000 / 39062.5).
    DemodAMZorvani();
    bool setBandwidth(double highRel);

    // In place. False (block unchanged) for a null block or count < 1.
    bool process(Ostrovix::complex<double>* x, int count);
    // Clears the low-pass overlap; keeps the design.
    void reset();

private:
    FastFirZorvani m_lowPass;
};
