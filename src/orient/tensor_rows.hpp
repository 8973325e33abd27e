// Row steps shared by the structure-tensor forms: products, eigen rows, vertical spans.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "orient/gradient.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {

/// Rows per task at least, so that short rows still give tasks worth scheduling.
inline std::size_t row_grain(std::size_t width) {
  return std::max<std::size_t>(1, 4096 / width);
}

/// Scharr gradient of row r into gx and gy, then the tensor products gx*gx, gx*gy, gy*gy.
void product_row(const FieldView& field, std::size_t r, double* gx, double* gy,
                 double* const products[3]);

/// Products of row r smoothed along the row into out[0..2]; scratch holds 5 * width values.
void across_row(const FieldView& field, std::size_t r, const std::vector<double>& g,
                std::size_t radius, double* scratch, double* const out[3]);

/// Eigen-analysis of `width` smoothed tensors into the targets from index `offset` on.
void eigen_row(const double* sxx, const double* sxy, const double* syy, std::size_t width,
               std::size_t offset, const TensorTargets& targets);

/// The kernel terms of output row r: weights k_lo .. k_lo + count - 1 meet rows first ..
/// first + count - 1, the rows that lie inside an image of height h.
struct VerticalSpan {
  std::size_t k_lo;
  std::size_t first;
  std::size_t count;
};

inline VerticalSpan vertical_span(std::size_t r, std::size_t h, std::size_t radius) {
  const std::size_t k_lo = r < radius ? radius - r : 0;
  const std::size_t k_hi = std::min(2 * radius, h - 1 - r + radius);
  return {k_lo, r + k_lo - radius, k_hi - k_lo + 1};
}

}  // namespace tazmir::orient
