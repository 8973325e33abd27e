// Minkowski functionals, the W1 tensor, and its symmetric eigen-decomposition.
#include "shape/minkowski.hpp"

#include <array>
#include <cmath>
#include <numbers>

#include "shape/edges.hpp"

namespace tazmir::shape {

namespace {

constexpr double machine_epsilon = 2.220446049250313e-16;

struct EigenPair {
  double value;
  double ux;
  double uy;
};

// Eigenvalues and unit eigenvectors of [[a, b], [b, c]], the x-like pair first.
// An off-diagonal below rounding level counts as zero: the axes are then the eigenvectors.
// Otherwise one Jacobi rotation diagonalises the matrix exactly in real arithmetic; the
// tangent is taken as the smaller root, which keeps every step accurate to a few ulps.
std::array<EigenPair, 2> symmetric_eigen(double a, double b, double c) {
  if (std::fabs(b) <= machine_epsilon * (std::fabs(a) + std::fabs(c))) {
    return {{{a, 1.0, 0.0}, {c, 0.0, 1.0}}};
  }
  const double theta = (c - a) / (2.0 * b);
  const double sign = theta >= 0.0 ? 1.0 : -1.0;
  const double t = sign / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
  const double cs = 1.0 / std::sqrt(t * t + 1.0);
  const double sn = t * cs;
  return {{{a - t * b, cs, -sn}, {c + t * b, sn, cs}}};
}

}  // namespace

double minkowski_w0(const BoundaryContour& contour) { return contour.area(); }

double minkowski_w1(const BoundaryContour& contour) { return contour.perimeter(); }

Tensor2 minkowski_w1_tensor(const BoundaryContour& contour) {
  const std::vector<Point>& v = contour.points();
  const std::size_t n = v.size();
  double sxx = 0.0;
  double sxy = 0.0;
  double syy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto [ex, ey, length] = edge_at(v, i);
    if (length < zero_threshold) continue;  // a repeated vertex has no normal
    const double nx = ey / length;
    const double ny = -ex / length;
    sxx = sxx + (length * nx) * nx;
    sxy = sxy + (length * nx) * ny;
    syy = syy + (length * ny) * ny;
  }
  return {0.5 * sxx, 0.5 * sxy, 0.5 * sxy, 0.5 * syy};
}

Elongation elongation_from_w1_tensor(const Tensor2& w) {
  const auto [first, second] = symmetric_eigen(w.xx, w.yx, w.yy);
  // On a tie the first eigenvector wins: the x axis for a multiple of the identity.
  const bool second_larger = second.value > first.value;
  const EigenPair& major = second_larger ? second : first;
  const EigenPair& minor = second_larger ? first : second;

  const double sum = major.value + minor.value;
  const double elongation = sum > zero_threshold ? (major.value - minor.value) / sum : 0.0;

  // An axis, not a direction: fold the eigenvector's angle into [0, pi).
  double angle = std::atan2(major.uy, major.ux);
  if (angle < 0.0) angle = angle + std::numbers::pi;
  if (angle >= std::numbers::pi) angle = angle - std::numbers::pi;
  return {elongation, angle};
}

}  // namespace tazmir::shape
