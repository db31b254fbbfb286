#pragma once

#include "OstrovixComplex.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/Audio/MixerSource.h"
#include "common/SpinLock.h"
#include "common/SleepingWorker.h"

#include <atomic>
#include <memory>
#include <vector>

class ResamplerSCZorvani;

// Mixer thread: sums the two channels of every receiver into one stereo
// stream at the working rate, in blocks of 200 frames, and hands each block to
// its output ring (taken by the per-block entry) and to the sound-card
// converter. The thread sleeps until a source has written a block. Parameters
// are set under the mixer's spin lock, which a mixing pass holds for the
// whole pass, so a change takes effect between blocks.
class MixerZorvani {
public:
    static constexpr int kBlockFrames = 200;
    // How far one receiver may run ahead of a late one that was delivering
    // before the late one is mixed as absent (it stopped, e.g. not streamed).
    static constexpr uint32_t kMaxLeadFrames = 4 * kBlockFrames;
    // Mixed blocks a receiver may miss before it counts as absent and is no
    // longer waited for; a receiver that never delivered is absent.
    static constexpr int kAbsentBlocks = 4;
    static constexpr uint32_t kRingFrames = 4096;
    // The rate the receivers deliver, Hz.
    static constexpr double kWorkingRate = 39062.5;
    // Per-sample smoothing of every gain: g <- 0.98 g + 0.02 target.
    static constexpr double kGainSmoothing = 0.98;
    // Per-channel delay line: 10 ms at the working rate.
    static constexpr int kDelayFrames = 391;
    // Level stage: peak level it holds the mix under, its release time.
    static constexpr double kLevelTarget = 0.9;
    static constexpr double kLevelReleaseMs = 200.0;

    // `sources` are not owned and must outlive the mixer, which gives them its
    // wake-up; soundCard may be null.
    MixerZorvani(std::vector<MixerSource*> sources, std::shared_ptr<ResamplerSCZorvani> soundCard);
    ~MixerZorvani();
    MixerZorvani(const MixerZorvani&) = delete;
    MixerZorvani& operator=(const MixerZorvani&) = delete;

    // Safe to call from any thread.
    void start();
    void stop();
    // Empties the output ring and clears delay lines and the level stage.
    void reset();
    bool isRunning() const { return m_worker.isRunning(); }

    CircularBuffer<Ostrovix::complex<double>>& outputRing() { return m_output; }

    // One pass of the thread. True when a block of 200 frames was mixed.
    bool mixOnce();

    // rx: index into the sources; ch 0 or 1. Out-of-range indices are ignored.
    // Enabled channels start enabled and unmuted with gain 1, balance 0.
    void setEnable(int rx, int ch, bool on);
    void setMute(int rx, int ch, bool on);
    void setMasterMute(bool on);
    // gain: linear, >= 0 (negative taken as 0). balance: -100 (left only) ..
    // 0 (centre) .. 100 (right only), clamped. The law keeps the louder side
    // at `gain` and lowers the other one linearly: left = gain * min(1, 1 -
    // balance/100), right = gain * min(1, 1 + balance/100). Centre is unity.
    void setGain(int rx, int ch, double gain, double balance);
    // Linear, >= 0.
    void setMasterGain(double gain);
    // Keeps a channel stereo in LSB, USB and CW and delays its right side by
    // 10 ms (a Haas delay that widens the image); the delay line is cleared on
    // every change of the flag.
    void setBinaural(int rx, int ch, bool on);
    // Output level stage: when on, an automatic level control keeps the mix's
    // peaks at or below kLevelTarget (instant attack, kLevelReleaseMs release);
    // when off its gain returns smoothly to 1 and the mix passes unchanged.
    void setLevelStageEnabled(bool on);

private:
    struct Ramp {
        double gain = 1.0;
        double target = 1.0;
    };
    struct Channel {
        bool enabled = true;
        bool muted = false;
        bool binaural = false;
        Ramp left;
        Ramp right;
        std::vector<double> delay;
        int delayPos = 0;
    };
    struct Source {
        MixerSource* source = nullptr;
        Channel channels[2];
        int missed = kAbsentBlocks; // mixed blocks without this receiver, saturating
    };

    Channel* channel(int rx, int ch);
    bool audible(const Source& s) const;
    bool ready(const Source& s) const;
    // True when every audible receiver that is present has a block, or one
    // has run too far ahead.
    bool inStep() const;
    void mixChannel(Channel& c, bool mono, bool haas, Ostrovix::complex<double>* x);
    void levelStage(Ostrovix::complex<double>* x, int n);

    std::vector<Source> m_sources;
    std::shared_ptr<ResamplerSCZorvani> m_soundCard;
    CircularBuffer<Ostrovix::complex<double>> m_output{kRingFrames};
    std::vector<Ostrovix::complex<double>> m_block;
    std::vector<Ostrovix::complex<double>> m_mix;
    Ramp m_master;
    bool m_masterMute = false;
    bool m_levelEnabled = false;
    double m_levelGain = 1.0;
    double m_levelEnvelope = 0.0;
    SpinLock m_lock;
    SleepingWorker m_worker;
};
