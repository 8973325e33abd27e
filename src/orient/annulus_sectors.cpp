// Ring and sector sums of the nematic tensor, in one pass over the rings' bounding box.
#include "orient/annulus_sectors.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tazmir::orient {

namespace {

// The box rows (or columns) [lo, hi) that can hold points within `reach` of `centre`, as the
// analysis has always cut them: from int(centre - reach) to int(centre + reach) + 2.
void box(double centre, double reach, std::size_t size, std::size_t& lo, std::size_t& hi) {
  const double first = std::trunc(centre - reach);
  const double last = std::trunc(centre + reach) + 2.0;
  lo = first <= 0.0 ? 0 : std::min(size, static_cast<std::size_t>(first));
  hi = last <= 0.0 ? 0 : std::min(size, static_cast<std::size_t>(last));
}

}  // namespace

void annulus_sectors(const double* theta, const double* weight, std::size_t rows,
                     std::size_t cols, double row, double col, const double* edges,
                     std::size_t n_edges, std::size_t sectors, double* out) {
  if (n_edges < 2 || sectors == 0) return;
  const std::size_t rings = n_edges - 1;
  std::fill(out, out + rings * sectors * 2, 0.0);
  const double inner = edges[0];
  const double outer = edges[rings];
  std::size_t r0 = 0, r1 = 0, c0 = 0, c1 = 0;
  box(row, outer, rows, r0, r1);
  box(col, outer, cols, c0, c1);
  constexpr double two_pi = 2.0 * std::numbers::pi;
  const double per_sector = static_cast<double>(sectors) / two_pi;
  for (std::size_t y = r0; y < r1; ++y) {
    const double dy = static_cast<double>(y) - row;
    for (std::size_t x = c0; x < c1; ++x) {
      const double dx = static_cast<double>(x) - col;
      const double r = std::sqrt(dx * dx + dy * dy);
      if (!(r >= inner && r < outer)) continue;
      // The ring: the last edge not above r (edges increase).
      const auto ring = static_cast<std::size_t>(
          std::upper_bound(edges, edges + n_edges, r) - edges - 1);
      double phi = std::fmod(std::atan2(dy, dx), two_pi);
      if (phi < 0.0) phi += two_pi;
      const std::size_t sector =
          std::min(static_cast<std::size_t>(phi * per_sector), sectors - 1);
      const double t = theta[y * cols + x];
      const double w = weight[y * cols + x];
      double* sums = out + (ring * sectors + sector) * 2;
      sums[0] += w * std::cos(2.0 * t);
      sums[1] += w * std::sin(2.0 * t);
    }
  }
}

}  // namespace tazmir::orient
