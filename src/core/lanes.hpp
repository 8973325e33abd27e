// Lane-generic SIMD: GCC's vector types of N lanes, on which the arithmetic operators act lane
// by lane. A kernel is written once as a template over N and instantiated for the baseline
// processor (SSE2 on x86-64, NEON on aarch64), for AVX2 on x86 and for N = 1, the scalar
// path; every lane does the IEEE operation the scalar code does, so all give the same bits.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

// Kernels keep their vectors inside always-inlined helpers, so no vector crosses a call
// boundary and the ABI notes about vectors wider than the baseline registers do not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#define TAZMIR_INLINE inline __attribute__((always_inline))

namespace tazmir::simd {

template <class T, std::size_t N>
struct LaneType {
  typedef T type __attribute__((vector_size(N * sizeof(T))));
};

/// N lanes of T.
template <class T, std::size_t N>
using Lanes = typename LaneType<T, N>::type;

template <class V>
TAZMIR_INLINE V load(const void* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
TAZMIR_INLINE void store(void* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

/// Every lane set to `x`.
template <class V, class T>
TAZMIR_INLINE V splat(T x) {
  V v;
  using Lane = std::remove_reference_t<decltype(v[0])>;
  for (std::size_t i = 0; i < sizeof v / sizeof v[0]; ++i) v[i] = static_cast<Lane>(x);
  return v;
}

}  // namespace tazmir::simd
