// Cheap pre-test of point pairs on squared distances that never changes which pairs count.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/contour.hpp"

namespace tazmir::stats {

/// A squared distance above this bound gives a distance sqrt(d2) >= limit once rounded:
/// the bound is at least the exact square of `limit` (one ulp above its rounded square),
/// and the correctly rounded square root is monotone. NaN for a NaN limit (nothing
/// passes the "above" test then, so every pair is examined).
inline double squared_distance_bound(double limit) noexcept {
  return std::nextafter(limit * limit, std::numeric_limits<double>::infinity());
}

/// Squared distances from `p` to q[0 .. len), and the positions t whose squared distance
/// is not above `bound` (a NaN stays), in order, gathered without branching (whether a
/// pair is near follows no pattern a branch predictor could learn). Returns their number.
inline std::size_t near_pairs(Point p, const Point* q, std::size_t len, double bound,
                              double* squared, std::uint32_t* near) noexcept {
  for (std::size_t t = 0; t < len; ++t) {
    const double dx = p.x - q[t].x;
    const double dy = p.y - q[t].y;
    squared[t] = dx * dx + dy * dy;
  }
  std::size_t n_near = 0;
  for (std::size_t t = 0; t < len; ++t) {
    near[n_near] = static_cast<std::uint32_t>(t);
    n_near += squared[t] > bound ? 0 : 1;
  }
  return n_near;
}

}  // namespace tazmir::stats
