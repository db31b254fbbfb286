#pragma once

#include "OstrovixComplex.h"

// First-order gain ramp: per sample g <- a*g + (1-a)*t, then x *= g.
// The time constant is 15 ms at the working rate of 39062.5 Hz.
class GainRamp {
public:
    GainRamp();

    // Target in dB, limited to [-60, 0]; below -59 dB the target is 10^-6.5.
    void setTargetDb(double dB);
    double gain() const { return m_gain; }
    double target() const { return m_target; }
    // Single-precision test min(|g|, |t|) >= |g - t| * 1e5.
    bool reached() const;
    void apply(Ostrovix::complex<double>* x, int count);

private:
    double m_a;
    double m_gain = 1.0;
    double m_target = 1.0;
};

// Fader that mutes both channels of a receiver around a change of mode or
// AGC: fade out, switch the active mode (and request a filter reset), fade in.
class ModulationSwitcher {
public:
    enum State { Pass = 0, FadeOut = 1, Switch = 2, FadeIn = 3 };

    explicit ModulationSwitcher(int mode = 3);

    // A new mode (host numbering 0..10) becomes active after the fade-out.
    void setPendingMode(int mode) { m_pendingMode = mode; }
    int pendingMode() const { return m_pendingMode; }
    int activeMode() const { return m_activeMode; }
    // Starts the fade-out unless it is already running.
    void requestChange();
    // True once after the fade-out completed: the chain clears its filters.
    bool takeResetRequest();
    State state() const { return m_state; }
    double gain(int channel) const { return m_ramps[channel & 1].gain(); }

    // Applies the current state to both channels of one block.
    void process(Ostrovix::complex<double>* ch0, Ostrovix::complex<double>* ch1, int count);

private:
    State m_state = Pass;
    bool m_resetRequest = false;
    int m_pendingMode;
    int m_activeMode;
    GainRamp m_ramps[2];
};
