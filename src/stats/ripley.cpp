// Ripley's K: weighted pair counts per distance, the n^2 normalisation and L - r.
#include "stats/ripley.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>

#include "core/panic.hpp"
#include "stats/distance_lookup.hpp"
#include "stats/pair_filter.hpp"

namespace tazmir::stats {

namespace {

constexpr std::size_t distance_block = 256;

// Two-operand minimum that returns the other operand when one is NaN.
inline double min_ignoring_nan(double a, double b) noexcept {
  if (std::isnan(a)) return b;
  if (std::isnan(b)) return a;
  return b < a ? b : a;
}

}  // namespace

double border_distance(Point p, const std::array<double, 4>& bbox) noexcept {
  const auto [x_min, y_min, x_max, y_max] = bbox;
  double d = min_ignoring_nan(p.x - x_min, x_max - p.x);
  d = min_ignoring_nan(d, p.y - y_min);
  return min_ignoring_nan(d, y_max - p.y);
}

double ripley_pair_weight(double r, double d_i) noexcept {
  if (r < 1e-15) return 2.0;  // coincident points
  if (d_i >= r) return 2.0;   // the circle of radius r lies inside the window
  const double ratio = d_i / r;
  // A NaN ratio takes 0.25, capping the weight at 8 like any point outside the window.
  const double t = 1.0 / (ratio > 0.25 ? ratio : 0.25);
  return t + t;
}

RipleyResult ripley_k(std::span<const Point> points, const std::array<double, 4>& bbox,
                      std::span<const double> r_values) {
  const std::size_t n = points.size();
  const std::size_t n_r = r_values.size();

  // A pair at distance r adds its weight to every r_m >= r: a suffix of the distances in
  // ascending order. Each sum still receives exactly the additions of the plain
  // pair-by-distance loop, in pair order, so the results are the same to the last bit.
  // NaN distances never count and take no part.
  std::vector<std::size_t> order(n_r);
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto kept_end = std::partition(order.begin(), order.end(), [&](std::size_t m) {
    return !std::isnan(r_values[m]);
  });
  std::stable_sort(order.begin(), kept_end,
                   [&](std::size_t a, std::size_t b) { return r_values[a] < r_values[b]; });
  const auto n_sorted = static_cast<std::size_t>(kept_end - order.begin());
  std::vector<double> sorted(n_sorted);
  for (std::size_t q = 0; q < n_sorted; ++q) sorted[q] = r_values[order[q]];
  std::vector<double> sums = alloc_zeros(n_sorted);
  const double largest = n_sorted != 0 ? sorted.back() : 0.0;
  const SortedDistanceLookup lookup(sorted);

  const double bound = squared_distance_bound(largest);
  double squared[distance_block];
  std::uint32_t near[distance_block];
  for (std::size_t i = 0; n_sorted != 0 && i < n; ++i) {
    const Point p = points[i];
    const double d_i = border_distance(p, bbox);
    for (std::size_t first = i + 1; first < n; first += distance_block) {
      const std::size_t len = std::min(distance_block, n - first);
      const std::size_t n_near = near_pairs(p, points.data() + first, len, bound, squared, near);
      for (std::size_t u = 0; u < n_near; ++u) {
        const double r = std::sqrt(squared[near[u]]);
        if (!(r <= largest)) continue;  // counts for no distance (also a NaN r)
        const double w = ripley_pair_weight(r, d_i);
        const std::size_t start = lookup.first_at_least(r);
        for (std::size_t s = start; s < n_sorted; ++s) sums[s] += w;
      }
    }
  }

  RipleyResult result;
  result.r_values.assign(r_values.begin(), r_values.end());
  result.k_values = alloc_zeros(n_r);  // a NaN distance keeps its zero sum
  for (std::size_t q = 0; q < n_sorted; ++q) result.k_values[order[q]] = sums[q];

  const double area = (bbox[3] - bbox[1]) * (bbox[2] - bbox[0]);
  const double count = static_cast<double>(n);
  const double factor = area / (count * count);  // n^2, not n (n - 1)
  result.l_values.resize(n_r);
  for (std::size_t m = 0; m < n_r; ++m) {
    result.k_values[m] = result.k_values[m] * factor;
    result.l_values[m] = std::sqrt(result.k_values[m] / std::numbers::pi) - r_values[m];
  }
  return result;
}

}  // namespace tazmir::stats
