// Where a pair distance falls among the sorted evaluation distances: bucket guess, exact fix-up.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

namespace tazmir::stats {

/// The first position in an ascending list of distances (no NaN) whose value is >= r.
/// A uniform bucket grid over the list's range gives a starting guess that is then moved
/// by exact comparisons, so the answer never depends on rounding in the grid; with a
/// grid several times finer than the list the guess is nearly always right, which spares
/// the unpredictable branches or long dependency chains of a binary search.
class SortedDistanceLookup {
 public:
  explicit SortedDistanceLookup(std::span<const double> sorted) : sorted_(sorted) {
    if (sorted.size() < 2) return;
    low_ = sorted.front();
    const double range = sorted.back() - low_;
    const std::size_t n_buckets = 8 * sorted.size();
    scale_ = static_cast<double>(n_buckets) / range;
    if (!(range > 0.0) || !std::isfinite(scale_) || !(scale_ > 0.0)) return;  // no grid
    first_.resize(n_buckets);
    for (std::size_t b = 0; b < n_buckets; ++b) {
      const double edge = low_ + static_cast<double>(b) / scale_;
      first_[b] = static_cast<std::size_t>(
          std::lower_bound(sorted.begin(), sorted.end(), edge) - sorted.begin());
    }
  }

  /// First position whose value is >= r (the list's length when none); r is not NaN.
  std::size_t first_at_least(double r) const noexcept {
    const std::size_t n = sorted_.size();
    std::size_t g = guess(r);
    while (g > 0 && sorted_[g - 1] >= r) --g;
    while (g < n && sorted_[g] < r) ++g;
    return g;
  }

 private:
  std::size_t guess(double r) const noexcept {
    if (first_.empty()) return 0;
    const double q = (r - low_) * scale_;
    if (!(q > 0.0)) return 0;
    const auto last = static_cast<double>(first_.size() - 1);
    return first_[q < last ? static_cast<std::size_t>(q) : first_.size() - 1];
  }

  std::span<const double> sorted_;
  double low_ = 0.0;
  double scale_ = 0.0;
  std::vector<std::size_t> first_;  // per bucket: first position >= the bucket's lower edge
};

}  // namespace tazmir::stats
