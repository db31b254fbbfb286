#pragma once

#include "OstrovixComplex.h"

#include <vector>

// Rational polyphase sample-rate converter (interpolate by L, low-pass,
// decimate by M) in single precision on the two halves of a complex stream
// (re = left, im = right). The low-pass has 8 × L taps, cut-off 0.4 / L
// relative to the interpolated rate, Blackman-Nuttall window, DC gain 1.
// When converting down (M > L) the cut-off is 0.4 / M instead, below the
// output's Nyquist frequency, and the filter grows to 8 × L × ceil(M / L)
// taps to keep its shape; otherwise everything above the output's half rate
// would alias into the audio.
class Resampler {
public:
    static constexpr int kTapsPerPhase = 8;
    static constexpr int kMaxInterpolation = 65536;

    Resampler();

    // Rates in Hz, > 0. L / M is the ratio of truncate(rate × 10), reduced by
    // the divisors 2 .. 10. Clears the filter history. False (converter
    // unchanged) for rates that are not positive, or an L or M above
    // kMaxInterpolation.
    bool init(float inputRate, float outputRate);

    // Converts count frames of `in` into `out`, which must hold
    // maxOutput(count, interpolation(), decimation()) frames. Returns the
    // number of frames written (0 when not initialised or count < 1).
    int process(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out, int count);

    // Upper bound of the frames that count input frames can produce.
    static int maxOutput(int count, int L, int M);

    // Clears the history and the phase; the design is kept.
    void reset();

    int interpolation() const { return m_l; }
    int decimation() const { return m_m; }
    int taps() const { return m_l * m_tapsPerPhase; }
    int tapsPerPhase() const { return m_tapsPerPhase; }
    float inputRate() const { return m_inputRate; }
    float outputRate() const { return m_outputRate; }
    // Prototype low-pass (taps() coefficients, natural order).
    const std::vector<float>& coefficients() const { return m_h; }

private:
    // Polyphase state: the newest tapsPerPhase samples of each part, written
    // twice so that a window of them is always contiguous (sized by init()).
    // Both parts share the write index and the phase, so they run in one pass.
    struct State {
        std::vector<float> re;
        std::vector<float> im;
        int write = 0;
        int phase = 0;
    };

    float m_inputRate = 44100.0f;
    float m_outputRate = 39062.5f;
    int m_l = 0;
    int m_m = 0;
    int m_tapsPerPhase = kTapsPerPhase;
    std::vector<float> m_h;
    // Coefficients by phase, reversed to match the history's time order:
    // m_poly[p × T + i] = L × h[p + (T - 1 - i) × L], T = tapsPerPhase.
    std::vector<float> m_poly;
    State m_state;
};
