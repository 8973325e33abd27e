// The permutation test: pooled shuffles, group means and the add-one p-value.
#include "stats/permutation.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace tazmir::stats {

namespace {

constexpr std::uint64_t u32_max = 0xFFFFFFFFu;

// Sums two independent slices, each strictly left to right from -0.0. Interleaving the
// two dependency chains keeps both exact while letting the additions overlap.
std::pair<double, double> sequential_sums(const double* a, std::size_t n_a, const double* b,
                                          std::size_t n_b) noexcept {
  double sum_a = -0.0;
  double sum_b = -0.0;
  const std::size_t common = n_a < n_b ? n_a : n_b;
  std::size_t t = 0;
  for (; t < common; ++t) {
    sum_a += a[t];
    sum_b += b[t];
  }
  for (std::size_t u = t; u < n_a; ++u) sum_a += a[u];
  for (std::size_t u = t; u < n_b; ++u) sum_b += b[u];
  return {sum_a, sum_b};
}

}  // namespace

void shuffle(std::span<double> values, ChaCha12Generator& generator) noexcept {
  const std::size_t length = values.size();
  if (length < 2) return;
  double* data = values.data();
  std::size_t i = length - 1;
  // Bounds beyond 32 bits draw 64-bit words; everything below takes the 32-bit path.
  for (; i + 1 > u32_max; --i) std::swap(data[i], data[uniform_index(generator, i + 1)]);
  // The draws of a stretch are made first and the swaps after: the swaps never feed back
  // into the draws, so they need not wait on them.
  constexpr std::uint32_t stretch = 1024;
  std::uint32_t js[stretch];
  while (i >= 1) {
    const auto top = static_cast<std::uint32_t>(i);
    const std::uint32_t count = top < stretch ? top : stretch;
    generator.draw_descending(top, count, js);
    for (std::uint32_t k = 0; k < count; ++k) std::swap(data[top - k], data[js[k]]);
    i -= count;
  }
}

PermutationResult permutation_test(std::span<const double> values_a,
                                   std::span<const double> values_b,
                                   std::uint64_t n_permutations, std::uint64_t seed) {
  const std::size_t n_a = values_a.size();
  const std::size_t n_b = values_b.size();
  const double count_a = static_cast<double>(n_a);
  const double count_b = static_cast<double>(n_b);
  const auto [sum_a, sum_b] = sequential_sums(values_a.data(), n_a, values_b.data(), n_b);
  const double observed = sum_a / count_a - sum_b / count_b;
  const double threshold = std::fabs(observed);

  std::vector<double> pool;
  pool.reserve(n_a + n_b);
  pool.insert(pool.end(), values_a.begin(), values_a.end());
  pool.insert(pool.end(), values_b.begin(), values_b.end());
  ChaCha12Generator generator = seed_from_u64(seed);

  std::uint64_t count = 0;
  for (std::uint64_t p = 0; p < n_permutations; ++p) {
    shuffle(pool, generator);
    const auto [perm_sum_a, perm_sum_b] =
        sequential_sums(pool.data(), n_a, pool.data() + n_a, n_b);
    const double perm_a = perm_sum_a / count_a;
    const double perm_b = perm_sum_b / count_b;
    // A NaN on either side fails the comparison and never counts.
    if (std::fabs(perm_a - perm_b) >= threshold) ++count;
  }
  const double p_value =
      static_cast<double>(count + 1) / static_cast<double>(n_permutations + 1);
  return {observed, p_value, n_permutations};
}

}  // namespace tazmir::stats
