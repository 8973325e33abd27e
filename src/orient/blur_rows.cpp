// Vectorised blur row kernels; SSE2 everywhere, AVX2 when the processor has it. Both paths
// perform the same multiplications and additions in the same order, so every bit agrees.
#include "orient/blur_rows.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tazmir::orient {

// The helpers below are always inlined, so no vector ever crosses a call boundary and the
// ABI note about 32-byte vectors without AVX does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef double Lanes __attribute__((vector_size(32)));  // four doubles

#define TAZMIR_INLINE inline __attribute__((always_inline))

TAZMIR_INLINE Lanes load(const double* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
TAZMIR_INLINE void store(double* p, Lanes v) { std::memcpy(p, &v, sizeof v); }
TAZMIR_INLINE Lanes splat(double x) { return Lanes{x, x, x, x}; }

// Sum of g[k] * in[c + k - R] over the terms inside the row, for one border column.
TAZMIR_INLINE void border_column(const RowTriple& rows, std::size_t width, const double* g,
                                 std::size_t radius, std::size_t c) {
  const std::size_t k_lo = c < radius ? radius - c : 0;
  const std::size_t k_hi = std::min(2 * radius, width - 1 - c + radius);
  double s0 = 0.0, s1 = 0.0, s2 = 0.0;
  for (std::size_t k = k_lo; k <= k_hi; ++k) {
    const std::size_t col = c + k - radius;
    s0 = s0 + g[k] * rows.in[0][col];
    s1 = s1 + g[k] * rows.in[1][col];
    s2 = s2 + g[k] * rows.in[2][col];
  }
  rows.out[0][c] = s0;
  rows.out[1][c] = s1;
  rows.out[2][c] = s2;
}

TAZMIR_INLINE void horizontal_body(const RowTriple& rows, std::size_t width, const double* g,
                                   std::size_t radius) {
  const std::size_t taps = 2 * radius + 1;
  // Interior columns [radius, width - radius) have every term inside the row.
  const std::size_t inner_lo = std::min(radius, width);
  const std::size_t inner_hi = width > 2 * radius ? width - radius : inner_lo;
  for (std::size_t c = 0; c < inner_lo; ++c) border_column(rows, width, g, radius, c);
  const double* in0 = rows.in[0];
  const double* in1 = rows.in[1];
  const double* in2 = rows.in[2];
  std::size_t c = inner_lo;
  for (; c + 8 <= inner_hi; c += 8) {
    const std::size_t base = c - radius;
    Lanes a0 = splat(0.0), b0 = a0, a1 = a0, b1 = a0, a2 = a0, b2 = a0;
    for (std::size_t k = 0; k < taps; ++k) {
      const Lanes gk = splat(g[k]);
      a0 = a0 + gk * load(in0 + base + k);
      b0 = b0 + gk * load(in0 + base + k + 4);
      a1 = a1 + gk * load(in1 + base + k);
      b1 = b1 + gk * load(in1 + base + k + 4);
      a2 = a2 + gk * load(in2 + base + k);
      b2 = b2 + gk * load(in2 + base + k + 4);
    }
    store(rows.out[0] + c, a0);
    store(rows.out[0] + c + 4, b0);
    store(rows.out[1] + c, a1);
    store(rows.out[1] + c + 4, b1);
    store(rows.out[2] + c, a2);
    store(rows.out[2] + c + 4, b2);
  }
  for (; c < inner_hi; ++c) {
    const std::size_t base = c - radius;
    double s0 = 0.0, s1 = 0.0, s2 = 0.0;
    for (std::size_t k = 0; k < taps; ++k) {
      s0 = s0 + g[k] * in0[base + k];
      s1 = s1 + g[k] * in1[base + k];
      s2 = s2 + g[k] * in2[base + k];
    }
    rows.out[0][c] = s0;
    rows.out[1][c] = s1;
    rows.out[2][c] = s2;
  }
  for (c = std::max(inner_hi, inner_lo); c < width; ++c) border_column(rows, width, g, radius, c);
}

TAZMIR_INLINE void vertical_body(const RowTriple& rows, std::size_t width, std::size_t stride,
                                 const double* g, std::size_t count) {
  const double* in0 = rows.in[0];
  const double* in1 = rows.in[1];
  const double* in2 = rows.in[2];
  std::size_t c = 0;
  for (; c + 8 <= width; c += 8) {
    Lanes a0 = splat(0.0), b0 = a0, a1 = a0, b1 = a0, a2 = a0, b2 = a0;
    std::size_t offset = c;
    for (std::size_t j = 0; j < count; ++j, offset += stride) {
      const Lanes gj = splat(g[j]);
      a0 = a0 + gj * load(in0 + offset);
      b0 = b0 + gj * load(in0 + offset + 4);
      a1 = a1 + gj * load(in1 + offset);
      b1 = b1 + gj * load(in1 + offset + 4);
      a2 = a2 + gj * load(in2 + offset);
      b2 = b2 + gj * load(in2 + offset + 4);
    }
    store(rows.out[0] + c, a0);
    store(rows.out[0] + c + 4, b0);
    store(rows.out[1] + c, a1);
    store(rows.out[1] + c + 4, b1);
    store(rows.out[2] + c, a2);
    store(rows.out[2] + c + 4, b2);
  }
  for (; c < width; ++c) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0;
    std::size_t offset = c;
    for (std::size_t j = 0; j < count; ++j, offset += stride) {
      s0 = s0 + g[j] * in0[offset];
      s1 = s1 + g[j] * in1[offset];
      s2 = s2 + g[j] * in2[offset];
    }
    rows.out[0][c] = s0;
    rows.out[1][c] = s1;
    rows.out[2][c] = s2;
  }
}

__attribute__((target("avx2"))) void horizontal_avx2(const RowTriple& rows, std::size_t width,
                                                     const double* g, std::size_t radius) {
  horizontal_body(rows, width, g, radius);
}
void horizontal_sse2(const RowTriple& rows, std::size_t width, const double* g,
                     std::size_t radius) {
  horizontal_body(rows, width, g, radius);
}
__attribute__((target("avx2"))) void vertical_avx2(const RowTriple& rows, std::size_t width,
                                                   std::size_t stride, const double* g,
                                                   std::size_t count) {
  vertical_body(rows, width, stride, g, count);
}
void vertical_sse2(const RowTriple& rows, std::size_t width, std::size_t stride,
                   const double* g, std::size_t count) {
  vertical_body(rows, width, stride, g, count);
}

std::atomic<bool> portable_only{false};

bool use_avx2() {
  static const bool available = __builtin_cpu_supports("avx2") != 0;
  return available && !portable_only.load(std::memory_order_relaxed);
}

}  // namespace

void use_portable_blur_for_testing(bool portable) { portable_only.store(portable); }

void blur_row_horizontal(const RowTriple& rows, std::size_t width, const double* g,
                         std::size_t radius) {
  if (use_avx2()) {
    horizontal_avx2(rows, width, g, radius);
  } else {
    horizontal_sse2(rows, width, g, radius);
  }
}

void blur_rows_vertical(const RowTriple& rows, std::size_t width, std::size_t stride,
                        const double* g, std::size_t count) {
  if (use_avx2()) {
    vertical_avx2(rows, width, stride, g, count);
  } else {
    vertical_sse2(rows, width, stride, g, count);
  }
}

}  // namespace tazmir::orient
