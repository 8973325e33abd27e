// Pair loop of G_k(r) into equal-width distance bins and the exponential-decay fit.
#include "stats/correlation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/panic.hpp"
#include "stats/saturating_cast.hpp"

namespace tazmir::stats {

namespace {

constexpr double min_distance = 1e-15;  // coincident centroids never count
constexpr std::size_t distance_block = 256;

}  // namespace

CorrelationResult orientational_correlation(std::span<const Point> centroids,
                                            std::span<const double> thetas, std::uint32_t k,
                                            std::size_t n_bins, double max_r) {
  const std::size_t n = centroids.size();
  const std::size_t n_angles = thetas.size();
  const double order = static_cast<double>(k);
  // The width is computed once; every bin index comes from r / width.
  const double width = max_r / static_cast<double>(n_bins);

  std::vector<double> sums = alloc_zeros(n_bins);
  std::vector<std::uint64_t> counts(n_bins, 0);

  // No pair can land in a bin when there are none, so no angle would be read either.
  const bool any_bin = n_bins != 0;
  double distances[distance_block];
  for (std::size_t i = 0; any_bin && i < n; ++i) {
    const Point p = centroids[i];
    for (std::size_t first = i + 1; first < n; first += distance_block) {
      const std::size_t len = std::min(distance_block, n - first);
      const Point* q = centroids.data() + first;
      for (std::size_t t = 0; t < len; ++t) {
        const double dx = p.x - q[t].x;
        const double dy = p.y - q[t].y;
        distances[t] = std::sqrt(dx * dx + dy * dy);
      }
      for (std::size_t t = 0; t < len; ++t) {
        const double r = distances[t];
        // A NaN distance fails both tests and lands in bin 0.
        if (r >= max_r || r < min_distance) continue;
        const std::uint64_t b = saturating_to_u64(r / width);
        if (b >= n_bins) continue;  // r just below max_r whose quotient rounds up
        const std::size_t j = first + t;
        check_index(i, n_angles);
        check_index(j, n_angles);
        sums[b] += std::cos((thetas[i] - thetas[j]) * order);
        counts[b] += 1;
      }
    }
  }

  CorrelationResult result;
  result.r_bins.resize(n_bins);
  result.g_values.resize(n_bins);
  for (std::size_t b = 0; b < n_bins; ++b) {
    result.r_bins[b] = (static_cast<double>(b) + 0.5) * width;
    result.g_values[b] = counts[b] != 0 ? sums[b] / static_cast<double>(counts[b]) : 0.0;
  }
  result.correlation_length = correlation_length(result.r_bins, result.g_values, counts);
  result.counts = std::move(counts);
  return result;
}

double correlation_length(std::span<const double> r_bins, std::span<const double> g_values,
                          std::span<const std::uint64_t> counts) noexcept {
  constexpr double infinity = std::numeric_limits<double>::infinity();
  double sx = 0.0;
  double sy = 0.0;
  double sxx = 0.0;
  double sxy = 0.0;
  double n = 0.0;
  for (std::size_t b = 0; b < g_values.size(); ++b) {
    // Also drops NaN, zero and negative means before the logarithm.
    if (!(g_values[b] > 0.01) || counts[b] < 5) continue;
    const double x = r_bins[b];
    const double y = std::log(g_values[b]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += y * x;
    n += 1.0;
  }
  if (n < 2.0) return infinity;
  const double denominator = n * sxx - sx * sx;
  if (std::fabs(denominator) < 1e-15) return infinity;
  const double slope = (n * sxy - sy * sx) / denominator;
  if (slope >= 0.0) return infinity;  // no decay
  return -1.0 / slope;                 // NaN slope stays NaN
}

}  // namespace tazmir::stats
