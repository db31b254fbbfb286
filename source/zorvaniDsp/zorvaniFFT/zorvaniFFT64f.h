#pragma once

#include "OstrovixComplex.h"
#include "vector/Fft.h"

#include <cstdint>

// Double-precision in-place complex FFT of 2^k points (k >= 1).
// Forward (direction 0) is scaled by 1/N, inverse (direction 1) is not.
class zorvaniFFT64f {
public:
    enum Direction { Forward = 0, Inverse = 1 };

    // size: a power of two, at least 2. Anything else is refused with a
    // warning and leaves the object uninitialised (size 0).
    bool init(uint32_t size);

    // Transforms the first size() samples of x in place. False when x is
    // null, count is below size(), the object is not initialised or the
    // direction is neither 0 nor 1.
    bool process(Ostrovix::complex<double>* x, uint32_t count, int direction);
    // From `in` into `out` (in unchanged), unscaled: the forward transform
    // without the 1/N, for callers that fold it into their own product, and
    // the inverse. Same checks as process().
    bool forwardUnscaled(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out, uint32_t count);
    bool inverse(const Ostrovix::complex<double>* in, Ostrovix::complex<double>* out, uint32_t count);

    uint32_t size() const { return m_fft.size(); }
    int status() const { return m_status; }

private:
    bool report(bool ok);

    ox::vec::ComplexFft<double> m_fft;
    int m_status = 0;
};
