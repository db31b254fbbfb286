#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/zorvaniFFT/zorvaniFFT64f.h"

#include <cstdint>
#include <vector>

// Complex band-pass FIR (windowed sinc, Blackman-Nuttall) applied by FFT
// overlap-add, in place, in pieces of at most 256 samples.
class FastFirZorvani {
public:
    static constexpr uint32_t kBufferSize = 16384;  // H, overlap and work buffers
    static constexpr uint32_t kPiece = 256;
    static constexpr uint32_t kMaxTaps = kBufferSize - kPiece + 1;  // keeps N <= kBufferSize

    FastFirZorvani();

    // lowRel, highRel: passband edges in Hz / sample rate, signed, limited to
    // [-0.5, 0.5]. taps: 1 .. kMaxTaps. FFT size N = smallest power of two not
    // below taps + 255. The overlap tail is kept. False (block unchanged) for a
    // tap count out of range or a design with no response at all.
    bool init(double lowRel, double highRel, uint32_t taps);

    // Filters count samples in place. False when not initialised, x is null
    // or count is 0.
    bool process(Ostrovix::complex<double>* x, uint32_t count);

    // Clears the overlap tail; the design is kept.
    void reset();

    uint32_t taps() const { return m_taps; }
    uint32_t fftSize() const { return m_size; }
    int status() const { return m_status; }
    // Frequency response, fftSize() bins in FFT order (normalised).
    const Ostrovix::complex<double>* response() const { return m_h.data(); }

private:
    bool processPiece(Ostrovix::complex<double>* x, uint32_t count);

    zorvaniFFT64f m_fft;
    std::vector<Ostrovix::complex<double>> m_h;
    std::vector<Ostrovix::complex<double>> m_overlap;
    std::vector<Ostrovix::complex<double>> m_work;
    std::vector<Ostrovix::complex<double>> m_spectrum;
    uint32_t m_size = 0;
    uint32_t m_taps = 0;
    int m_status = 0;
};
