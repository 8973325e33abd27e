// Minkowski functionals W0, W1, the rank-2 W1 tensor, and the elongation drawn from it.
#pragma once

#include "core/contour.hpp"

namespace tazmir::shape {

/// A 2x2 matrix in row-major order; the W1 tensor is symmetric (xy == yx).
struct Tensor2 {
  double xx;
  double xy;
  double yx;
  double yy;
};

/// Anisotropy in [0, 1] and the axis angle in [0, pi) of the dominant eigenvector.
struct Elongation {
  double elongation;
  double angle;
};

/// W0: the enclosed area.
double minkowski_w0(const BoundaryContour& contour);

/// W1: the full boundary length.
double minkowski_w1(const BoundaryContour& contour);

/// Half the sum over edges of L * n n^T (unit edge normal n); edges shorter than 1e-15
/// are skipped, so repeated vertices contribute nothing.
Tensor2 minkowski_w1_tensor(const BoundaryContour& contour);

/// (lmax - lmin) / (lmax + lmin) and the angle of the lmax eigenvector of a symmetric
/// matrix; elongation 0.0 when lmax + lmin is not above 1e-15.
Elongation elongation_from_w1_tensor(const Tensor2& w);

}  // namespace tazmir::shape
