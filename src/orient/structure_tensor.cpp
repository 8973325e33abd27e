// Structure tensor: the unsmoothed, rolling and two-pass forms and the public entry points.
#include "orient/structure_tensor.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "core/pool.hpp"
#include "orient/blur_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient/rolling_tensor.hpp"
#include "orient/tensor_rows.hpp"

namespace tazmir::orient {

namespace {

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

void structure_tensors_into(const FieldView& field, std::span<const double> sigmas,
                            std::span<const TensorTargets> targets, TensorWorkspace& workspace) {
  if (sigmas.empty()) return;
  check_row_chunks(field.width);
  const std::size_t h = field.height;
  // Kernels first, in the order of the scales, so that one that cannot be held fails before
  // any work is done.
  std::vector<std::vector<double>> kernels(sigmas.size());
  std::vector<std::size_t> radii(sigmas.size(), 0);
  for (std::size_t s = 0; s < sigmas.size(); ++s) {
    if (skips_smoothing(sigmas[s])) continue;
    radii[s] = gaussian_radius(sigmas[s]);
    kernels[s] = gaussian_kernel(sigmas[s], radii[s]);
  }
  if (h == 0) return;
  const std::size_t threads = pool_thread_count();
  // Scales share a rolling pass while all their rings, on every task, stay within the size
  // of one intermediate field; a wider kernel relative to the image takes the two-pass form.
  std::vector<RollingScale> batch;
  std::size_t reach = 0;
  auto flush = [&] {
    rolling_tensors(field, batch, reach);
    batch.clear();
    reach = 0;
  };
  auto ring_total = [&](std::size_t with_reach) {
    std::size_t rows = 0;
    for (const RollingScale& scale : batch) rows += rolling_ring_rows(scale.radius, with_reach, h);
    return rows;
  };
  for (std::size_t s = 0; s < sigmas.size(); ++s) {
    if (skips_smoothing(sigmas[s])) {
      unsmoothed_tensor(field, targets[s]);
      continue;
    }
    const std::size_t radius = radii[s];
    if (rolling_ring_rows(radius, radius, h) * threads > h) {
      two_pass_tensor(field, kernels[s], radius, targets[s], workspace);
      continue;
    }
    const std::size_t wider = std::max(reach, radius);
    batch.push_back({&kernels[s], radius, targets[s]});
    if (batch.size() > 1 && ring_total(wider) * threads > h) {
      batch.pop_back();
      flush();
      batch.push_back({&kernels[s], radius, targets[s]});
      reach = radius;
    } else {
      reach = wider;
    }
  }
  if (!batch.empty()) flush();
}

void structure_tensor_into(const FieldView& field, double sigma, const TensorTargets& targets,
                           TensorWorkspace& workspace) {
  structure_tensors_into(field, std::span<const double>(&sigma, 1),
                         std::span<const TensorTargets>(&targets, 1), workspace);
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
