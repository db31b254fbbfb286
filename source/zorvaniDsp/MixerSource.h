#pragma once

#include "OstrovixComplex.h"
#include "common/CircularBuffer.h"

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
};
