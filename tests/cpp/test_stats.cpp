// Statistics pieces Python cannot reach: the ChaCha block, the generator, index draws, shuffles.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "stats/chacha_block.hpp"
#include "stats/chacha_generator.hpp"
#include "stats/correlation.hpp"
#include "stats/permutation.hpp"
#include "stats/ripley.hpp"
#include "stats/saturating_cast.hpp"

namespace tazmir::stats {
namespace {

using Key = std::array<std::uint32_t, 8>;

// RFC 8439, section 2.1.1.
TEST(ChaChaBlock, QuarterRoundTestVector) {
  ChaChaState s{};
  s[0] = 0x11111111u;
  s[1] = 0x01020304u;
  s[2] = 0x9b8d6f43u;
  s[3] = 0x01234567u;
  chacha_quarter_round(s, 0, 1, 2, 3);
  EXPECT_EQ(s[0], 0xea2a92f4u);
  EXPECT_EQ(s[1], 0xcb1cf8ceu);
  EXPECT_EQ(s[2], 0x4581472eu);
  EXPECT_EQ(s[3], 0x5881c4bbu);
}

// RFC 8439, section 2.3.2: key 00 01 .. 1f, block count 1, nonce 00:00:00:09:00:00:00:4a:
// 00:00:00:00. Its counter and nonce words are state words 12 to 15, which here are the
// 64-bit counter (words 12, 13) and the 64-bit nonce (words 14, 15).
constexpr Key rfc_key = {0x03020100u, 0x07060504u, 0x0b0a0908u, 0x0f0e0d0cu,
                         0x13121110u, 0x17161514u, 0x1b1a1918u, 0x1f1e1d1cu};
constexpr std::uint64_t rfc_counter = 0x0900000000000001u;
constexpr std::uint64_t rfc_nonce = 0x000000004a000000u;
constexpr ChaChaState rfc_block = {
    0xe4e7f110u, 0x15593bd1u, 0x1fdd0f50u, 0xc47120a3u, 0xc7f4d1c7u, 0x0368c033u,
    0x9aaa2204u, 0x4e6cd4c3u, 0x466482d2u, 0x09aa9f07u, 0x05d7c214u, 0xa2028bd9u,
    0xd19c12b5u, 0xb94e16deu, 0xe883d0cbu, 0x4e3c50a2u};

TEST(ChaChaBlock, InputLayout) {
  const ChaChaState input = chacha_input(rfc_key, rfc_counter, rfc_nonce);
  const ChaChaState expected = {0x61707865u, 0x3320646eu, 0x79622d32u, 0x6b206574u,
                                0x03020100u, 0x07060504u, 0x0b0a0908u, 0x0f0e0d0cu,
                                0x13121110u, 0x17161514u, 0x1b1a1918u, 0x1f1e1d1cu,
                                0x00000001u, 0x09000000u, 0x4a000000u, 0x00000000u};
  EXPECT_EQ(input, expected);
}

TEST(ChaChaBlock, TwentyRoundsMatchRfc8439) {
  EXPECT_EQ(chacha_block<20>(chacha_input(rfc_key, rfc_counter, rfc_nonce)), rfc_block);
}

TEST(ChaChaBlock, FourLaneKernelMatchesRfc8439) {
  std::uint32_t out[64];
  chacha_blocks4<20>(rfc_key, rfc_counter, rfc_nonce, out);
  for (int w = 0; w < 16; ++w) EXPECT_EQ(out[w], rfc_block[static_cast<std::size_t>(w)]) << w;
}

// The vectorised kernel agrees word for word with the scalar block for every lane,
// including a counter that wraps around 2^64 inside the group of four.
class FourLaneKernel : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(FourLaneKernel, EveryLaneEqualsTheScalarBlock) {
  const std::uint64_t counter = GetParam();
  const Key key = {0xdeadbeefu, 1u, 2u, 0xffffffffu, 0x80000000u, 5u, 6u, 0x12345678u};
  std::uint32_t out12[64];
  std::uint32_t out20[64];
  chacha_blocks4<12>(key, counter, 0, out12);
  chacha_blocks4<20>(key, counter, 7, out20);
  for (std::uint64_t b = 0; b < 4; ++b) {
    const ChaChaState block12 = chacha_block<12>(chacha_input(key, counter + b, 0));
    const ChaChaState block20 = chacha_block<20>(chacha_input(key, counter + b, 7));
    for (std::size_t w = 0; w < 16; ++w) {
      EXPECT_EQ(out12[16 * b + w], block12[w]) << "block " << b << " word " << w;
      EXPECT_EQ(out20[16 * b + w], block20[w]) << "block " << b << " word " << w;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Counters, FourLaneKernel,
                         ::testing::Values(0u, 1u, 0xfffffffeu, 0xffffffffffffffffu - 1u));

// PCG32 with the XSH-RR output, written independently of the generator's seeding.
Key pcg32_key(std::uint64_t state) {
  Key key{};
  for (auto& word : key) {
    state = state * 6364136223846793005u + 11634580027462260723u;
    word = std::rotr(static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27),
                     static_cast<int>(state >> 59));
  }
  return key;
}

TEST(ChaCha12Generator, SeedingIsPcg32XshRr) {
  for (const std::uint64_t seed : {0ull, 1ull, 42ull, 0xffffffffffffffffull}) {
    const ChaCha12Generator generator = seed_from_u64(seed);
    EXPECT_EQ(generator.key(), pcg32_key(seed)) << seed;
    EXPECT_EQ(generator.counter(), 0u);
    EXPECT_EQ(generator.index(), 64u);
  }
}

TEST(ChaCha12Generator, WordsAreTheTwelveRoundKeystream) {
  ChaCha12Generator generator = seed_from_u64(7);
  const Key key = pcg32_key(7);
  for (std::uint64_t block = 0; block < 9; ++block) {
    const ChaChaState expected = chacha_block<12>(chacha_input(key, block, 0));
    for (std::size_t w = 0; w < 16; ++w) ASSERT_EQ(generator.next_u32(), expected[w]);
  }
  EXPECT_EQ(generator.counter(), 12u);  // three refills of four blocks
  EXPECT_EQ(generator.index(), 16u);
}

// Word i of the 12-round keystream for `key`.
std::uint32_t keystream_word(const Key& key, std::uint64_t i) {
  return chacha_block<12>(chacha_input(key, i / 16, 0))[i % 16];
}

class NextU64 : public ::testing::TestWithParam<std::size_t> {};

TEST_P(NextU64, IsTwoConsecutiveWordsLowFirst) {
  const std::size_t skipped = GetParam();
  ChaCha12Generator generator = seed_from_u64(3);
  const Key key = pcg32_key(3);
  for (std::size_t i = 0; i < skipped; ++i) generator.next_u32();
  const std::uint64_t value = generator.next_u64();
  EXPECT_EQ(static_cast<std::uint32_t>(value), keystream_word(key, skipped));
  EXPECT_EQ(static_cast<std::uint32_t>(value >> 32), keystream_word(key, skipped + 1));
  EXPECT_EQ(generator.next_u32(), keystream_word(key, skipped + 2));
}

// 0: empty buffer; 5: inside; 62: last full pair; 63: straddles two refills; 64: empty
// after a refill.
INSTANTIATE_TEST_SUITE_P(Positions, NextU64, ::testing::Values(0u, 5u, 62u, 63u, 64u, 127u));

TEST(ChaCha12Generator, StraddleLeavesIndexOne) {
  ChaCha12Generator generator = seed_from_u64(11);
  for (int i = 0; i < 63; ++i) generator.next_u32();
  ASSERT_EQ(generator.index(), 63u);
  generator.next_u64();
  EXPECT_EQ(generator.index(), 1u);
  EXPECT_EQ(generator.counter(), 8u);
}

// Simulates the rejection rule on a copy of the generator's word stream.
std::uint64_t expected_index_u32(ChaCha12Generator copy, std::uint32_t s, int& draws) {
  const std::uint32_t zone = (s << std::countl_zero(s)) - 1u;
  for (draws = 1;; ++draws) {
    const std::uint64_t m = std::uint64_t{copy.next_u32()} * s;
    if ((m & 0xffffffffu) <= zone) return m >> 32;
  }
}

class UniformIndex32 : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(UniformIndex32, FollowsTheZoneRule) {
  const std::uint32_t s = GetParam();
  ChaCha12Generator generator = seed_from_u64(s);
  for (int trial = 0; trial < 200; ++trial) {
    int draws = 0;
    const std::uint64_t expected = expected_index_u32(generator, s, draws);
    const std::size_t before = generator.index();
    const std::uint64_t j = uniform_index(generator, s);
    ASSERT_EQ(j, expected);
    ASSERT_LT(j, s);
    ASSERT_EQ((generator.index() - before + 64) % 64, static_cast<std::size_t>(draws) % 64);
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, UniformIndex32,
                         ::testing::Values(1u, 2u, 3u, 7u, 8u, 10u, 1000u, 0x80000000u,
                                           0x80000001u, 0xffffffffu));

// The zone is (s << z) - 1 also for a power of two, so half of the words are refused
// there, not none.
TEST(UniformIndex, PowerOfTwoRejectsAboveTheZone) {
  ChaCha12Generator generator = seed_from_u64(5);
  int rejected = 0;
  for (int trial = 0; trial < 1000; ++trial) {
    int draws = 0;
    expected_index_u32(generator, 4, draws);
    rejected += draws - 1;
    uniform_index(generator, 4);
  }
  EXPECT_GT(rejected, 700);
  EXPECT_LT(rejected, 1300);
}

TEST(UniformIndex, SixtyFourBitPath) {
  const std::uint64_t s = 0x200000005ull;  // above 2^32 - 1: 64-bit words
  const std::uint64_t zone = (s << std::countl_zero(s)) - 1u;
  ChaCha12Generator generator = seed_from_u64(9);
  ChaCha12Generator copy = generator;
  for (int trial = 0; trial < 100; ++trial) {
    std::uint64_t expected = 0;
    for (;;) {
      const unsigned __int128 m = static_cast<unsigned __int128>(copy.next_u64()) * s;
      if (static_cast<std::uint64_t>(m) <= zone) {
        expected = static_cast<std::uint64_t>(m >> 64);
        break;
      }
    }
    ASSERT_EQ(uniform_index(generator, s), expected);
    ASSERT_EQ(generator.index(), copy.index());
  }
}

std::vector<double> shuffled_digits(std::uint64_t seed) {
  std::vector<double> values(10);
  std::iota(values.begin(), values.end(), 0.0);
  ChaCha12Generator generator = seed_from_u64(seed);
  shuffle(values, generator);
  return values;
}

TEST(Shuffle, WorkedExampleSeed42) {
  EXPECT_EQ(shuffled_digits(42), (std::vector<double>{7, 3, 9, 5, 0, 8, 6, 4, 2, 1}));
}

TEST(Shuffle, WorkedExampleSeed0) {
  EXPECT_EQ(shuffled_digits(0), (std::vector<double>{5, 2, 9, 1, 6, 3, 4, 0, 7, 8}));
}

TEST(Shuffle, ShortSlicesDrawNothing) {
  ChaCha12Generator generator = seed_from_u64(1);
  std::vector<double> one = {4.0};
  shuffle(std::span<double>(), generator);
  shuffle(one, generator);
  EXPECT_EQ(generator.index(), 64u);
  EXPECT_EQ(generator.counter(), 0u);
  EXPECT_EQ(one[0], 4.0);
}

TEST(Shuffle, FisherYatesFromTheEnd) {
  std::vector<double> values = {0, 1, 2, 3, 4, 5, 6};
  std::vector<double> expected = values;
  ChaCha12Generator generator = seed_from_u64(123);
  ChaCha12Generator copy = generator;
  for (std::size_t i = expected.size() - 1; i >= 1; --i) {
    std::swap(expected[i], expected[uniform_index(copy, i + 1)]);
  }
  shuffle(values, generator);
  EXPECT_EQ(values, expected);
  EXPECT_EQ(generator.index(), copy.index());
}

TEST(PermutationTest, WorkedExample) {
  const double a[] = {1.0, 2.0, 3.0};
  const double b[] = {4.0, 5.0, 6.0};
  const PermutationResult result = permutation_test(a, b, 10, 42);
  EXPECT_EQ(result.observed, -3.0);
  EXPECT_EQ(result.p_value, 3.0 / 11.0);
  EXPECT_EQ(result.n_permutations, 10u);
}

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
  for (const auto& [value, expected] : cases) EXPECT_EQ(saturating_to_u64(value), expected) << value;
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

}  // namespace
}  // namespace tazmir::stats
