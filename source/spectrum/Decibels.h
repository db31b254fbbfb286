#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zorvaniddc {

// v[k] <- 10 log10(v[k] + 1e-19) for power values (>= 0), so an empty bin reads
// -190 dB. A branch-free log the compiler vectorises: x = m 2^e with m in
// [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s), s = (m-1)/(m+1), series to s^9
// (|s| < 0.172, truncation below 1e-9, so float rounding dominates).
inline void powerToDb(float* v, size_t n)
{
    constexpr float kTenOverLn10 = 4.342944819f;
    constexpr float kLn2 = 0.693147181f;
    for (size_t k = 0; k < n; ++k) {
        const float x = v[k] + 1e-19f;
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        // Re-bias so that the mantissa lands in [sqrt(1/2), sqrt(2)).
        const uint32_t shifted = bits + (0x3f800000u - 0x3f3504f3u);
        const int32_t e = int32_t(shifted >> 23) - 127;
        const uint32_t mbits = (shifted & 0x007fffffu) + 0x3f3504f3u;
        float m;
        std::memcpy(&m, &mbits, sizeof m);
        const float s = (m - 1.0f) / (m + 1.0f);
        const float s2 = s * s;
        const float series = 1.0f + s2 * (1.0f / 3 + s2 * (1.0f / 5 + s2 * (1.0f / 7 + s2 * (1.0f / 9))));
        v[k] = kTenOverLn10 * (2.0f * s * series + float(e) * kLn2);
    }
}

} // namespace zorvaniddc
