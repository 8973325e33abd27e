// Fourier spectrum of the radial function about the vertex mean, modes 1, 2, 3, 4, 6.
#include "shape/fourier.hpp"

#include <cmath>

#include "shape/edges.hpp"
#include "core/sincos.hpp"

namespace tazmir::shape {

std::array<double, 5> fourier_spectrum(const BoundaryContour& contour) {
  const std::vector<Point>& v = contour.points();
  const Point centre = contour.centroid();
  // Index 0 is mode 0 (the mean radius), then modes 1, 2, 3, 4, 6. Every mode keeps its
  // own sums in vertex order, so one pass gives the result of one pass per mode.
  std::array<double, 6> re{};
  std::array<double, 6> im{};
  for (const Point& p : v) {
    const double dx = p.x - centre.x;
    const double dy = p.y - centre.y;
    const double r = std::sqrt(dx * dx + dy * dy);
    const double phi = std::atan2(dy, dx);
    // Mode 0 without the library call: phi * 0.0 is +-0 (or NaN), whose sine is itself and
    // whose cosine is 1 (or NaN), which is exactly z + 1.0.
    const double zero_phi = phi * 0.0;
    re[0] = re[0] + r * (zero_phi + 1.0);
    im[0] = im[0] - r * zero_phi;
    // m * phi in the forms that fix its rounding: phi, phi + phi, phi * 3.0, 4.0, 6.0.
    const std::array<double, 5> m_phi = {phi, phi + phi, phi * 3.0, phi * 4.0, phi * 6.0};
    for (std::size_t m = 0; m < 5; ++m) {
      double sin_m = 0.0;
      double cos_m = 0.0;
      sin_cos(m_phi[m], sin_m, cos_m);
      re[m + 1] = re[m + 1] + r * cos_m;
      im[m + 1] = im[m + 1] - r * sin_m;
    }
  }
  const auto n = static_cast<double>(v.size());
  std::array<double, 6> modulus{};
  for (std::size_t m = 0; m < 6; ++m) {
    const double a = re[m] / n;
    const double b = im[m] / n;
    modulus[m] = std::sqrt(a * a + b * b);
  }
  std::array<double, 5> spectrum{};
  if (modulus[0] < zero_threshold) return spectrum;
  for (std::size_t m = 0; m < 5; ++m) spectrum[m] = modulus[m + 1] / modulus[0];
  return spectrum;
}

}  // namespace tazmir::shape
