// What the processor can run: the one feature probe of the library and the one marker of
// functions compiled for AVX2. x86 intrinsics and AVX2 kernels exist only on x86; every
// other processor runs the portable path, which gives the same bits.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define TAZMIR_X86 1
/// Compiles a function for AVX2 (and BMI1, which every AVX2 processor has); call it only
/// when cpu_has_avx2().
#define TAZMIR_AVX2 __attribute__((target("avx2,bmi")))
#else
#define TAZMIR_X86 0
#endif

namespace tazmir {

/// Whether AVX2 kernels may run: an x86 processor with AVX2 and BMI1; false elsewhere.
bool cpu_has_avx2() noexcept;

}  // namespace tazmir
