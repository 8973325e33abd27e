// Structure tensor: local orientation (theta) and its coherence at every pixel of an image.
#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <span>

#include "core/buffer.hpp"
#include "core/field.hpp"
#include "orient/gradient.hpp"

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

/// The angle along the structures from the atan2 arguments 2b and a - c, folded into [0, pi).
inline double structure_angle(double numerator, double denominator) {
  constexpr double pi = std::numbers::pi;
  double theta = std::atan2(numerator, denominator) * 0.5 + pi / 2;  // pi / 2 is exact
  if (theta < 0.0) theta = theta + pi;
  if (theta >= pi) theta = -pi + theta;
  return theta;
}

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
  return {structure_angle(b + b, d), coherence, lambda1, lambda2};
}

/// Where the per-pixel results go: arrays of width * height values; the eigenvalues are
/// written only when both lambda targets are given.
struct TensorTargets {
  double* theta = nullptr;
  double* coherence = nullptr;
  double* lambda1 = nullptr;
  double* lambda2 = nullptr;
};

/// The horizontally smoothed products of the two-pass form (kernels wide compared with the
/// image), kept so that several scales of one image reuse the same memory.
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
void structure_tensor_into(const FieldView& field, double sigma, const TensorTargets& targets,
                           TensorWorkspace& workspace);

/// The structure tensor of `field` at every scale of `sigmas`, scale s written into
/// targets[s], each exactly as `structure_tensor_into` gives it alone. Scales that fit share
/// one pass over the image (each row's gradient and products are computed once). Width 0 with
/// at least one scale is the internal failure "chunk_size must not be zero".
void structure_tensors_into(const FieldView& field, std::span<const double> sigmas,
                            std::span<const TensorTargets> targets, TensorWorkspace& workspace);

/// The full result record of the structure tensor at scale `sigma`.
StructureTensorResult structure_tensor(const ImageField& field, double sigma);

}  // namespace tazmir::orient
