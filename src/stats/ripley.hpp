// Ripley's K and centred L functions of a 2-D point pattern with a border-distance correction.
#pragma once

#include <array>
#include <span>
#include <vector>

#include "core/contour.hpp"

namespace tazmir::stats {

struct RipleyResult {
  std::vector<double> r_values;  ///< copy of the input distances, same order
  std::vector<double> k_values;  ///< K(r)
  std::vector<double> l_values;  ///< sqrt(K(r) / pi) - r
};

/// K(r) = A / n^2 * sum over unordered pairs with distance <= r of the pair weight: 2, or
/// 2 / max(d_i / r, 0.25) when the first point's border distance d_i is below r.
/// `bbox` is x_min, y_min, x_max, y_max and is not validated.
RipleyResult ripley_k(std::span<const Point> points, const std::array<double, 4>& bbox,
                      std::span<const double> r_values);

/// Weight of a pair at distance r whose lower-indexed point lies d_i from the border.
double ripley_pair_weight(double r, double d_i) noexcept;

/// min(x - x_min, x_max - x, y - y_min, y_max - y) as NaN-ignoring two-operand minima.
double border_distance(Point p, const std::array<double, 4>& bbox) noexcept;

}  // namespace tazmir::stats
