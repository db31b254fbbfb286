#pragma once

#include <cstdint>

// 19 kHz stereo pilot loop of the wide-band FM receiver. It tracks the pilot
// in the multiplex signal and produces the 38 kHz sub-carrier sin(2 theta).
// The pilot counts as detected after 20 ms of steady in-phase level with the
// loop's phase within kPhaseTolerance (so stereo starts with the sub-carrier
// already where it separates the channels, under 100 ms from any starting
// phase); it stays detected while the in-phase level holds.
class PilotPllZorvani {
public:
    // Largest |Q| / I of a block that counts as in phase: 0.1 rad at 19 kHz,
    // 0.2 rad at 38 kHz, below -40 dB of crosstalk.
    static constexpr double kPhaseTolerance = 0.1;
    static constexpr double kHoldSeconds = 0.02;

    explicit PilotPllZorvani(double inputRate);

    // One block of multiplex samples m (count >= 1); writes the sub-carrier
    // for every sample into carrier (may alias nothing else).
    void process(const double* m, int count, double* carrier);
    void reset();

    bool pilotDetected() const { return m_lockCount >= m_lockLimit; }
    double frequency() const { return m_omega; } // rad per input sample
    double lockLevel() const { return m_lockLevel; }

private:
    double m_omega0, m_omegaMin, m_omegaMax;
    double m_a1, m_a2, m_g, m_k1, m_k2;
    uint32_t m_lockLimit;

    double m_theta = 0.0;
    double m_omega;
    double m_i1 = 0.0, m_i2 = 0.0, m_q1 = 0.0, m_q2 = 0.0;
    double m_errorPrev = 0.0;
    double m_lockLevel = 1000.0;
    uint32_t m_lockCount = 0;
};
