#pragma once

#include "OstrovixComplex.h"

#include <cstdint>
#include <memory>

namespace ox::vec {

// In-place complex FFT of 2^k points on FFTW, in double or single precision.
// Plans are made by init() (never on the processing path); FFTW's planner is
// not thread-safe, so every plan is made and destroyed under one global lock.
// forward() scales by 1/N, forwardUnscaled() and inverse() do not scale.
// The two-buffer forms run on the caller's buffers themselves when they have
// the alignment the plans were made for (any 16-byte aligned buffer, as
// malloc and std::vector give); the in-place forms and other buffers go
// through an internal copy. Transforms allocate nothing.
template <typename T>
class ComplexFft {
public:
    ComplexFft();
    ~ComplexFft();
    ComplexFft(const ComplexFft&) = delete;
    ComplexFft& operator=(const ComplexFft&) = delete;

    // size must be a power of two and at least 2; false leaves the object
    // uninitialised (size 0).
    bool init(uint32_t size);
    uint32_t size() const noexcept { return m_size; }

    // Transforms `data` (size() points) in place. False when not initialised
    // or data is null.
    bool forward(Ostrovix::complex<T>* data);
    bool inverse(Ostrovix::complex<T>* data);
    // Transforms `in` into `out` (size() points each; in is left unchanged).
    bool forwardUnscaled(const Ostrovix::complex<T>* in, Ostrovix::complex<T>* out);
    bool inverse(const Ostrovix::complex<T>* in, Ostrovix::complex<T>* out);

    static bool isPowerOfTwo(uint32_t n) noexcept { return n >= 2 && (n & (n - 1)) == 0; }

private:
    struct Plans;
    void release();
    bool execute(bool forward, const Ostrovix::complex<T>* src, Ostrovix::complex<T>* dst);

    uint32_t m_size = 0;
    std::unique_ptr<Plans> m_plans;
};

extern template class ComplexFft<double>;
extern template class ComplexFft<float>;

} // namespace ox::vec
