// Structure tensors of one or several scales of an image, computed in rolling row windows.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "orient/gradient.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {

/// Output rows per group of the rolling form.
inline constexpr std::size_t group_rows = 16;

/// One smoothing scale: its kernel (2R + 1 weights), radius and targets.
struct RollingScale {
  const std::vector<double>* kernel;
  std::size_t radius;
  TensorTargets targets;
};

/// Ring rows a scale of radius R needs when the rows are smoothed up to `reach` rows ahead
/// of a group (reach is the largest radius computed alongside).
inline std::size_t rolling_ring_rows(std::size_t radius, std::size_t reach, std::size_t height) {
  const std::size_t rows = radius + reach + group_rows;
  return rows < height ? rows : height;
}

/// The structure tensor of every scale, each exactly as computed on its own. Each row's
/// gradient and products are computed once and smoothed along the row for every scale into
/// that scale's ring of recent rows; groups of output rows then run the vertical pass and the
/// eigen-analysis. `reach` is the largest radius of `scales`.
void rolling_tensors(const FieldView& field, std::span<const RollingScale> scales,
                     std::size_t reach);

}  // namespace tazmir::orient
