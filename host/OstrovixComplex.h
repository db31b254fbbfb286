#pragma once

// The host's sample type: a plain pair, layout-compatible with T[2].
namespace Ostrovix {

template <typename T>
struct complex {
    T re;
    T im;
};

static_assert(sizeof(complex<double>) == 2 * sizeof(double), "complex<double> must be a plain pair");
static_assert(sizeof(complex<float>) == 2 * sizeof(float), "complex<float> must be a plain pair");

} // namespace Ostrovix
