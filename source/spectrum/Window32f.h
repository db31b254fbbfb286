#pragma once

#include "OstrovixComplex.h"

#include <vector>

// The analysis window of the panorama transform: a 4-term Blackman-Nuttall
// window divided by 10^-0.44, which lifts its coherent gain to about 1 so that
// a full-scale tone reads near 0 dB.
class Window32f {
public:
    enum Window { BlackmanNuttall = 0 };

    // length >= 2.
    void init(int length);
    int length() const { return int(m_coefficients.size()); }
    const float* coefficients() const { return m_coefficients.data(); }

    // Multiplies re and im of length() points by the window.
    void apply(Ostrovix::complex<float>* data) const;
    // dst[k] = src[k] * w[offset + k] for count points, narrowed to float:
    // conversion and windowing in one pass, for a frame copied in pieces.
    void applyFrom(const Ostrovix::complex<double>* src, Ostrovix::complex<float>* dst, int offset, int count) const;

private:
    std::vector<float> m_coefficients;
};
