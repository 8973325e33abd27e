// Structure tensor: local orientation (theta) and its coherence at every pixel of an image.
#pragma once

#include <cmath>
#include <cstddef>

#include "core/field.hpp"
#include "orient/buffer.hpp"

namespace tazmir::orient {

/// Four fields of the image's size: director angle in [0, pi), coherence, and the larger and
/// smaller eigenvalue of the smoothed tensor.
struct StructureTensorResult {
  ImageField theta;
  ImageField coherence;
  ImageField lambda1;
  ImageField lambda2;
};

/// Eigen-analysis of one smoothed tensor [[a, b], [b, c]].
struct TensorEigen {
  double theta;
  double coherence;
  double lambda1;
  double lambda2;
};

inline constexpr double pi = 3.141592653589793;
inline constexpr double half_pi = 1.5707963267948966;

/// Closed-form eigenvalues, coherence and the angle along the structures (perpendicular to
/// the dominant gradient), measured from the column axis towards the row axis, folded into
/// [0, pi). The operations run in exactly this order.
inline TensorEigen tensor_eigen(double a, double b, double c) {
  const double d = a - c;
  const double root = std::sqrt((4.0 * b) * b + d * d);
  const double lambda1 = ((a + c) + root) * 0.5;
  const double lambda2 = ((a + c) - root) * 0.5;
  const double s = lambda1 + lambda2;
  const double coherence = s > 1e-15 ? (lambda1 - lambda2) / s : 0.0;
  double theta = std::atan2(b + b, d) * 0.5 + half_pi;
  if (theta < 0.0) theta = theta + pi;
  if (theta >= pi) theta = -pi + theta;
  return {theta, coherence, lambda1, lambda2};
}

/// Where the per-pixel results go: arrays of width * height values; null lambda targets are
/// not computed.
struct TensorTargets {
  double* theta = nullptr;
  double* coherence = nullptr;
  double* lambda1 = nullptr;
  double* lambda2 = nullptr;
};

/// The horizontally smoothed products between the two blur passes, kept so that several
/// scales of one image reuse the same memory.
class TensorWorkspace {
 public:
  /// Three blocks of `area` values (allocated on first use or when the area grows).
  double* const* smoothed(std::size_t area);

 private:
  Buffer blocks_[3];
  double* pointers_[3] = {nullptr, nullptr, nullptr};
};

/// The structure tensor of `field` at scale `sigma`, written into `targets`. Gradient and
/// products feed the horizontal blur row by row; the vertical blur feeds the eigen-analysis
/// row by row; each value is what the separate stages would give. Width 0 is the internal
/// failure "chunk_size must not be zero".
void structure_tensor_into(const ImageField& field, double sigma, const TensorTargets& targets,
                           TensorWorkspace& workspace);

/// The full result record of the structure tensor at scale `sigma`.
StructureTensorResult structure_tensor(const ImageField& field, double sigma);

}  // namespace tazmir::orient
