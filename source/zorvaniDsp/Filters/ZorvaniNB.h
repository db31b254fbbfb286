#pragma once

#include "OstrovixComplex.h"

#include <array>
#include <cstdint>
#include <mutex>

// Wide-band impulse blankers of one receiver. NB1 delays the signal by two
// samples and blanks seven output samples from the one where an impulse is
// seen; NB2 replaces an impulse by a smoothed sample. Both compare |x| with a
// threshold times a shared running average magnitude. All members lock the
// object's own mutex, so setters may come from any thread.
class ZorvaniNB {
public:
    static constexpr int kChunk = 256; // magnitudes computed per pass

    void setNb1(bool on);
    void setNb2(bool on);
    // Thresholds: multiples of the running average magnitude (> 0).
    void setNb1Threshold(double threshold);
    void setNb2Threshold(double threshold);

    bool nb1() const;
    bool nb2() const;
    double nb1Threshold() const;
    double nb2Threshold() const;
    // The running average magnitude (starts at 1.0).
    double averageMagnitude() const;

    // In place, any count >= 0. Both off: the block and the average are untouched.
    void process(Ostrovix::complex<double>* x, int count);

    // Back to the initial state (average 1.0, empty history); keeps settings.
    void reset();

private:
    using Sample = Ostrovix::complex<double>;
    void processChunk(Sample* x, int count);

    mutable std::mutex m_mutex;
    bool m_nb1 = false;
    bool m_nb2 = false;
    double m_nb1Threshold = 2.65;
    double m_nb2Threshold = 2.48;
    double m_average = 1.0;
    Sample m_smoothed{0.0, 0.0};
    std::array<Sample, 8> m_history{};
    uint32_t m_write = 0;
    uint32_t m_read = 2;
    uint32_t m_blank = 0;
    std::array<double, kChunk> m_magnitude{};
};
