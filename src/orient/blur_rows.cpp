// Vectorised blur row kernels, written once over four-lane generic vectors and compiled for
// the baseline processor and, on x86, for AVX2 (chosen at run time). Both builds perform the
// same multiplications and additions in the same order, so every bit agrees.
#include "orient/blur_rows.hpp"

#include <algorithm>
#include <atomic>

#include "core/cpu.hpp"
#include "core/lanes.hpp"

namespace tazmir::orient {

namespace {

using Lanes = simd::Lanes<double, 4>;

TAZMIR_INLINE Lanes load(const double* p) { return simd::load<Lanes>(p); }
TAZMIR_INLINE void store(double* p, const Lanes& v) { simd::store(p, v); }
TAZMIR_INLINE Lanes splat(double x) { return simd::splat<Lanes>(x); }

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

// Vertical pass of one field: 32 columns at a time, their partial sums held in eight
// registers (enough independent chains to hide the latency of each addition) while the rows
// pass by in increasing j.
TAZMIR_INLINE void vertical_field(const double* const* in, double* out, std::size_t first_col,
                                  std::size_t width, const double* g, std::size_t count) {
  std::size_t c = 0;
  for (; c + 32 <= width; c += 32) {
    Lanes a[8];
    for (Lanes& lane : a) lane = splat(0.0);
    for (std::size_t j = 0; j < count; ++j) {
      const Lanes gj = splat(g[j]);
      const double* row = in[j] + first_col + c;
      for (std::size_t q = 0; q < 8; ++q) a[q] = a[q] + gj * load(row + 4 * q);
    }
    for (std::size_t q = 0; q < 8; ++q) store(out + c + 4 * q, a[q]);
  }
  for (; c + 4 <= width; c += 4) {
    Lanes a0 = splat(0.0);
    for (std::size_t j = 0; j < count; ++j) a0 = a0 + splat(g[j]) * load(in[j] + first_col + c);
    store(out + c, a0);
  }
  for (; c < width; ++c) {
    double sum = 0.0;
    for (std::size_t j = 0; j < count; ++j) sum = sum + g[j] * in[j][first_col + c];
    out[c] = sum;
  }
}


#if TAZMIR_X86
TAZMIR_AVX2 void horizontal_avx2(const RowTriple& rows, std::size_t width, const double* g,
                                 std::size_t radius) {
  horizontal_body(rows, width, g, radius);
}
TAZMIR_AVX2 void vertical_avx2(const double* const* in, double* out, std::size_t first_col,
                               std::size_t width, const double* g, std::size_t count) {
  vertical_field(in, out, first_col, width, g, count);
}
#endif

std::atomic<bool> portable_only{false};

#if TAZMIR_X86
bool use_avx2() { return cpu_has_avx2() && !portable_only.load(std::memory_order_relaxed); }
#endif

}  // namespace

void use_portable_blur_for_testing(bool portable) { portable_only.store(portable); }

void blur_row_horizontal(const RowTriple& rows, std::size_t width, const double* g,
                         std::size_t radius) {
#if TAZMIR_X86
  if (use_avx2()) return horizontal_avx2(rows, width, g, radius);
#endif
  horizontal_body(rows, width, g, radius);
}

void blur_column_vertical(const double* const* in, double* out, std::size_t first_col,
                          std::size_t width, const double* g, std::size_t count) {
#if TAZMIR_X86
  if (use_avx2()) return vertical_avx2(in, out, first_col, width, g, count);
#endif
  vertical_field(in, out, first_col, width, g, count);
}

void blur_rows_vertical(const ColumnTriple& rows, std::size_t first_col, std::size_t width,
                        const double* g, std::size_t count) {
  for (int f = 0; f < 3; ++f) {
    blur_column_vertical(rows.in[f], rows.out[f], first_col, width, g, count);
  }
}

}  // namespace tazmir::orient
