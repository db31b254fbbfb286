#pragma once

#include "spectrum/SpectrumAveragerAbstract.h"

#include <vector>

namespace zorvaniddc {

// Exponential smoothing per bin: state <- a (state + x), both terms weighted by
// a, with a = 0.74 + count * 0.0068965517. The line is the state in dB plus
// (offset + 8), where the offset (dB) compensates the gain a / (1 - a) that
// this recursion has for a constant input.
class SpectrumExpAverager : public SpectrumAveragerAbstract {
public:
    SpectrumExpAverager();

    void setAverageCount(size_t n) override;
    void setSize(size_t n) override;
    void reset() override;
    void write(const float* data, size_t n) override;
    void read(float* dst, size_t n) override;

    // Smoothing factor of the bins and the dB offset for the current count.
    float factor() const { return m_factor.empty() ? 0.0f : m_factor.front(); }
    float offset() const { return m_offset; }
    // Linear state of bin k (for inspection).
    float state(size_t k) const { return m_state[k]; }

private:
    void applyFactor();

    float m_offset = -9.0f;
    std::vector<float> m_output;
    // Per bin, as separate arrays so that the update vectorises; bins added
    // by a resize start with a = 0.95 until a count is applied.
    std::vector<float> m_factor;
    std::vector<float> m_state;
};

} // namespace zorvaniddc
