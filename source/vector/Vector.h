#pragma once

#include "OstrovixComplex.h"

#include <algorithm>
#include <cmath>

// Element-wise primitives of the receive chain and the spectrum path: plain
// loops over float or double that the compiler vectorises. Counts are samples;
// n <= 0 does nothing. Complex buffers are Ostrovix::complex<T>.
namespace ox::vec {

template <typename T> using Complex = Ostrovix::complex<T>;

inline constexpr double kTwoPi = 6.283185307179586476925286766559;
inline constexpr double kPi = 3.141592653589793238462643383279;

template <typename T>
inline void zero(T* x, int n)
{
    for (int i = 0; i < n; ++i)
        x[i] = T{};
}

template <typename T>
inline void copy(const T* src, T* dst, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = src[i];
}

// x[i] *= y[i] (complex product).
template <typename T>
inline void multiply(Complex<T>* x, const Complex<T>* y, int n)
{
    for (int i = 0; i < n; ++i) {
        const T re = x[i].re * y[i].re - x[i].im * y[i].im;
        const T im = x[i].re * y[i].im + x[i].im * y[i].re;
        x[i].re = re;
        x[i].im = im;
    }
}

// x[i] *= y[i] * s (complex product, then both parts by s).
template <typename T>
inline void multiplyScaled(Complex<T>* x, const Complex<T>* y, T s, int n)
{
    for (int i = 0; i < n; ++i) {
        const T re = x[i].re * y[i].re - x[i].im * y[i].im;
        const T im = x[i].re * y[i].im + x[i].im * y[i].re;
        x[i].re = re * s;
        x[i].im = im * s;
    }
}

// x[i] += y[i].
template <typename T>
inline void add(Complex<T>* x, const Complex<T>* y, int n)
{
    for (int i = 0; i < n; ++i) {
        x[i].re += y[i].re;
        x[i].im += y[i].im;
    }
}

// x[i] *= s (both parts).
template <typename T>
inline void scale(Complex<T>* x, T s, int n)
{
    for (int i = 0; i < n; ++i) {
        x[i].re *= s;
        x[i].im *= s;
    }
}

// out[i] = (re² + im²) × scale.
template <typename T>
inline void power(const Complex<T>* x, T* out, int n, T scale = T(1))
{
    for (int i = 0; i < n; ++i)
        out[i] = (x[i].re * x[i].re + x[i].im * x[i].im) * scale;
}

// Symmetric 4-term Blackman-Nuttall window of length n, lifted by 1/10^(-0.44)
// so that its mean is close to 1. A window of length 1 is its centre value.
template <typename T>
inline void blackmanNuttall(T* w, int n)
{
    const double lift = 1.0 / std::pow(10.0, -0.44);
    if (n == 1) {
        w[0] = T(lift);
        return;
    }
    const double step = kTwoPi / double(n - 1);
    for (int k = 0; k < n; ++k) {
        const double a = step * k;
        w[k] = T((0.3635819 - 0.4891775 * std::cos(a) + 0.1365995 * std::cos(2 * a)
                  - 0.0106411 * std::cos(3 * a)) * lift);
    }
}

} // namespace ox::vec
