#pragma once

#include "spectrum/SpectrumAveragerAbstract.h"

#include <vector>

namespace zorvaniddc {

// The mean of the last `count` frames, kept as a history of whole frames: the
// linear averager averages the power, the RMS averager the squared power and
// takes the root. The history grows one frame per write up to `count`; its
// frames keep their storage when the average restarts, so refilling it does
// not allocate again.
class SpectrumHistoryAverager : public SpectrumAveragerAbstract {
public:
    void setAverageCount(size_t n) override;
    void setSize(size_t n) override;
    void reset() override;
    void write(const float* data, size_t n) override;
    void read(float* dst, size_t n) override;

protected:
    // `writeSignature` names the concrete write() in the size message.
    SpectrumHistoryAverager(bool rms, const char* writeSignature);

private:
    const bool m_rms;
    const char* const m_writeSignature;
    size_t m_writeIndex = 0;
    size_t m_frames = 0;                     // frames in the history
    std::vector<std::vector<float>> m_store; // m_frames used, the rest kept for reuse
    std::vector<float> m_output;
};

class SpectrumLinearAverager : public SpectrumHistoryAverager {
public:
    SpectrumLinearAverager();
};

class SpectrumRmsAverager : public SpectrumHistoryAverager {
public:
    SpectrumRmsAverager();
};

} // namespace zorvaniddc
