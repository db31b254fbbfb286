#pragma once

#include "OstrovixComplex.h"

#include <vector>

// Sample-rate converter of the wide-band FM receiver: a windowed-sinc
// prototype whose coefficients are interpolated linearly at the fractional
// input position of every output sample, so that any ratio (whole or not)
// works the same way. The fractional position is carried between blocks.
class WfmInterpolator {
public:
    // inputRate, outputRate in Hz (> 0); taps: prototype length n (>= 1);
    // cutoffRel: cut-off / inputRate in (0, 0.5]; maxBlock: largest input
    // block process() accepts.
    WfmInterpolator(double inputRate, double outputRate, int taps, double cutoffRel, int maxBlock);

    // Frames produced from `count` inputs are at most maxOutput(count).
    int maxOutput(int count) const;
    static int maxOutput(int count, double inputRate, double outputRate);

    // Converts `count` (<= maxBlock) inputs; returns the frames written to out.
    int process(const Ostrovix::complex<double>* in, int count, Ostrovix::complex<double>* out);
    void reset();

    const std::vector<double>& coefficients() const { return m_h; }

private:
    double m_ratio;
    std::vector<double> m_h;                          // n + 2 coefficients, zero at both ends
    std::vector<Ostrovix::complex<double>> m_buffer;  // history then the current block
    int m_history;                                    // n + 1 samples kept between blocks
    double m_position;                                // next output, index into m_buffer
};
