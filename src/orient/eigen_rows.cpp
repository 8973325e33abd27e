// Row-wise eigen-analysis, written once over N-lane vectors: N = 1 (the scalar path, also
// used for the columns after the last full vector), the baseline processor's two lanes and,
// on x86 with AVX2, four lanes chosen at run time. All give the same bits.
#include "orient/eigen_rows.hpp"

#include <atomic>
#include <cmath>
#include <cstdint>

#include "core/cpu.hpp"
#include "core/lanes.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {

namespace {

constexpr std::size_t chunk = 64;

// Square roots lane by lane: each is the exactly rounded IEEE result, as in tensor_eigen.
template <class V>
TAZMIR_INLINE V lane_sqrt(V x) {
  for (std::size_t k = 0; k < sizeof x / sizeof x[0]; ++k) x[k] = std::sqrt(x[k]);
  return x;
}

// The operations of tensor_eigen in the same order, N pixels at a time, from pixel p on;
// the atan2 arguments go to numerator[i] and denominator[i]. The division is made for every
// pixel and its result kept only where s > 1e-15 (false for NaN): the same value, no branch.
template <std::size_t N>
TAZMIR_INLINE void eigen_lanes(const double* sxx, const double* sxy, const double* syy,
                               std::size_t p, std::size_t i, double* coherence,
                               double* lambda1, double* lambda2, double* numerator,
                               double* denominator) {
  using V = simd::Lanes<double, N>;
  using Mask = simd::Lanes<std::int64_t, N>;
  const V a = simd::load<V>(sxx + p), b = simd::load<V>(sxy + p), c = simd::load<V>(syy + p);
  const V d = a - c;
  const V root = lane_sqrt((simd::splat<V>(4.0) * b) * b + d * d);
  const V l1 = ((a + c) + root) * simd::splat<V>(0.5);
  const V l2 = ((a + c) - root) * simd::splat<V>(0.5);
  const V s = l1 + l2;
  const V ratio = (l1 - l2) / s;
  const Mask oriented = s > simd::splat<V>(1e-15);
  simd::store(coherence + p, reinterpret_cast<V>(reinterpret_cast<Mask>(ratio) & oriented));
  if (lambda1 != nullptr) {
    simd::store(lambda1 + p, l1);
    simd::store(lambda2 + p, l2);
  }
  simd::store(numerator + i, b + b);
  simd::store(denominator + i, d);
}

template <std::size_t N>
TAZMIR_INLINE void eigen_row(const double* sxx, const double* sxy, const double* syy,
                             std::size_t count, double* theta, double* coherence,
                             double* lambda1, double* lambda2) {
  double numerator[chunk];
  double denominator[chunk];
  for (std::size_t start = 0; start < count; start += chunk) {
    const std::size_t n = count - start < chunk ? count - start : chunk;
    std::size_t i = 0;
    for (; i + N <= n; i += N) {
      eigen_lanes<N>(sxx, sxy, syy, start + i, i, coherence, lambda1, lambda2, numerator,
                     denominator);
    }
    for (; i < n; ++i) {
      eigen_lanes<1>(sxx, sxy, syy, start + i, i, coherence, lambda1, lambda2, numerator,
                     denominator);
    }
    for (std::size_t k = 0; k < n; ++k) {
      theta[start + k] = structure_angle(numerator[k], denominator[k]);
    }
  }
}

#if TAZMIR_X86
TAZMIR_AVX2 void eigen_row_avx2(const double* sxx, const double* sxy, const double* syy,
                                std::size_t count, double* theta, double* coherence,
                                double* lambda1, double* lambda2) {
  eigen_row<4>(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
}
#endif

std::atomic<int> forced_lanes{0};

}  // namespace

void tensor_eigen_row(const double* sxx, const double* sxy, const double* syy,
                      std::size_t count, double* theta, double* coherence, double* lambda1,
                      double* lambda2) {
  if (lambda1 == nullptr || lambda2 == nullptr) lambda1 = lambda2 = nullptr;
  const int lanes = forced_lanes.load(std::memory_order_relaxed);
  if (lanes == 1) return eigen_row<1>(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
#if TAZMIR_X86
  if (lanes == 0 && cpu_has_avx2()) {
    return eigen_row_avx2(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
  }
#endif
  eigen_row<2>(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
}

void use_eigen_lanes_for_testing(int lanes) { forced_lanes.store(lanes); }

}  // namespace tazmir::orient
