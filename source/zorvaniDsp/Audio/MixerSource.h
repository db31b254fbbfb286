#pragma once

#include "OstrovixComplex.h"
#include "common/CircularBuffer.h"
#include "common/WakeSignal.h"

#include <atomic>

// What a receiver offers the mixer: one output ring of stereo frames per
// channel (re = left, im = right) and the mode facts that decide mono/stereo.
class MixerSource {
public:
    virtual ~MixerSource() = default;
    // channel 0 (main) or 1 (sub).
    virtual CircularBuffer<Ostrovix::complex<double>>& outputRing(int channel) = 0;
    // The mode the block processing uses, numbered as the host numbers modes.
    virtual int activeMode() const = 0;
    // True while the receiver's binaural CW stage is on.
    virtual bool binauralCw() const = 0;

    // The mixer's wake-up (null: none), given by the mixer it feeds.
    void setMixerWake(WakeSignal* wake) { m_mixerWake.store(wake, std::memory_order_release); }

protected:
    // A source calls this after it has written its output rings.
    void outputWritten()
    {
        if (WakeSignal* wake = m_mixerWake.load(std::memory_order_acquire))
            wake->notify();
    }

private:
    std::atomic<WakeSignal*> m_mixerWake{nullptr};
};
