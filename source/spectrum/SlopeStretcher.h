#pragma once

#include <cstddef>
#include <vector>

// Cuts the anti-alias filter slopes off a spectrum line of N bins and stretches
// the usable middle (0.9216 of the bandwidth) back over all N bins with a
// 4-point cubic Lagrange interpolator.
class SlopeStretcher {
public:
    static constexpr double kUsableRatio = 36000.0 / 39062.5;

    // maxSize: the largest line stretch() accepts.
    explicit SlopeStretcher(size_t maxSize = 16384);

    // Number of source bins used (M) and the first one (s) for a line of n.
    static size_t usedBins(size_t n);
    static size_t firstBin(size_t n);

    // Stretches v[0..n) in place; false (v untouched) when n is below 8 or
    // above the size given at construction.
    bool stretch(float* v, size_t n);

private:
    std::vector<float> m_emitted;
};
