#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/Demodulators/PilotPllZorvani.h"
#include "zorvaniDsp/Demodulators/WfmInterpolator.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"

#include <array>
#include <vector>

// Wide-band FM broadcast receiver: IF low-pass, discriminator and its droop
// correction, conversion to the audio rate, 30 Hz high-pass and de-emphasis,
// and the pilot-locked stereo decoder. Mono and difference signals travel
// together as (re, im) through one converter, high-pass and de-emphasis, so
// they stay aligned in time and gain.
class WfmReceiverZorvani {
public:
    static constexpr double kDeviation = 75000.0;    // Hz, gives multiplex +-1
    static constexpr double kMultiplexTop = 53000.0; // Hz, upper edge of the difference signal
    // One-sided IF bandwidth, Hz: Carson's rule for the whole stereo multiplex.
    // A narrower IF distorts the difference signal's sidebands and costs
    // separation; the IF low-pass becomes a pass-through where this exceeds
    // half the input rate.
    static constexpr double kIfBandwidth = kDeviation + kMultiplexTop;
    static constexpr double kAudioBandwidth = 15000.0;
    static constexpr int kIfTaps = 11;
    static constexpr int kChunk = 4096; // input samples handled per pass

    // inputRate: IQ rate in Hz (>= outputRate); outputRate: audio rate in Hz;
    // stereo: decode stereo when the pilot is present; tauSeconds: de-emphasis
    // time constant (50e-6 or 75e-6); shiftHz: tuning shift of the input, Hz.
    WfmReceiverZorvani(double inputRate, double outputRate, bool stereo, double tauSeconds, double shiftHz = 0.0);

    // Switching stereo on or off restarts the pilot acquisition.
    void setStereo(bool on);

    // Demodulates `count` IQ samples into stereo frames at outputRate
    // (re = left, im = right); out must hold maxOutput(count, ...) frames.
    // Returns the frames written (0 for a null pointer or count < 1).
    int process(const Ostrovix::complex<float>* in, int count, Ostrovix::complex<double>* out);
    static int maxOutput(int count, double inputRate, double outputRate);

    bool pilotDetected() const { return m_pll.pilotDetected(); }
    // Stereo flag and pilot detection together: the state shown to the user.
    bool stereo() const { return m_stereo && m_pll.pilotDetected(); }
    bool stereoEnabled() const { return m_stereo; }
    double inputRate() const { return m_inputRate; }
    double outputRate() const { return m_outputRate; }
    double deemphasisTau() const { return m_tau; }

    void reset();

private:
    using CF = Ostrovix::complex<float>;
    using CD = Ostrovix::complex<double>;
    int processChunk(const CF* in, int count, CD* out);

    double m_inputRate, m_outputRate, m_tau;
    bool m_stereo;
    std::array<CF, 64> m_shiftTable{};
    int m_shiftIndex = 0;
    std::array<float, kIfTaps> m_ifTaps{};
    std::array<CF, 2 * kIfTaps> m_ifLine{}; // doubled ring: contiguous windows
    int m_ifWrite = 0;
    CF m_previous{0.0f, 0.0f};
    float m_discriminatorGain;
    double m_mpx1 = 0.0, m_mpx2 = 0.0; // the two discriminator outputs before the current one
    PilotPllZorvani m_pll;
    WfmInterpolator m_resampler;
    BiQuadFilter m_highPass;
    double m_deemphasis;
    CD m_deemphasisState{0.0, 0.0};
    std::vector<double> m_mpx;
    std::vector<double> m_carrier;
    std::vector<CD> m_pair;
};
