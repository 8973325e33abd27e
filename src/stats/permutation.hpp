// Two-sample, two-sided permutation test of the difference of means, reproducible from a seed.
#pragma once

#include <cstdint>
#include <span>

#include "stats/chacha_generator.hpp"

namespace tazmir::stats {

struct PermutationResult {
  double observed;               ///< mean(A) - mean(B)
  double p_value;                ///< (count + 1) / (n_permutations + 1)
  std::uint64_t n_permutations;  ///< the requested count, echoed
};

/// Fisher-Yates from the end: for i = L-1 down to 1 swap elements i and
/// uniform_index(i + 1). Slices of length 0 or 1 draw nothing.
void shuffle(std::span<double> values, ChaCha12Generator& generator) noexcept;

/// Shuffles the pool (A then B, never restored between shuffles) `n_permutations` times
/// with a generator seeded from `seed`, counting |mean_a - mean_b| >= |observed|.
PermutationResult permutation_test(std::span<const double> values_a,
                                   std::span<const double> values_b,
                                   std::uint64_t n_permutations, std::uint64_t seed);

}  // namespace tazmir::stats
