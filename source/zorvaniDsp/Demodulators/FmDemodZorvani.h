#pragma once

#include "OstrovixComplex.h"

// Narrow-band FM detector: a second-order phase-locked loop whose frequency
// term nu (rad per sample) is the demodulated audio, minus its slow mean,
// scaled, and then DC-blocked. Mono output (re = im).
class FmDemodZorvani {
public:
    static constexpr double kAlpha = 0.4825486315913922;
    static constexpr double kBeta = 0.058213295462681294;
    static constexpr double kGain = 0.5595290968074446; // output per rad per sample
    static constexpr double kNuLimit = 1000.0;
    static constexpr double kMeanCoefficient = 0.0001;
    static constexpr double kDcPole = 0.995;

    // In place. False (block unchanged) for a null block or count < 1.
    bool process(Ostrovix::complex<double>* x, int count);
    void reset();

    // Loop frequency nu (rad per sample) after the last sample.
    double frequency() const { return m_nu; }
    // Loop phase theta in [0, 2 pi).
    double phase() const { return m_theta; }

private:
    double m_theta = 0.0;
    double m_nu = 0.0;
    double m_mean = 0.0;
    double m_dcIn[2] = {0.0, 0.0};
    double m_dcOut[2] = {0.0, 0.0};
};
