#pragma once

#include <cstddef>

namespace zorvaniddc {

// out[k] = 10 log10(in[k] * scale + 1e-19) + offset (dB) for power values
// (>= 0), so an empty bin reads -190 dB; in and out may be the same array.
// A branch-free log the compiler vectorises (about 9x faster than log10f
// here): x = m 2^e with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s) with
// s = (m-1)/(m+1), series to s^5: |s| < 0.172 bounds the truncation by 6e-6
// dB, below the float resolution of a -100 dB value.
void powerToDb(const float* in, float* out, size_t n, float scale = 1.0f, float offset = 0.0f);

inline void powerToDb(float* v, size_t n)
{
    powerToDb(v, v, n);
}

} // namespace zorvaniddc
