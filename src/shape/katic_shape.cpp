// k-atic shape spectrum of a boundary for k = 1, 2, 4, 6.
#include "shape/katic_shape.hpp"

#include <cmath>

#include "shape/edges.hpp"
#include "core/sincos.hpp"

namespace tazmir::shape {

std::array<double, 4> katic_shape_spectrum(const BoundaryContour& contour) {
  const std::vector<Point>& v = contour.points();
  const std::size_t n = v.size();
  // The four orders share one pass: each keeps its own sums in edge order, so the result
  // is that of four separate passes.
  std::array<double, 4> s{};
  std::array<double, 4> c{};
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto [ex, ey, length] = edge_at(v, i);
    if (length < zero_threshold) continue;
    const double phi = std::atan2(ey, -ex);
    // k * phi in the forms that fix its rounding: phi, phi + phi, phi * 4.0, phi * 6.0.
    const std::array<double, 4> k_phi = {phi, phi + phi, phi * 4.0, phi * 6.0};
    for (std::size_t k = 0; k < 4; ++k) {
      double sin_k = 0.0;
      double cos_k = 0.0;
      sin_cos(k_phi[k], sin_k, cos_k);
      s[k] = s[k] + length * sin_k;
      c[k] = c[k] + length * cos_k;
    }
    total = total + length;
  }
  std::array<double, 4> q{};
  if (total < zero_threshold) return q;
  for (std::size_t k = 0; k < 4; ++k) q[k] = std::sqrt(s[k] * s[k] + c[k] * c[k]) / total;
  return q;
}

}  // namespace tazmir::shape
