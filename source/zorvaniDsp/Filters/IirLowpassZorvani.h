#pragma once

#include "OstrovixComplex.h"

#include <array>

// Butterworth low-pass of any order, designed by the bilinear transform with
// prewarping (-3 dB exactly at the cut-off) and run as a cascade of
// second-order sections (plus one first-order section for odd orders), one
// state for the real part and one for the imaginary part.
class IirLowpassZorvani {
public:
    static constexpr int kMaxOrder = 32;

    // relCutoff: cut-off in Hz / sample rate, limited into (0, 0.5): values
    // <= 0 become 1e-7, values >= 0.5 become 0.4999999. order: 1 .. kMaxOrder.
    // Clears the filter state. False (filter unchanged, warning) for an order
    // out of range or a cut-off that is not a number.
    bool init(double relCutoff, int order);

    // Filters count samples in place. False when not initialised, x is null or
    // count is below 1.
    bool process(Ostrovix::complex<double>* x, int count);

    // Clears the filter state; the design is kept.
    void reset();

    double cutoff() const { return m_cutoff; }
    int order() const { return m_order; }
    int status() const { return m_status; }

private:
    struct Section {
        double b0, b1, b2, a1, a2;
    };
    struct State {
        double z1, z2;
    };

    std::array<Section, (kMaxOrder + 1) / 2> m_sections{};
    std::array<State, (kMaxOrder + 1) / 2> m_re{};
    std::array<State, (kMaxOrder + 1) / 2> m_im{};
    int m_sectionCount = 0;
    int m_order = 0;
    double m_cutoff = 0.0;
    int m_status = 0;
};
