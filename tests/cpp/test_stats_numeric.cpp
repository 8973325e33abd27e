// Statistics helpers with exact rules: sums, float-to-index conversion, decay fit, pair weights.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include <algorithm>
#include <vector>

#include "stats/correlation.hpp"
#include "stats/distance_lookup.hpp"
#include "stats/permutation.hpp"
#include "stats/ripley.hpp"
#include "stats/saturating_cast.hpp"

namespace tazmir::stats {
namespace {

TEST(SequentialSum, StartsFromNegativeZero) {
  EXPECT_TRUE(std::signbit(sequential_sum({})));
  const double values[] = {1e16, 1.0, 1.0, -1e16};
  EXPECT_EQ(sequential_sum(values), 0.0);  // (1e16 + 1) + 1 rounds back each time
}

TEST(SaturatingToU64, EveryInputHasAValue) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::pair<double, std::uint64_t> cases[] = {
      {std::nan(""), 0},       {-inf, 0},
      {-1.5, 0},               {-0.0, 0},
      {0.0, 0},                {0.999, 0},
      {1.0, 1},                {49.99999, 49},
      {9007199254740993.0, 9007199254740992u},
      {9223372036854775808.0, 9223372036854775808u},
      {18446744073709549568.0, 18446744073709549568u},  // largest double below 2^64
      {18446744073709551616.0, max},
      {1e300, max},            {inf, max}};
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(saturating_to_u64(value), expected) << value;
  }
}

TEST(CorrelationLength, ExactExponentialGivesItsLength) {
  const double r[] = {0.5, 1.5, 2.5, 3.5};
  double g[4];
  for (int b = 0; b < 4; ++b) g[b] = std::exp(-r[b] / 2.0);
  const std::uint64_t counts[] = {5, 9, 5, 100};
  EXPECT_NEAR(correlation_length(r, g, counts), 2.0, 1e-12);
}

TEST(CorrelationLength, RulesForNoFit) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double r[] = {0.5, 1.5, 2.5};
  const double rising[] = {0.2, 0.3, 0.4};
  const std::uint64_t many[] = {10, 10, 10};
  const std::uint64_t few[] = {10, 4, 4};
  EXPECT_EQ(correlation_length(r, rising, many), inf);
  EXPECT_EQ(correlation_length(r, rising, few), inf);  // one kept bin
  const double low[] = {0.5, 0.01, -0.5};
  EXPECT_EQ(correlation_length(r, low, many), inf);  // 0.01 is not above the floor
  const double flat[] = {1.0, 1.0, 1.0};
  EXPECT_EQ(correlation_length(r, flat, many), inf);  // slope exactly 0
  EXPECT_EQ(correlation_length({}, {}, {}), inf);
  const double same_r[] = {1.0, 1.0, 1.0};
  const double falling[] = {0.9, 0.5, 0.2};
  EXPECT_EQ(correlation_length(same_r, falling, many), inf);  // D = 0
  const double nan_r[] = {1.0, inf, 2.0};
  EXPECT_TRUE(std::isnan(correlation_length(nan_r, falling, many)));
}

TEST(Ripley, PairWeight) {
  EXPECT_EQ(ripley_pair_weight(0.0, -5.0), 2.0);
  EXPECT_EQ(ripley_pair_weight(1.0, 1.0), 2.0);
  EXPECT_EQ(ripley_pair_weight(1.0, 0.5), 4.0);
  EXPECT_EQ(ripley_pair_weight(1.0, 0.25), 8.0);
  EXPECT_EQ(ripley_pair_weight(1.0, 0.1), 8.0);
  EXPECT_EQ(ripley_pair_weight(1.0, -3.0), 8.0);
  EXPECT_EQ(ripley_pair_weight(1.0, std::nan("")), 8.0);
  EXPECT_EQ(ripley_pair_weight(2.0, 1.6), 2.5);
}

TEST(Ripley, BorderDistanceIgnoresNanSides) {
  const std::array<double, 4> box = {0.0, 0.0, 10.0, 4.0};
  EXPECT_EQ(border_distance({3.0, 1.0}, box), 1.0);
  EXPECT_EQ(border_distance({9.5, 2.0}, box), 0.5);
  EXPECT_EQ(border_distance({-1.0, 2.0}, box), -1.0);
  const double nan = std::nan("");
  EXPECT_EQ(border_distance({3.0, 1.0}, {nan, 0.0, 10.0, nan}), 1.0);
  EXPECT_EQ(border_distance({3.0, 1.0}, {0.0, nan, nan, nan}), 3.0);
  EXPECT_TRUE(std::isnan(border_distance({nan, nan}, box)));
}

// The bucket grid only guesses; every answer must be std::lower_bound's.
TEST(SortedDistanceLookup, AgreesWithLowerBound) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<double>> lists = {
      {0.5},
      {0.1, 0.1, 0.1},
      {-2.0, -0.0, 0.0, 1e-300, 0.3, 0.3, 0.7, 5.0},
      {0.0, 1e-3, 2e-3, 0.25, 0.25000000000000006, 1e6},
      {-inf, 0.0, 1.0},
      {0.0, 1.0, inf},
      {-1e308, 1e308}};
  const double probes[] = {-inf, -3.0, -2.0, -0.0, 0.0, 1e-300, 1e-3, 0.0999, 0.1, 0.2,
                           0.25, 0.25000000000000006, 0.3, 0.5, 0.7000001, 5.0, 1e6, 1e308,
                           inf};
  for (const auto& list : lists) {
    const SortedDistanceLookup lookup(list);
    for (const double r : probes) {
      const auto expected = static_cast<std::size_t>(
          std::lower_bound(list.begin(), list.end(), r) - list.begin());
      EXPECT_EQ(lookup.first_at_least(r), expected) << "r " << r << " in a list of " << list.size();
    }
  }
}

}  // namespace
}  // namespace tazmir::stats
