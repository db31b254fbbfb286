#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/Filters/HalfBandDecimator.h"

#include <array>

// Decimation from the device rate to the working rate by 1, 2, 4 or 8, in
// place: a cascade of half-band stages. The last stage (twice the working
// rate down to it) is flat up to the pass edge and stops from the working
// rate minus the pass edge; each earlier stage only has to stop what would
// fold into the band that the later stages let through, so it is short.
// Every stage is kAttenuationDb deep in its stopband.
class DecimatorZorvani {
public:
    using Sample = Ostrovix::complex<double>;
    // Below the resolution of the receiver's 24-bit samples.
    static constexpr double kAttenuationDb = 140.0;
    static constexpr int kMaxFactor = 8;

    // factor: 1, 2, 4 or 8. workingRate: output rate, Hz (> 0). passEdgeHz:
    // end of the flat passband, in (0, workingRate / 2). Clears the state.
    // False (design kept) for anything else.
    bool init(int factor, double workingRate, double passEdgeHz);

    // Decimates `count` samples of x in place, continuing the phase of the
    // previous call; returns the number of output samples at the start of x
    // (count itself for the factor 1).
    int process(Sample* x, int count);

    // Clears every stage's delay line and phase; the design is kept.
    void reset();

    int factor() const { return 1 << m_stages; }
    // Group delay of the cascade (every stage is linear-phase), seconds.
    double delaySeconds() const;

private:
    std::array<HalfBandDecimator, 3> m_design{};
    int m_stages = 0;
    double m_workingRate = 0.0;
};
