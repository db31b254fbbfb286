#pragma once

#include <array>
#include <cstdint>

namespace zorvani::sim {

// What a broadcast FM station sends (see WfmTransmitter).
struct WfmProgramme {
    double leftHz = 1000.0;   // left tone, 0 = silence
    double rightHz = 0.0;     // right tone, 0 = silence
    double tauSeconds = 50e-6; // pre-emphasis time constant, 0 = none
    double pilot = 0.09;      // Kp, share of the full deviation; 0 = mono
    double data = 0.0;        // Kr, share of the full deviation; 0 = none
    double audio = -1.0;      // tone amplitude before pre-emphasis (full programme = 1);
                              // < 0: the largest that keeps the pre-emphasised tones within 1
};

// A broadcast FM stereo transmitter (pilot-tone system) modulated by two
// audio tones, as the emulator's scene sends it:
//
//   m(t) = P [(L + R)/2 + (L - R)/2 sin(2p)] + Kp sin(p) + Kr d(t) sin(3p)
//
// p = 2 pi 19000 t is the pilot's phase, so the 38 kHz difference subcarrier
// and the 57 kHz data subcarrier are locked to its second and third harmonic
// and cross zero upwards with it. L and R are the tones after pre-emphasis
// x + tau dx/dt. |m| <= 1 is the full deviation of 75 kHz: the programme gets
// P = 1 - Kp - Kr of it. Without a pilot (Kp = 0) the station is mono:
// m = P (L + R)/2, no subcarrier.
//
// d(t) is data-like interference: a pseudo-random bit stream (PRBS-9) at
// 1187.5 bit/s, each bit one period of sin(2 pi 1187.5 t) with the bit's
// sign, so it sits at 57 kHz +- 1.2 kHz like a data subcarrier.
//
// The carrier's phase is the exact integral of 2 pi 75 kHz m(t) at every
// sample instant (each spectral line of m integrated in closed form), as a
// real transmitter's phase is when sampled; it is not a running sum of
// sampled m, which would hide the discriminator's own droop.
class WfmTransmitter {
public:
    static constexpr double kDeviationHz = 75000.0;
    static constexpr double kPilotHz = 19000.0;
    static constexpr double kDataBitRate = 1187.5; // 57000 / 48: a whole number of 57 kHz cycles per bit

    WfmTransmitter() : WfmTransmitter(WfmProgramme()) {}
    explicit WfmTransmitter(const WfmProgramme& programme);

    // Sample rate in Hz (> 0); the phases run on across a change.
    void setRate(double rateHz);
    // Back to t = 0.
    void reset();

    // Carrier phase in radians relative to an unmodulated carrier, at the
    // current sample; then one sample on.
    double next();

    // The tone amplitude before pre-emphasis actually used.
    double audioAmplitude() const { return m_audio; }
    // Bit k of the data stream (PRBS-9, x^9 + x^5 + 1, all ones at k = 0): +1 or -1.
    static int dataBit(std::uint64_t k);

private:
    // One spectral line of the phase: amplitude * sin(phase), phase by rotation.
    struct Line {
        double hz = 0.0;
        double amplitude = 0.0; // radians
        double re = 1.0, im = 0.0, wr = 1.0, wi = 0.0;
        void start(double hz, double phase, double amplitude);
        void setRate(double rate);
        void step();
    };

    void buildLines();

    WfmProgramme m_programme;
    double m_audio = 1.0;
    double m_rate = 312500.0;
    std::array<Line, 7> m_lines{}; // L, R, 38 kHz +- L, 38 kHz +- R, pilot
    int m_lineCount = 0;
    Line m_dataLow, m_dataHigh;    // 57 kHz -+ 1187.5 Hz
    double m_bitPosition = 0.0;    // 0..1 within the current bit
    std::uint16_t m_prbs = 0x1FF;  // its lowest bit is the current data bit
};

} // namespace zorvani::sim
