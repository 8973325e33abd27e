// Structure tensor pipeline: gradient, products and the two blur passes fused row by row.
#include "orient/structure_tensor.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/pool.hpp"
#include "orient/blur_rows.hpp"
#include "orient/eigen_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient/row_chunks.hpp"

namespace tazmir::orient {

namespace {

// Rows per task at least, so that short rows still give tasks worth scheduling.
std::size_t row_grain(std::size_t width) { return std::max<std::size_t>(1, 4096 / width); }

// Scharr gradient of row r and the tensor products gx*gx, gx*gy, gy*gy.
void product_row(const FieldView& field, std::size_t r, double* gx, double* gy,
                 double* const products[3]) {
  scharr_row(field, r, gx, gy);
  for (std::size_t c = 0; c < field.width; ++c) {
    products[0][c] = gx[c] * gx[c];
    products[1][c] = gx[c] * gy[c];
    products[2][c] = gy[c] * gy[c];
  }
}

// Products of row r smoothed along the row, written to out[0..2].
void across_row(const FieldView& field, std::size_t r, const std::vector<double>& g,
                std::size_t radius, double* scratch, double* const out[3]) {
  const std::size_t w = field.width;
  double* gx = scratch;
  double* gy = gx + w;
  double* const products[3] = {gy + w, gy + 2 * w, gy + 3 * w};
  product_row(field, r, gx, gy, products);
  blur_row_horizontal(RowTriple{{products[0], products[1], products[2]}, {out[0], out[1], out[2]}},
                      w, g.data(), radius);
}

void eigen_row(const double* sxx, const double* sxy, const double* syy, std::size_t width,
               std::size_t offset, const TensorTargets& targets) {
  tensor_eigen_row(sxx, sxy, syy, width, targets.theta + offset, targets.coherence + offset,
                   targets.lambda1 == nullptr ? nullptr : targets.lambda1 + offset,
                   targets.lambda2 == nullptr ? nullptr : targets.lambda2 + offset);
}

// The kernel terms of output row r: weights k_lo .. k_hi meet rows first .. first + count - 1.
struct VerticalSpan {
  std::size_t k_lo;
  std::size_t first;
  std::size_t count;
};

VerticalSpan vertical_span(std::size_t r, std::size_t h, std::size_t radius) {
  const std::size_t k_lo = r < radius ? radius - r : 0;
  const std::size_t k_hi = std::min(2 * radius, h - 1 - r + radius);
  return {k_lo, r + k_lo - radius, k_hi - k_lo + 1};
}

// Unsmoothed tensor: the products go straight into the eigen-analysis.
void unsmoothed_tensor(const FieldView& field, const TensorTargets& targets) {
  const std::size_t w = field.width;
  parallel_for(0, field.height, row_grain(w), [&](std::size_t lo, std::size_t hi) {
    std::vector<double> scratch(5 * w);
    double* const products[3] = {scratch.data() + 2 * w, scratch.data() + 3 * w,
                                 scratch.data() + 4 * w};
    for (std::size_t r = lo; r < hi; ++r) {
      product_row(field, r, scratch.data(), scratch.data() + w, products);
      eigen_row(products[0], products[1], products[2], w, r * w, targets);
    }
  });
}

// Output rows per group and columns per block of the rolling form: one field's block of the
// group's smoothed rows stays in the first-level cache while all the group's rows use it.
constexpr std::size_t group_rows = 16;
constexpr std::size_t block_cols = 64;

// Each task keeps the horizontally smoothed rows it needs in a ring of `ring_rows` rows (row q
// in slot q % ring_rows) and recomputes the few rows that a chunk shares with its neighbours.
void rolling_tensor(const FieldView& field, const std::vector<double>& g, std::size_t radius,
                    std::size_t ring_rows, const TensorTargets& targets) {
  const std::size_t w = field.width;
  const std::size_t h = field.height;
  // Ring rows an odd number of cache lines apart: with a power-of-two width the rows read
  // together would otherwise compete for the same few cache sets.
  std::size_t lines = (w + 7) / 8;
  if (lines % 2 == 0) ++lines;
  const std::size_t pitch = lines * 8;
  // Chunks of several ring lengths keep the rows recomputed at chunk edges a small share.
  RowChunks chunks(h, std::max(row_grain(w), 4 * ring_rows));
  parallel_for(0, chunks.tasks(), 1, [&](std::size_t, std::size_t) {
    std::vector<double> ring(3 * ring_rows * pitch);
    std::vector<double> scratch(5 * w);
    std::vector<double> smoothed(3 * group_rows * block_cols);  // [field][row of group][column]
    // rows[(f * group_rows + i) * ring_rows + j]: row j of the vertical sum of output row
    // r0 + i in field f, set once per group rather than once per block of columns.
    std::vector<const double*> rows(3 * group_rows * ring_rows);
    auto slot = [&](std::size_t f, std::size_t q) {
      return ring.data() + (f * ring_rows + q % ring_rows) * pitch;
    };
    // Output rows [r0, r1) of one group, once the ring holds every row they reach.
    auto vertical_group = [&](std::size_t r0, std::size_t r1) {
      for (std::size_t f = 0; f < 3; ++f) {
        for (std::size_t r = r0; r < r1; ++r) {
          const VerticalSpan span = vertical_span(r, h, radius);
          const double** list = rows.data() + (f * group_rows + (r - r0)) * ring_rows;
          const double* first = slot(f, span.first);
          const double* ring_end = ring.data() + (f + 1) * ring_rows * pitch;
          for (std::size_t j = 0; j < span.count; ++j) {
            list[j] = first;
            first += pitch;
            if (first == ring_end) first -= ring_rows * pitch;
          }
        }
      }
      for (std::size_t start = 0; start < w; start += block_cols) {
        const std::size_t n = std::min(block_cols, w - start);
        for (std::size_t f = 0; f < 3; ++f) {
          for (std::size_t r = r0; r < r1; ++r) {
            const VerticalSpan span = vertical_span(r, h, radius);
            const double* const* list = rows.data() + (f * group_rows + (r - r0)) * ring_rows;
            double* out = smoothed.data() + (f * group_rows + (r - r0)) * block_cols;
            blur_column_vertical(list, out, start, n, g.data() + span.k_lo, span.count);
          }
        }
        for (std::size_t r = r0; r < r1; ++r) {
          const double* s = smoothed.data() + (r - r0) * block_cols;
          eigen_row(s, s + group_rows * block_cols, s + 2 * group_rows * block_cols, n,
                    r * w + start, targets);
        }
      }
    };
    for (std::size_t lo = 0, hi = 0; chunks.take(lo, hi);) {
      std::size_t next = lo < radius ? 0 : lo - radius;  // first row not yet smoothed
      for (std::size_t r0 = lo; r0 < hi; r0 += group_rows) {
        const std::size_t r1 = std::min(hi, r0 + group_rows);
        for (const std::size_t last = std::min(h - 1, r1 - 1 + radius); next <= last; ++next) {
          double* const out[3] = {slot(0, next), slot(1, next), slot(2, next)};
          across_row(field, next, g, radius, scratch.data(), out);
        }
        vertical_group(r0, r1);
      }
    }
  });
}

// Wide kernels relative to the image: smooth every row along the rows first, into the
// workspace, then run the vertical pass and the eigen-analysis.
void two_pass_tensor(const FieldView& field, const std::vector<double>& g, std::size_t radius,
                     const TensorTargets& targets, TensorWorkspace& workspace) {
  const std::size_t w = field.width;
  const std::size_t h = field.height;
  double* const* across = workspace.smoothed(checked_area(w, h));
  const std::size_t grain = row_grain(w);
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    std::vector<double> scratch(5 * w);
    for (std::size_t r = lo; r < hi; ++r) {
      double* const out[3] = {across[0] + r * w, across[1] + r * w, across[2] + r * w};
      across_row(field, r, g, radius, scratch.data(), out);
    }
  });
  std::array<std::vector<const double*>, 3> rows;
  for (int f = 0; f < 3; ++f) {
    for (std::size_t r = 0; r < h; ++r) rows[f].push_back(across[f] + r * w);
  }
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    std::vector<double> scratch(3 * w);
    double* s = scratch.data();
    for (std::size_t r = lo; r < hi; ++r) {
      const VerticalSpan span = vertical_span(r, h, radius);
      blur_rows_vertical(ColumnTriple{{rows[0].data() + span.first, rows[1].data() + span.first,
                                       rows[2].data() + span.first},
                                      {s, s + w, s + 2 * w}},
                         0, w, g.data() + span.k_lo, span.count);
      eigen_row(s, s + w, s + 2 * w, w, r * w, targets);
    }
  });
}

}  // namespace

