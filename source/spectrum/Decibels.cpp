#include "spectrum/Decibels.h"

#include "common/SimdClones.h"

#include <cstdint>
#include <cstring>

namespace zorvaniddc {

ZORVANI_SIMD_CLONES void powerToDb(const float* in, float* out, size_t n, float scale, float offset)
{
    constexpr float kTenOverLn10 = 4.342944819f;
    constexpr float kLn2 = 0.693147181f;
    for (size_t k = 0; k < n; ++k) {
        const float x = in[k] * scale + 1e-19f;
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
        const float series = 1.0f + s2 * (1.0f / 3 + s2 * (1.0f / 5));
        out[k] = kTenOverLn10 * (2.0f * s * series + float(e) * kLn2) + offset;
    }
}

} // namespace zorvaniddc
