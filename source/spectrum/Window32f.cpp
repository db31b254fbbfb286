#include "spectrum/Window32f.h"

#include <cmath>

double Window32f::coefficient(int n, int length)
{
    const double x = 2.0 * M_PI * double(n) / double(length - 1);
    const double w = 0.3635819 - 0.4891775 * std::cos(x) + 0.1365995 * std::cos(2.0 * x) - 0.0106411 * std::cos(3.0 * x);
    return w / std::pow(10.0, -0.44);
}

void Window32f::init(int length)
{
    m_coefficients.resize(size_t(length));
    for (int n = 0; n < length; ++n)
        m_coefficients[size_t(n)] = float(coefficient(n, length));
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
