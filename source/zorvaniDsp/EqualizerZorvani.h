#pragma once

#include "OstrovixComplex.h"
#include "vector/Fft.h"

#include <QList>

#include <array>
#include <vector>

// 36-band receive equalizer working in the frequency domain.
//
// Band k has a fixed response B_k(f) over |f|. The centres c_k are equally
// spaced on the mel scale (m = 2595 log10(1 + f / 700)) from 50 Hz to
// min(16 kHz, 0.45 fs): about 66 Hz apart at the bottom, growing with
// frequency like the ear's resolution, and never narrower than the filter can
// resolve. Between two neighbouring centres the two bands cross-fade as
// cos^2 / sin^2 of the mel position; band 0 extends down to DC and band 35 up
// to fs/2, so the 36 responses sum to exactly 1 everywhere. The equalizer's
// response is sum_k 10^(gain_k / 20) B_k(|f|): real and even, so re and im are
// filtered independently by the same linear-phase filter, and all-zero gains
// give a pure delay.
//
// The response becomes a 2047-tap linear-phase FIR (Blackman window, 19 Hz
// resolution at 39062.5 Hz) whenever gains or the rate change, never in
// process(). Filtering is overlap-save with 4096-point FFTs, 512 new samples
// per transform; latency is a fixed 1535 samples (39 ms at 39062.5 Hz)
// whatever the block sizes, so split blocks give exactly the output of one
// block.
class EqualizerZorvani {
public:
    static constexpr int kBands = 36;
    static constexpr int kTaps = 2047;
    static constexpr int kFftSize = 4096;
    static constexpr int kHop = 512;
    static constexpr int kLatency = kHop + kTaps / 2;
    static constexpr double kLowestCentre = 50.0;
    static constexpr double kHighestCentre = 16000.0;
    static constexpr double kMinGainDb = -60.0;
    static constexpr double kMaxGainDb = 30.0;

    EqualizerZorvani();

    // Off passes blocks unchanged. Switching on starts from cleared state.
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }
    // Band gains in dB, band 0 first; missing bands are 0 dB, extra values are
    // ignored, values are clamped to [kMinGainDb, kMaxGainDb].
    void setGains(const QList<int>& dB);
    // Working rate in Hz, > 0 (default 39062.5); false leaves it unchanged.
    bool setSampleRate(double fs);
    double sampleRate() const { return m_fs; }
    // Centre of band k in Hz at the current rate.
    double bandCentre(int k) const;

    // In place; count >= 0. False (block untouched) for a null block.
    bool process(Ostrovix::complex<double>* x, int count);
    // Clears the filter history; keeps gains and rate.
    void reset();

private:
    double response(double f) const;
    double melOfCentre0() const;
    double melStep() const;
    void design();
    void transform();

    bool m_enabled = false;
    double m_fs = 39062.5;
    std::array<double, kBands> m_gainsDb{};
    std::array<double, kBands> m_weights{};
    ox::vec::ComplexFft<double> m_fft;
    std::vector<double> m_window;
    std::vector<Ostrovix::complex<double>> m_kernel;
    std::vector<Ostrovix::complex<double>> m_history;
    std::vector<Ostrovix::complex<double>> m_work;
    std::vector<Ostrovix::complex<double>> m_out;
    int m_pos = 0;
};
