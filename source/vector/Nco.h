#pragma once

#include "vector/Vector.h"

#include <cmath>

namespace ox::vec {

// Numerically controlled oscillator: out[k] = exp(j·φk), φ advancing by 2π·rel
// per sample and kept in [0, 2π). Between exact anchors (every kAnchor
// samples, counted on the stream, and after a frequency change) the tone is
// advanced by complex rotation, several times cheaper than sin and cos per
// sample. The output depends only on the sample's position in the stream, so
// split blocks reproduce one block exactly.
template <typename T>
class Nco {
public:
    static constexpr unsigned kAnchor = 64;

    // rel: cycles per sample in [0, 1).
    void setFrequency(double rel)
    {
        if (rel == m_rel)
            return;
        m_rel = rel;
        m_step = kTwoPi * rel;
        m_rotation = {std::cos(m_step), std::sin(m_step)};
        m_count = 0;
    }
    double frequency() const { return m_rel; }
    // Phase of the next sample, radians in [0, 2π).
    double phase() const { return m_phase; }

    void reset()
    {
        m_phase = 0.0;
        m_count = 0;
    }

    void generate(Complex<T>* out, int n)
    {
        double p = m_phase;
        Complex<double> t = m_tone;
        unsigned count = m_count;
        for (int k = 0; k < n; ++k) {
            if (count == 0) {
                t = {std::cos(p), std::sin(p)};
            } else {
                const double re = t.re * m_rotation.re - t.im * m_rotation.im;
                t.im = t.re * m_rotation.im + t.im * m_rotation.re;
                t.re = re;
            }
            out[k].re = T(t.re);
            out[k].im = T(t.im);
            count = count + 1 == kAnchor ? 0 : count + 1;
            p += m_step;
            if (p >= kTwoPi)
                p -= kTwoPi;
        }
        m_phase = p;
        m_tone = t;
        m_count = count;
    }

private:
    double m_rel = 0.0;
    double m_step = 0.0;
    Complex<double> m_rotation{1.0, 0.0};
    Complex<double> m_tone{1.0, 0.0};
    double m_phase = 0.0;
    unsigned m_count = 0;
};

} // namespace ox::vec
