#pragma once

#include "vector/Vector.h"

#include <algorithm>
#include <cmath>

namespace ox::vec {

// Numerically controlled oscillator: out[k] = exp(j·φk), φ advancing by 2π·rel
// per sample. Between exact anchors (every kAnchor samples, counted on the
// stream, and after a frequency change) the tone is advanced by complex
// rotation, several times cheaper than sin and cos per sample; four
// interleaved rotations (each sample four on from the one four before) keep
// the processor's multipliers busy instead of waiting on one chain. The
// output depends only on the sample's position in the stream, so split
// blocks reproduce one block exactly.
template <typename T>
class Nco {
public:
    static constexpr unsigned kAnchor = 64;
    static constexpr unsigned kLanes = 4;
    static_assert(kAnchor % kLanes == 0, "an anchor starts every lane afresh");

    // rel: cycles per sample in [0, 1). The phase runs on from where it is.
    void setFrequency(double rel)
    {
        if (rel == m_rel)
            return;
        m_anchorPhase = phase();
        m_count = 0;
        m_rel = rel;
        m_step = kTwoPi * rel;
        m_rotation = {std::cos(m_step), std::sin(m_step)};
        m_rotationLanes = {std::cos(kLanes * m_step), std::sin(kLanes * m_step)};
    }
    double frequency() const { return m_rel; }
    // Phase of the next sample, radians in [0, 2π).
    double phase() const { return wrap(m_anchorPhase + double(m_count) * m_step); }

    void reset()
    {
        m_anchorPhase = 0.0;
        m_count = 0;
    }

    void generate(Complex<T>* out, int n)
    {
        for (int k = 0; k < n;) {
            if (m_count == 0)
                anchor();
            const int run = std::min(n - k, int(kAnchor - m_count));
            Complex<double> lane[kLanes];
            std::copy(m_lanes, m_lanes + kLanes, lane);
            int i = 0;
            // Up to the next sample of lane 0, then four at a time.
            for (; i < run && (m_count + unsigned(i)) % kLanes != 0; ++i)
                put(lane[(m_count + unsigned(i)) % kLanes], out[k + i]);
            for (; i + int(kLanes) <= run; i += int(kLanes))
                for (unsigned u = 0; u < kLanes; ++u)
                    put(lane[u], out[k + i + int(u)]);
            for (; i < run; ++i)
                put(lane[(m_count + unsigned(i)) % kLanes], out[k + i]);
            std::copy(lane, lane + kLanes, m_lanes);
            m_count = (m_count + unsigned(run)) % kAnchor;
            if (m_count == 0)
                m_anchorPhase = wrap(m_anchorPhase + double(kAnchor) * m_step);
            k += run;
        }
    }

private:
    static double wrap(double phase)
    {
        const double p = std::fmod(phase, kTwoPi);
        return p < 0.0 ? p + kTwoPi : p;
    }

    // The exact tone at the anchor and the three samples after it.
    void anchor()
    {
        m_lanes[0] = {std::cos(m_anchorPhase), std::sin(m_anchorPhase)};
        for (unsigned u = 1; u < kLanes; ++u)
            m_lanes[u] = rotate(m_lanes[u - 1], m_rotation);
    }

    static Complex<double> rotate(Complex<double> t, Complex<double> r)
    {
        return {t.re * r.re - t.im * r.im, t.re * r.im + t.im * r.re};
    }

    // Writes the lane's tone and moves the lane on by four samples.
    void put(Complex<double>& lane, Complex<T>& out) const
    {
        out.re = T(lane.re);
        out.im = T(lane.im);
        lane = rotate(lane, m_rotationLanes);
    }

    double m_rel = 0.0;
    double m_step = 0.0;
    Complex<double> m_rotation{1.0, 0.0};
    Complex<double> m_rotationLanes{1.0, 0.0};
    // The tones of the next sample of each lane (lane = position mod 4).
    Complex<double> m_lanes[kLanes] = {};
    double m_anchorPhase = 0.0;
    unsigned m_count = 0;
};

} // namespace ox::vec
