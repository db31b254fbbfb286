#pragma once

// Marks a hot loop to be compiled twice, for the baseline x86-64 and for
// processors with AVX2 and FMA; the loader picks the version the machine runs
// (function multiversioning), so one build serves every processor. Where the
// compiler or platform cannot do that, and in sanitizer builds (whose runtime
// is not up yet when the loader picks a version), the function is compiled once.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) \
    && !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define ZORVANI_SIMD_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZORVANI_SIMD_CLONES
#endif
