// Orientational correlation G_k(r) of cell directors over distance, with its decay length.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/contour.hpp"

namespace tazmir::stats {

struct CorrelationResult {
  std::vector<double> r_bins;         ///< bin centres (b + 0.5) * w
  std::vector<double> g_values;       ///< mean cos(k (theta_i - theta_j)) per bin, 0.0 if empty
  std::vector<std::uint64_t> counts;  ///< pairs per bin
  double correlation_length;          ///< xi of the decay fit; +inf when none can be fitted
};

/// G_k(r) over every unordered pair of cells in [0, max_r) split into `n_bins` equal bins,
/// and xi = -1 / slope of ln G against r over bins with mean > 0.01 and >= 5 pairs.
/// Angles are read only for counted pairs; a missing one is an index-out-of-bounds failure.
CorrelationResult orientational_correlation(std::span<const Point> centroids,
                                            std::span<const double> thetas, std::uint32_t k,
                                            std::size_t n_bins, double max_r);

/// The correlation length of binned means: least-squares slope of ln g against r.
double correlation_length(std::span<const double> r_bins, std::span<const double> g_values,
                          std::span<const std::uint64_t> counts) noexcept;

}  // namespace tazmir::stats
