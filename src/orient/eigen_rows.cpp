// Row-wise eigen-analysis: SSE2 everywhere, AVX2 when the processor has it, same bits.
#include "orient/eigen_rows.hpp"

#include <immintrin.h>

#include <atomic>
#include <cmath>

#include "orient/structure_tensor.hpp"

namespace tazmir::orient {

namespace {

// The angle of each pixel from the stored atan2 arguments, folded into [0, pi).
inline void theta_row(const double* numerator, const double* denominator, std::size_t n,
                      double* theta) {
  for (std::size_t i = 0; i < n; ++i) {
    double t = std::atan2(numerator[i], denominator[i]) * 0.5 + half_pi;
    if (t < 0.0) t = t + pi;
    if (t >= pi) t = -pi + t;
    theta[i] = t;
  }
}

// One pixel exactly as tensor_eigen does it, for the columns left over after the vectors.
inline void eigen_pixel(double a, double b, double c, std::size_t i, double* coherence,
                        double* lambda1, double* lambda2, double* numerator,
                        double* denominator) {
  const double d = a - c;
  const double root = std::sqrt((4.0 * b) * b + d * d);
  const double l1 = ((a + c) + root) * 0.5;
  const double l2 = ((a + c) - root) * 0.5;
  const double s = l1 + l2;
  coherence[i] = s > 1e-15 ? (l1 - l2) / s : 0.0;
  if (lambda1 != nullptr) {
    lambda1[i] = l1;
    lambda2[i] = l2;
  }
  numerator[i] = b + b;
  denominator[i] = d;
}

constexpr std::size_t chunk = 64;

// The operations of tensor_eigen in the same order, several pixels at a time. The division
// is made for every pixel and its result kept only where s > 1e-15: the same value, no branch.
__attribute__((target("avx2"))) void eigen_avx2(const double* sxx, const double* sxy,
                                                const double* syy, std::size_t count,
                                                double* theta, double* coherence,
                                                double* lambda1, double* lambda2) {
  alignas(32) double numerator[chunk];
  alignas(32) double denominator[chunk];
  const __m256d four = _mm256_set1_pd(4.0), half = _mm256_set1_pd(0.5),
                tiny = _mm256_set1_pd(1e-15), zero = _mm256_setzero_pd();
  for (std::size_t start = 0; start < count; start += chunk) {
    const std::size_t n = count - start < chunk ? count - start : chunk;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      const std::size_t p = start + i;
      const __m256d a = _mm256_loadu_pd(sxx + p), b = _mm256_loadu_pd(sxy + p),
                    c = _mm256_loadu_pd(syy + p);
      const __m256d d = _mm256_sub_pd(a, c);
      const __m256d root = _mm256_sqrt_pd(
          _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(four, b), b), _mm256_mul_pd(d, d)));
      const __m256d trace = _mm256_add_pd(a, c);
      const __m256d l1 = _mm256_mul_pd(_mm256_add_pd(trace, root), half);
      const __m256d l2 = _mm256_mul_pd(_mm256_sub_pd(trace, root), half);
      const __m256d s = _mm256_add_pd(l1, l2);
      const __m256d ratio = _mm256_div_pd(_mm256_sub_pd(l1, l2), s);
      const __m256d oriented = _mm256_cmp_pd(s, tiny, _CMP_GT_OQ);
      _mm256_storeu_pd(coherence + p, _mm256_blendv_pd(zero, ratio, oriented));
      if (lambda1 != nullptr) {
        _mm256_storeu_pd(lambda1 + p, l1);
        _mm256_storeu_pd(lambda2 + p, l2);
      }
      _mm256_store_pd(numerator + i, _mm256_add_pd(b, b));
      _mm256_store_pd(denominator + i, d);
    }
    for (; i < n; ++i) {
      const std::size_t p = start + i;
      eigen_pixel(sxx[p], sxy[p], syy[p], i, coherence + start,
                  lambda1 == nullptr ? nullptr : lambda1 + start,
                  lambda2 == nullptr ? nullptr : lambda2 + start, numerator, denominator);
    }
    theta_row(numerator, denominator, n, theta + start);
  }
}

void eigen_sse2(const double* sxx, const double* sxy, const double* syy, std::size_t count,
                double* theta, double* coherence, double* lambda1, double* lambda2) {
  alignas(16) double numerator[chunk];
  alignas(16) double denominator[chunk];
  const __m128d four = _mm_set1_pd(4.0), half = _mm_set1_pd(0.5), tiny = _mm_set1_pd(1e-15);
  for (std::size_t start = 0; start < count; start += chunk) {
    const std::size_t n = count - start < chunk ? count - start : chunk;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
      const std::size_t p = start + i;
      const __m128d a = _mm_loadu_pd(sxx + p), b = _mm_loadu_pd(sxy + p),
                    c = _mm_loadu_pd(syy + p);
      const __m128d d = _mm_sub_pd(a, c);
      const __m128d root =
          _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(_mm_mul_pd(four, b), b), _mm_mul_pd(d, d)));
      const __m128d trace = _mm_add_pd(a, c);
      const __m128d l1 = _mm_mul_pd(_mm_add_pd(trace, root), half);
      const __m128d l2 = _mm_mul_pd(_mm_sub_pd(trace, root), half);
      const __m128d s = _mm_add_pd(l1, l2);
      const __m128d ratio = _mm_div_pd(_mm_sub_pd(l1, l2), s);
      const __m128d oriented = _mm_cmpgt_pd(s, tiny);  // false for NaN
      _mm_storeu_pd(coherence + p, _mm_and_pd(oriented, ratio));
      if (lambda1 != nullptr) {
        _mm_storeu_pd(lambda1 + p, l1);
        _mm_storeu_pd(lambda2 + p, l2);
      }
      _mm_store_pd(numerator + i, _mm_add_pd(b, b));
      _mm_store_pd(denominator + i, d);
    }
    for (; i < n; ++i) {
      const std::size_t p = start + i;
      eigen_pixel(sxx[p], sxy[p], syy[p], i, coherence + start,
                  lambda1 == nullptr ? nullptr : lambda1 + start,
                  lambda2 == nullptr ? nullptr : lambda2 + start, numerator, denominator);
    }
    theta_row(numerator, denominator, n, theta + start);
  }
}

std::atomic<bool> portable_only{false};

}  // namespace

void tensor_eigen_row(const double* sxx, const double* sxy, const double* syy,
                      std::size_t count, double* theta, double* coherence, double* lambda1,
                      double* lambda2) {
  static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
  if (lambda1 == nullptr || lambda2 == nullptr) lambda1 = lambda2 = nullptr;
  if (avx2 && !portable_only.load(std::memory_order_relaxed)) {
    eigen_avx2(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
  } else {
    eigen_sse2(sxx, sxy, syy, count, theta, coherence, lambda1, lambda2);
  }
}

void use_portable_eigen_for_testing(bool portable) { portable_only.store(portable); }

}  // namespace tazmir::orient
