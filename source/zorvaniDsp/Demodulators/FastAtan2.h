#pragma once

namespace ox::dsp {

// atan2(y, x) by the rational approximation z / (1 + 0.28 z^2), error below
// 0.005 rad; the demodulator loops only need the sign and rough size of the
// phase error. Returns 0 for x = y = 0. T is float or double.
template <typename T>
inline T fastAtan2(T y, T x)
{
    constexpr T pi = T(3.14159265358979323846);
    constexpr T halfPi = T(1.57079632679489661923);
    if (x == T(0)) {
        if (y > T(0))
            return halfPi;
        return y < T(0) ? -halfPi : T(0);
    }
    const T z = y / x;
    if (z < T(1) && z > T(-1)) {
        const T a = z / (T(1) + T(0.28) * z * z);
        if (x < T(0))
            return y < T(0) ? a - pi : a + pi;
        return a;
    }
    const T a = halfPi - z / (z * z + T(0.28));
    return y < T(0) ? a - pi : a;
}

} // namespace ox::dsp
