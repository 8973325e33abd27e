// Structure tensor pipeline: gradient, products and the two blur passes fused row by row.
#include "orient/structure_tensor.hpp"

#include <algorithm>
#include <vector>

#include "core/pool.hpp"
#include "orient/blur_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"

namespace tazmir::orient {

namespace {

// Rows per task at least, so that short rows still give tasks worth scheduling.
std::size_t row_grain(std::size_t width) { return std::max<std::size_t>(1, 4096 / width); }

// Scharr gradient of row r and the tensor products gx*gx, gx*gy, gy*gy.
void product_row(const ImageField& field, std::size_t r, double* gx, double* gy,
                 double* const products[3]) {
  scharr_row(field, r, gx, gy);
  for (std::size_t c = 0; c < field.width; ++c) {
    products[0][c] = gx[c] * gx[c];
    products[1][c] = gx[c] * gy[c];
    products[2][c] = gy[c] * gy[c];
  }
}

void eigen_row(const double* sxx, const double* sxy, const double* syy, std::size_t width,
               std::size_t offset, const TensorTargets& targets) {
  for (std::size_t c = 0; c < width; ++c) {
    const TensorEigen e = tensor_eigen(sxx[c], sxy[c], syy[c]);
    targets.theta[offset + c] = e.theta;
    targets.coherence[offset + c] = e.coherence;
    if (targets.lambda1 != nullptr) targets.lambda1[offset + c] = e.lambda1;
    if (targets.lambda2 != nullptr) targets.lambda2[offset + c] = e.lambda2;
  }
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

void structure_tensor_into(const ImageField& field, double sigma, const TensorTargets& targets,
                           TensorWorkspace& workspace) {
  const std::size_t w = field.width;
  const std::size_t h = field.height;
  check_row_chunks(w);
  const bool smooth = !skips_smoothing(sigma);
  const std::size_t radius = smooth ? gaussian_radius(sigma) : 0;
  const std::vector<double> g = smooth ? gaussian_kernel(sigma, radius) : std::vector<double>();
  const std::size_t area = checked_area(w, h);
  double* const* across = workspace.smoothed(area);
  const std::size_t grain = row_grain(w);

  // Gradient, products and (when smoothing) the horizontal pass, one row at a time.
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    std::vector<double> scratch(smooth ? 5 * w : 2 * w);
    double* gx = scratch.data();
    double* gy = gx + w;
    for (std::size_t r = lo; r < hi; ++r) {
      double* const out[3] = {across[0] + r * w, across[1] + r * w, across[2] + r * w};
      if (!smooth) {
        product_row(field, r, gx, gy, out);
        continue;
      }
      double* const products[3] = {gy + w, gy + 2 * w, gy + 3 * w};
      product_row(field, r, gx, gy, products);
      blur_row_horizontal(RowTriple{{products[0], products[1], products[2]},
                                    {out[0], out[1], out[2]}},
                          w, g.data(), radius);
    }
  });

  // Vertical pass and eigen-analysis, one row at a time.
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    std::vector<double> scratch(smooth ? 3 * w : 0);
    for (std::size_t r = lo; r < hi; ++r) {
      const std::size_t offset = r * w;
      if (!smooth) {
        eigen_row(across[0] + offset, across[1] + offset, across[2] + offset, w, offset,
                  targets);
        continue;
      }
      // Rows r + k - R for k in [k_lo, k_hi] lie inside the image.
      const std::size_t k_lo = r < radius ? radius - r : 0;
      const std::size_t k_hi = std::min(2 * radius, h - 1 - r + radius);
      const std::size_t first = (r + k_lo - radius) * w;
      double* s = scratch.data();
      blur_rows_vertical(RowTriple{{across[0] + first, across[1] + first, across[2] + first},
                                   {s, s + w, s + 2 * w}},
                         w, w, g.data() + k_lo, k_hi - k_lo + 1);
      eigen_row(s, s + w, s + 2 * w, w, offset, targets);
    }
  });
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
