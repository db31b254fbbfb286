#pragma once

#include "OstrovixComplex.h"

// Second-order IIR section (bilinear designs), applied to re and im separately
// in transposed direct form II. Used by the SSB and CW audio peak filters.
class BiQuadFilter {
public:
    enum Type { LowPass = 0, HighPass, BandPass, Notch, Peaking, LowShelf, HighShelf };

    // type: one of Type; f0Rel: centre or corner frequency / sample rate,
    // in (0, 0.5); q: quality, values below 0.1 are used as 0.1; gainDb: gain
    // of the peaking and shelf types in dB (negative = cut). An unknown type,
    // f0Rel outside (0, 0.5) or a non-finite q or gain is logged and leaves
    // the filter as it was. Clears the state.
    void init(Type type, double f0Rel, double q, double gainDb);

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }

    // In place. Disabled: the block passes unchanged. Peaking and shelves then
    // scale the block by 10^(extraGainDb / 20) / V, V = 10^(|gain| / 20), so a
    // peak stays at unity. False (block unchanged) for a null block or count < 1.
    bool process(Ostrovix::complex<double>* x, int count, double extraGainDb = 0.0);

    // Clears the filter memories; keeps the design.
    void reset();

    double b0() const { return m_b0; }
    double b1() const { return m_b1; }
    double b2() const { return m_b2; }
    double a1() const { return m_a1; }
    double a2() const { return m_a2; }
    double outputScale() const { return m_scale; }

private:
    bool m_enabled = false;
    double m_scale = 1.0;
    double m_b0 = 1.0, m_b1 = 0.0, m_b2 = 0.0, m_a1 = 0.0, m_a2 = 0.0;
    double m_z1[2] = {0.0, 0.0};
    double m_z2[2] = {0.0, 0.0};
};

// Quality of the CW audio peak filter: the quality setting scaled by the pitch
// over the channel filter's width (at least 450 Hz). pitch, low, high in Hz.
double cwApfQuality(double quality, double pitch, double low, double high);
