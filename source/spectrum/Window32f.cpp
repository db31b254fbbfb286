#include "spectrum/Window32f.h"

#include "common/SimdClones.h"
#include "vector/Vector.h"

void Window32f::init(int length)
{
    m_coefficients.resize(size_t(length));
    ox::vec::blackmanNuttall(m_coefficients.data(), length);
}

void Window32f::apply(Ostrovix::complex<float>* data) const
{
    const float* w = m_coefficients.data();
    const size_t n = m_coefficients.size();
    for (size_t k = 0; k < n; ++k) {
        data[k].re *= w[k];
        data[k].im *= w[k];
    }
}

ZORVANI_SIMD_CLONES void Window32f::applyFrom(const Ostrovix::complex<double>* src, Ostrovix::complex<float>* dst, int offset,
                          int count) const
{
    const float* w = m_coefficients.data() + offset;
    for (int k = 0; k < count; ++k) {
        dst[k].re = float(src[k].re) * w[k];
        dst[k].im = float(src[k].im) * w[k];
    }
}
