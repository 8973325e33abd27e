// Rolling row windows: per-task rings of horizontally smoothed rows, blocked vertical pass.
#include "orient/rolling_tensor.hpp"

#include <algorithm>

#include "core/pool.hpp"
#include "orient/blur_rows.hpp"
#include "orient/row_chunks.hpp"
#include "orient/tensor_rows.hpp"

namespace tazmir::orient {

namespace {

// Columns per block of the vertical pass: one field's block of a group's smoothed rows stays
// in the first-level cache while all the group's rows use it.
constexpr std::size_t block_cols = 64;

// One scale's ring inside one task: row q of field f in slot q % rows, `pitch` values apart.
class ScaleRing {
 public:
  ScaleRing(const RollingScale& scale, std::size_t ring_rows, std::size_t pitch)
      : scale_(&scale),
        rows_(ring_rows),
        pitch_(pitch),
        values_(3 * ring_rows * pitch),
        lists_(3 * group_rows * ring_rows) {}

  const RollingScale& scale() const { return *scale_; }

  double* slot(std::size_t f, std::size_t q) {
    return values_.data() + (f * rows_ + q % rows_) * pitch_;
  }

  // Row pointers of the vertical sums of output rows [r0, r1), set once per group:
  // list(f, i)[j] is row j of the sum of output row r0 + i in field f.
  void point_rows(std::size_t r0, std::size_t r1, std::size_t h) {
    for (std::size_t f = 0; f < 3; ++f) {
      const double* ring_end = values_.data() + (f + 1) * rows_ * pitch_;
      for (std::size_t r = r0; r < r1; ++r) {
        const VerticalSpan span = vertical_span(r, h, scale_->radius);
        const double** list = lists_.data() + (f * group_rows + (r - r0)) * rows_;
        const double* row = slot(f, span.first);
        for (std::size_t j = 0; j < span.count; ++j) {
          list[j] = row;
          row += pitch_;
          if (row == ring_end) row -= rows_ * pitch_;
        }
      }
    }
  }

  const double* const* list(std::size_t f, std::size_t i) const {
    return lists_.data() + (f * group_rows + i) * rows_;
  }

 private:
  const RollingScale* scale_;
  std::size_t rows_;
  std::size_t pitch_;
  std::vector<double> values_;
  std::vector<const double*> lists_;
};

// Vertical pass and eigen-analysis of output rows [r0, r1) of one scale, block by block.
void vertical_group(ScaleRing& ring, std::size_t r0, std::size_t r1, std::size_t w,
                    std::size_t h, double* smoothed) {
  const RollingScale& scale = ring.scale();
  ring.point_rows(r0, r1, h);
  for (std::size_t start = 0; start < w; start += block_cols) {
    const std::size_t n = std::min(block_cols, w - start);
    for (std::size_t f = 0; f < 3; ++f) {
      for (std::size_t r = r0; r < r1; ++r) {
        const VerticalSpan span = vertical_span(r, h, scale.radius);
        double* out = smoothed + (f * group_rows + (r - r0)) * block_cols;
        blur_column_vertical(ring.list(f, r - r0), out, start, n,
                             scale.kernel->data() + span.k_lo, span.count);
      }
    }
    for (std::size_t r = r0; r < r1; ++r) {
      const double* s = smoothed + (r - r0) * block_cols;
      eigen_row(s, s + group_rows * block_cols, s + 2 * group_rows * block_cols, n,
                r * w + start, scale.targets);
    }
  }
}

}  // namespace

void rolling_tensors(const FieldView& field, std::span<const RollingScale> scales,
                     std::size_t reach) {
  const std::size_t w = field.width;
  const std::size_t h = field.height;
  if (h == 0 || scales.empty()) return;
  // Ring rows an odd number of cache lines apart: with a power-of-two width the rows of one
  // vertical sum would otherwise compete for the same few cache sets.
  std::size_t lines = (w + 7) / 8;
  if (lines % 2 == 0) ++lines;
  const std::size_t pitch = lines * 8;
  // Chunks of several window lengths keep the rows recomputed at chunk edges a small share.
  RowChunks chunks(h, std::max(row_grain(w), 4 * (2 * reach + group_rows)));
  parallel_for(0, chunks.tasks(), 1, [&](std::size_t, std::size_t) {
    std::vector<ScaleRing> rings;
    rings.reserve(scales.size());
    for (const RollingScale& scale : scales) {
      rings.emplace_back(scale, rolling_ring_rows(scale.radius, reach, h), pitch);
    }
    std::vector<double> scratch(5 * w);
    double* gx = scratch.data();
    double* gy = gx + w;
    double* const products[3] = {gy + w, gy + 2 * w, gy + 3 * w};
    std::vector<double> smoothed(3 * group_rows * block_cols);
    for (std::size_t lo = 0, hi = 0; chunks.take(lo, hi);) {
      std::size_t next = lo < reach ? 0 : lo - reach;  // first row not yet smoothed
      for (std::size_t r0 = lo; r0 < hi; r0 += group_rows) {
        const std::size_t r1 = std::min(hi, r0 + group_rows);
        for (const std::size_t last = std::min(h - 1, r1 - 1 + reach); next <= last; ++next) {
          product_row(field, next, gx, gy, products);
          for (ScaleRing& ring : rings) {
            const RollingScale& scale = ring.scale();
            if (next + scale.radius < lo) continue;  // above every window of this chunk
            double* const out[3] = {ring.slot(0, next), ring.slot(1, next), ring.slot(2, next)};
            blur_row_horizontal(RowTriple{{products[0], products[1], products[2]},
                                          {out[0], out[1], out[2]}},
                                w, scale.kernel->data(), scale.radius);
          }
        }
        for (ScaleRing& ring : rings) vertical_group(ring, r0, r1, w, h, smoothed.data());
      }
    }
  });
}

}  // namespace tazmir::orient
