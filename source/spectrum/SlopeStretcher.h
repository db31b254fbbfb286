#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Cuts the anti-alias filter slopes off a spectrum line of N bins and stretches
// the usable middle (0.9216 of the bandwidth) back over all N bins with a
// 4-point cubic Lagrange interpolator. The interpolator's phase walk depends
// only on N, so it is done once per size: each output bin keeps the index of
// its four source bins and their weights (designed in double precision), and
// stretch() is a weighted sum in single precision, like the line itself
// (within 1e-4 dB of the sum in double precision).
class SlopeStretcher {
public:
    static constexpr double kUsableRatio = 36000.0 / 39062.5;

    // maxSize: the largest line stretch() accepts; all storage is made here.
    explicit SlopeStretcher(size_t maxSize = 16384);

    // Number of source bins used (M) and the first one (s) for a line of n.
    static size_t usedBins(size_t n);
    static size_t firstBin(size_t n);

    // Stretches v[0..n) in place; false (v untouched) when n is below 32 or
    // above the size given at construction. Allocation-free.
    bool stretch(float* v, size_t n);

private:
    bool prepare(size_t n);

    // Per output bin: the index of the oldest of its four source bins, and
    // the four weights for source bins first .. first + 3.
    std::vector<uint32_t> m_first;
    std::vector<float> m_weights;
    std::vector<float> m_source;
    size_t m_prepared = 0;
};
