#pragma once

#include "OstrovixComplex.h"

#include <vector>

// Decimation by two through a half-band low-pass (a Kaiser-windowed sinc).
// Every other tap of a half-band filter is zero and the taps are symmetric,
// so an output costs one multiply per pair of non-zero taps, and only the
// outputs that are kept are computed. Real taps, complex samples.
class HalfBandDecimator {
public:
    using Sample = Ostrovix::complex<double>;
    // Input samples copied into the delay line per step.
    static constexpr int kChunk = 1024;

    // passEdge: end of the passband, relative to the input rate, in (0, 0.25);
    // the stopband starts at 0.5 - passEdge. attenuationDb: stopband depth,
    // 20 .. 200 dB; the passband ripple is as small (1e-6 dB at 140 dB).
    // Clears the state. False (design kept) for values out of range.
    bool init(double passEdge, double attenuationDb);

    // Filters `count` input samples and writes the kept ones (every other one,
    // continuing the phase of the previous call) to `out`, which may be `in`.
    // Returns the number written; 0 when not designed or nothing was given.
    int process(const Sample* in, int count, Sample* out);

    // Clears the delay line and the phase; the design is kept.
    void reset();

    // Filter length (4k - 1), 0 while not designed; the group delay is
    // (taps() - 1) / 2 input samples.
    int taps() const { return m_taps; }

private:
    int m_taps = 0;
    // The non-zero taps right of the centre (offsets 1, 3, 5, ...); the
    // centre tap is 1/2.
    std::vector<double> m_side;
    // The last taps() - 1 inputs, then the chunk being filtered.
    std::vector<Sample> m_line;
    bool m_odd = false; // the next input falls between two kept outputs
};
