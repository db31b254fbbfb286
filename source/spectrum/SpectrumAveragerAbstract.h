#pragma once

#include <cstddef>

namespace zorvaniddc {

// Turns successive power spectra (linear power, `size` values per frame) into
// one line in dB. No locking: the owner serialises every call.
class SpectrumAveragerAbstract {
public:
    virtual ~SpectrumAveragerAbstract() = default;

    // Frames averaged, clamped to 1..30 (0 counts as 1); restarts the average.
    virtual void setAverageCount(size_t n) = 0;
    size_t averageCount() const { return m_count; }
    // Values per frame; restarts the average when n differs.
    virtual void setSize(size_t n) = 0;
    size_t size() const { return m_size; }
    virtual void reset() = 0;
    // One frame of n linear power values; ignored (with a debug message) when
    // n differs from size().
    virtual void write(const float* data, size_t n) = 0;
    // Copies the current line (dB) into dst; -180 dB everywhere when there is
    // no line yet or n differs from size().
    virtual void read(float* dst, size_t n) = 0;

    static constexpr size_t kMaxCount = 30;
    static constexpr float kEmptyDb = -180.0f;

protected:
    static size_t clampCount(size_t n) { return n < 1 ? 1 : (n > kMaxCount ? kMaxCount : n); }

    size_t m_size = 4096;
    size_t m_count = 0;
};

} // namespace zorvaniddc
