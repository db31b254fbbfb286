#pragma once

#include "OstrovixComplex.h"

#include <array>
#include <cstdint>

// Complex leaky normalised-LMS predictor. NoiseReduction outputs the
// prediction (the correlated part of the signal); AutoNotch outputs the
// prediction error (steady tones removed).
class LmsFilterZorvani {
public:
    enum class Kind { NoiseReduction, AutoNotch };

    static constexpr int kLineLength = 1024; // delay line capacity (power of two)

    explicit LmsFilterZorvani(Kind kind);

    // Switches the filter; clears the delay line and the weights either way.
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }

    // Taps: 0..kLineLength weights (clamped). Clears line, weights and index.
    void setTaps(int taps);
    // Delay: 0..kLineLength-1 samples between input and the first tap
    // (clamped). Clears line, weights and index.
    void setDelay(int delay);
    // Rate mu (dimensionless step, >= 0) and leak lambda (>= 0): stored only.
    // Non-finite values are ignored (they would poison the weights for good).
    void setRate(double mu);
    void setLeak(double lambda);

    int taps() const { return static_cast<int>(m_taps); }
    int delay() const { return static_cast<int>(m_delay); }
    double rate() const { return m_mu; }
    double leak() const { return m_leak; }

    // In place; disabled or empty blocks pass unchanged. False for a null block.
    bool process(Ostrovix::complex<double>* x, int count);

    // Clears delay line, weights and write index; keeps the settings.
    void reset();

private:
    using Sample = Ostrovix::complex<double>;

    Kind m_kind;
    bool m_enabled = false;
    uint32_t m_write = 0;
    uint32_t m_delay;
    uint32_t m_taps;
    double m_mu;
    double m_leak;
    // Every sample is stored twice, N apart, so that the taps always read one
    // contiguous run of the line.
    std::array<Sample, 2 * kLineLength> m_line{};
    std::array<Sample, kLineLength> m_weights{};
};
