#pragma once

#include <cstdint>

// Measures the sub-audible tone in a band-passed audio copy from the spacing of
// its positive-to-negative zero crossings. Rule: crossings less than
// kMinSpacing seconds after the last accepted one are ignored; each accepted
// crossing gives fs / spacing, matched to the first table tone within +-1 Hz
// (or none). The selected tone becomes present after kConfirmations
// consecutive matches of it; every block without a match adds its length to a
// missing counter that each match clears, and the tone is lost once that
// counter exceeds fs / 6 samples.
class CtcssDetector {
public:
    static constexpr double kMinSpacing = 1.0 / 300.0; // s; shortest tone period is 1/254.1 s
    static constexpr int kConfirmations = 3;
    static constexpr double kMatchHz = 1.0;

    explicit CtcssDetector(double sampleRate = 39062.5);

    // Index into kCtcssTones, 0..41 (others are ignored).
    void setTone(int index);
    int tone() const { return m_tone; }

    // Feeds the real parts of count band-passed samples (stride 2 doubles
    // when given the re of a complex array).
    void process(const double* re, int count, int stride);
    bool tonePresent() const { return m_present; }
    // Table index of the last accepted crossing's match, -1 for none.
    int lastDetection() const { return m_lastDetection; }

    void reset();

private:
    double m_fs;
    double m_minSpacing;
    int m_tone = 0;
    double m_previous = 0.0;        // last input value
    double m_sinceCrossing = 0.0;   // samples since the last accepted crossing
    bool m_haveCrossing = false;
    int m_run = 0;                  // consecutive matches of the selected tone
    double m_missing = 0.0;         // samples without a match of the selected tone
    bool m_present = false;
    int m_lastDetection = -1;
};
