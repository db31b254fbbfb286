#pragma once

#include "OstrovixComplex.h"

// Level meter of a channel, in dB relative to digital full scale (1.0):
// smoothed mean power L, its slow average S and the smoothed peak levels of
// the real and imaginary parts. The samples are not changed.
class MeterZorvani {
public:
    MeterZorvani();

    // D: decimation factor of the receiver, 1 .. 64 (attack 0.05 / D and
    // decay 0.01 / D per block). Other values are ignored with a warning.
    void setDecimation(int D);

    // Updates the readings from count samples. False for a null pointer or
    // count below 1 (readings unchanged).
    bool process(const Ostrovix::complex<double>* x, int count);

    double level() const { return m_level; }        // L, dB
    double slowLevel() const { return m_slow; }     // S, dB
    double peakRe() const { return m_peakRe; }      // dB
    double peakIm() const { return m_peakIm; }      // dB
    double attack() const { return m_attack; }
    double decay() const { return m_decay; }

    // Readings back to their initial values (-140, -140, -120, -120).
    void reset();

private:
    double m_attack = 0.05;
    double m_decay = 0.01;
    double m_level = -140.0;
    double m_slow = -140.0;
    double m_peakRe = -120.0;
    double m_peakIm = -120.0;
};
