#pragma once

#include "OstrovixComplex.h"
#include "vector/Nco.h"

#include <vector>

// Numerically controlled oscillator that shifts a block in place: x_k ← x_k ×
// exp(j(2π f k + φ)), f = main + RIT term. Frequencies are relative (Hz /
// sample rate of the block), sign chosen so that +F Hz moves to 0 with -F/rate.
// The phase runs on across blocks.
class DownConverterZorvani {
public:
    // maxBlock: length of the tone buffer; longer blocks are shifted in pieces.
    explicit DownConverterZorvani(int maxBlock = 16384);

    // Main term, relative frequency, stored limited to [-0.5, 0.5].
    void setFrequency(double rel);
    // RIT term, relative frequency, stored limited to [-0.5, 0.5].
    void setRit(double rel);
    double frequency() const { return m_frequency; }
    double rit() const { return m_rit; }
    double phase() const { return m_nco.phase(); }  // radians, of the next sample
    int status() const { return m_status; }

    // Sets the oscillator phase back to 0.
    void reset();

    // False (block untouched, warning) for a null pointer or count below 1.
    bool process(Ostrovix::complex<double>* x, int count);

private:
    std::vector<Ostrovix::complex<double>> m_tone;
    double m_frequency = 0.0;
    double m_rit = 0.0;
    ox::vec::Nco<double> m_nco;
    int m_status = 0;
};