double* const* TensorWorkspace::smoothed(std::size_t area) {
  if (blocks_[0].size() < area) {
    for (int i = 0; i < 3; ++i) {
      blocks_[i] = Buffer();
      blocks_[i] = Buffer::uninitialized(area);
      pointers_[i] = blocks_[i].data();
    }
  }
  return pointers_;
}

void structure_tensor_into(const FieldView& field, double sigma, const TensorTargets& targets,
                           TensorWorkspace& workspace) {
  check_row_chunks(field.width);
  if (skips_smoothing(sigma)) {
    unsmoothed_tensor(field, targets);
    return;
  }
  const std::size_t radius = gaussian_radius(sigma);
  const std::vector<double> g = gaussian_kernel(sigma, radius);
  const std::size_t h = field.height;
  if (h == 0) return;
  // The kernel has been allocated, so 2R + 1 fits. A group of output rows needs 2R + group
  // smoothed rows at most.
  const std::size_t ring_rows = std::min(2 * radius + group_rows, h);
  // Rolling rings cost ring_rows rows per running task; past the size of the whole
  // intermediate field the two-pass form is leaner.
  if (ring_rows * pool_thread_count() <= h) {
    rolling_tensor(field, g, radius, ring_rows, targets);
  } else {
    two_pass_tensor(field, g, radius, targets, workspace);
  }
}

StructureTensorResult structure_tensor(const ImageField& field, double sigma) {
  check_row_chunks(field.width);
  StructureTensorResult result{ImageField::zeros(field.width, field.height),
                               ImageField::zeros(field.width, field.height),
                               ImageField::zeros(field.width, field.height),
                               ImageField::zeros(field.width, field.height)};
  TensorWorkspace workspace;
  structure_tensor_into(field, sigma,
                        TensorTargets{result.theta.data.data(), result.coherence.data.data(),
                                      result.lambda1.data.data(), result.lambda2.data.data()},
                        workspace);
  return result;
}

}  // namespace tazmir::orient
