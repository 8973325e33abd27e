// Statistics pieces Python cannot reach: the ChaCha generator, index draws and the exact helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "stats/chacha_block.hpp"
#include "stats/chacha_generator.hpp"
#include "stats/correlation.hpp"
#include "stats/distance_lookup.hpp"
#include "stats/permutation.hpp"
#include "stats/ripley.hpp"
#include "stats/saturating_cast.hpp"

namespace tazmir::stats {
namespace {

using Key = std::array<std::uint32_t, 8>;
using U128 = unsigned __int128;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// RFC 8439, section 2.3.2: its block count and nonce are state words 12 to 15, which here
// are the 64-bit counter (words 12, 13) and the 64-bit nonce (words 14, 15).
constexpr Key rfc_key = {0x03020100u, 0x07060504u, 0x0b0a0908u, 0x0f0e0d0cu,
                         0x13121110u, 0x17161514u, 0x1b1a1918u, 0x1f1e1d1cu};
constexpr std::uint64_t rfc_counter = 0x0900000000000001u;
constexpr std::uint64_t rfc_nonce = 0x000000004a000000u;
constexpr ChaChaState rfc_block = {
    0xe4e7f110u, 0x15593bd1u, 0x1fdd0f50u, 0xc47120a3u, 0xc7f4d1c7u, 0x0368c033u,
    0x9aaa2204u, 0x4e6cd4c3u, 0x466482d2u, 0x09aa9f07u, 0x05d7c214u, 0xa2028bd9u,
    0xd19c12b5u, 0xb94e16deu, 0xe883d0cbu, 0x4e3c50a2u};

TEST(ChaChaBlock, TwentyRoundsMatchRfc8439) {
  EXPECT_EQ(chacha_block<20>(chacha_input(rfc_key, rfc_counter, rfc_nonce)), rfc_block);
}

// The SIMD kernels agree word for word with the scalar block in every lane, also where the
// counter's low word or the whole 64-bit counter wraps inside the group (the round count is
// only a loop bound, the same in every kernel).
TEST(ChaChaBlock, EveryLaneEqualsTheScalarBlock) {
  const Key key = {0xdeadbeefu, 1u, 2u, 0xffffffffu, 0x80000000u, 5u, 6u, 0x12345678u};
  const bool wide = chacha_blocks8_available();
  for (const std::uint64_t counter : {0x0ull, 0xfffffffeull, 0xfffffffffffffffdull}) {
    std::uint32_t four[64];
    std::uint32_t eight[128];
    chacha_blocks4<12>(key, counter, 3, four);
    if (wide) chacha_blocks8<12>(key, counter, 3, eight, eight + 64);
    for (std::uint64_t b = 0; b < 8; ++b) {
      const ChaChaState block = chacha_block<12>(chacha_input(key, counter + b, 3));
      EXPECT_TRUE(b >= 4 || std::equal(block.begin(), block.end(), four + 16 * b)) << b;
      EXPECT_TRUE(!wide || std::equal(block.begin(), block.end(), eight + 16 * b)) << b;
    }
  }
}

// Word i of the 12-round keystream of `key`, counted from block 0.
std::uint32_t keystream_word(const Key& key, std::uint64_t i) {
  return chacha_block<12>(chacha_input(key, i / 16, 0))[i % 16];
}

// The words are the 12-round keystream of the key across refills, a 64-bit word two of
// them, low first (the key itself, PCG32 seeding, is pinned by the permutation p-values
// in tests/test_digest.py).
TEST(ChaCha12Generator, StreamsTheTwelveRoundKeystream) {
  const Key key = seed_from_u64(3).key();
  // Empty buffer, inside, last full pair, a pair straddling two refills, after refills.
  for (const std::uint64_t skipped : {0u, 5u, 62u, 63u, 64u, 127u, 191u}) {
    ChaCha12Generator generator = seed_from_u64(3);
    for (std::uint64_t i = 0; i < skipped; ++i) {
      ASSERT_EQ(generator.next_u32(), keystream_word(key, i)) << i;
    }
    EXPECT_EQ(generator.next_u64(), std::uint64_t{keystream_word(key, skipped + 1)} << 32 |
                                        keystream_word(key, skipped)) << skipped;
    EXPECT_EQ(generator.next_u32(), keystream_word(key, skipped + 2)) << skipped;
  }
}

// The zone is (s << z) - 1 in the width of the words drawn (32 bits while s fits, else 64),
// for every s: for a power of two half of the words are refused.
class UniformIndex : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(UniformIndex, RefusesWordsAboveTheZone) {
  const std::uint64_t s = GetParam();
  const int bits = s >> 32 ? 64 : 32;
  const U128 low = (U128{1} << bits) - 1;
  const U128 zone = (U128{s} << (std::countl_zero(s) - 64 + bits)) - 1;
  ChaCha12Generator generator = seed_from_u64(s);
  ChaCha12Generator words = generator;
  const auto product = [&] {
    return U128{bits == 64 ? words.next_u64() : words.next_u32()} * s;
  };
  int refused = 0;
  for (int trial = 0; trial < 200; ++trial) {
    U128 m = product();
    for (; (m & low) > zone; ++refused) m = product();
    ASSERT_EQ(uniform_index(generator, s), static_cast<std::uint64_t>(m >> bits));
    ASSERT_EQ(generator.index(), words.index());
  }
  EXPECT_TRUE(!std::has_single_bit(s) || refused > 120) << refused;  // about 200 expected
}

INSTANTIATE_TEST_SUITE_P(Bounds, UniformIndex,
                         ::testing::Values(1u, 3u, 4u, 1000u, 0x80000000u, 0x80000001u,
                                           0xffffffffu, 0x200000005u, 0x100000000u));

// Batched draws of a Fisher-Yates pass (SIMD where available) and the portable ones equal
// one `uniform_index` call after another, words consumed included, from any buffer position.
class DrawDescending : public ::testing::TestWithParam<std::array<std::uint32_t, 3>> {};

TEST_P(DrawDescending, EqualsOneDrawAtATime) {
  const auto [top, count, skipped] = GetParam();
  for (std::uint64_t seed = 0; seed < 10; ++seed) {
    ChaCha12Generator batched = seed_from_u64(seed);
    for (std::uint32_t i = 0; i < skipped; ++i) batched.next_u32();
    ChaCha12Generator portable = batched;
    ChaCha12Generator single = batched;
    std::vector<std::uint32_t> js(count + 16);
    std::vector<std::uint32_t> js_portable(count);
    for (int pass = 0; pass < 6; ++pass) {
      batched.draw_descending(top, count, js.data());
      portable.draw_descending_scalar(top, count, js_portable.data());
      for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t expected = uniform_index_u32(single, top - k + 1);
        ASSERT_TRUE(js[k] == expected && js_portable[k] == expected) << seed << ' ' << k;
      }
    }
    const std::uint32_t next = single.next_u32();
    ASSERT_TRUE(batched.next_u32() == next && portable.next_u32() == next) << seed;
  }
}

// {top, count, words already read}
INSTANTIATE_TEST_SUITE_P(Passes, DrawDescending,
                         ::testing::ValuesIn(std::vector<std::array<std::uint32_t, 3>>{
                             {1, 1, 0}, {9, 9, 3}, {399, 399, 0}, {399, 256, 61},
                             {1000, 700, 50}, {70000, 300, 63}, {0x7FFFFFF0u, 64, 7},
                             {0xFFFFFFFEu, 40, 1}}));

// Slices longer than one batch of draws shuffle as Fisher-Yates from the end with one draw
// at a time; consecutive shuffles continue the word stream; short slices draw nothing.
TEST(Shuffle, LongSlicesEqualOneDrawAtATime) {
  std::vector<double> values(2500);
  std::iota(values.begin(), values.end(), 0.0);
  std::vector<double> expected = values;
  ChaCha12Generator generator = seed_from_u64(123);
  ChaCha12Generator single = generator;
  for (int pass = 0; pass < 3; ++pass) {
    shuffle(values, generator);
    for (std::size_t i = expected.size() - 1; i >= 1; --i) {
      std::swap(expected[i], expected[uniform_index(single, i + 1)]);
    }
    ASSERT_EQ(values, expected) << pass;
  }
  shuffle(std::span<double>(values.data(), 1), generator);
  shuffle(std::span<double>(), generator);
  EXPECT_EQ(generator.next_u32(), single.next_u32());
}

TEST(SaturatingToU64, EveryInputHasAValue) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::pair<double, std::uint64_t> cases[] = {  // 2^64 - 2048: the largest double below 2^64
      {nan, 0}, {-inf, 0}, {-1.5, 0}, {-0.0, 0}, {0.999, 0}, {1.0, 1}, {49.99999, 49},
      {9007199254740993.0, 9007199254740992u}, {18446744073709549568.0, 18446744073709549568u},
      {18446744073709551616.0, max}, {1e300, max}, {inf, max}};
  for (const auto& [value, want] : cases) EXPECT_EQ(saturating_to_u64(value), want) << value;
}

TEST(CorrelationLength, EveryRuleForNoDecay) {
  const double r[] = {0.5, 1.5, 2.5, 3.5};
  const double same_r[] = {1.0, 1.0, 1.0, 1.0};
  const double nan_r[] = {1.0, inf, 2.0, 3.0};
  const double falling[] = {0.9, 0.5, 0.2, 0.1};
  const double rising[] = {0.2, 0.3, 0.4, 0.5};
  const double floor[] = {0.5, 0.01, 0.0, -0.5};  // 0.01 is not above the floor
  const double flat[] = {1.0, 1.0, 1.0, 1.0};
  const std::uint64_t counts[] = {5, 9, 5, 100};
  const std::uint64_t few[] = {10, 4, 4, 4};
  EXPECT_EQ(correlation_length(r, rising, counts), inf);
  EXPECT_EQ(correlation_length(r, falling, few), inf);  // one bin kept
  EXPECT_EQ(correlation_length(r, floor, counts), inf);
  EXPECT_EQ(correlation_length(r, flat, counts), inf);         // slope exactly 0
  EXPECT_EQ(correlation_length(same_r, falling, counts), inf);  // D = 0
  EXPECT_EQ(correlation_length({}, {}, {}), inf);
  EXPECT_TRUE(std::isnan(correlation_length(nan_r, falling, counts)));
}

// A NaN border distance takes the capped weight; NaN sides of the window are ignored.
TEST(Ripley, NanInPairWeightAndBorderDistance) {
  EXPECT_EQ(ripley_pair_weight(1.0, nan), 8.0);
  EXPECT_EQ(border_distance({3.0, 1.0}, {nan, 0.0, 10.0, nan}), 1.0);
  EXPECT_EQ(border_distance({3.0, 1.0}, {0.0, nan, nan, nan}), 3.0);
  EXPECT_TRUE(std::isnan(border_distance({nan, nan}, {0.0, 0.0, 10.0, 4.0})));
}

// The bucket grid only guesses; every answer must be std::lower_bound's.
TEST(SortedDistanceLookup, AgreesWithLowerBound) {
  const std::vector<double> lists[] = {{0.5}, {0.1, 0.1, 0.1}, {-inf, 0.0, 1.0}, {-1e308, 1e308},
                                       {-2.0, -0.0, 0.0, 1e-300, 0.3, 0.3, 0.7, 5.0},
                                       {0.0, 1e-3, 0.25, 0.25000000000000006, 1e6}};
  const double probes[] = {-inf, -2.0, -0.0, 1e-300, 1e-3, 0.0999, 0.1, 0.25,
                           0.25000000000000006, 0.3, 0.7000001, 5.0, 1e6, 1e308, inf};
  for (const auto& list : lists) {
    const SortedDistanceLookup lookup(list);
    for (const double r : probes) {
      const auto expected = std::lower_bound(list.begin(), list.end(), r) - list.begin();
      EXPECT_EQ(lookup.first_at_least(r), static_cast<std::size_t>(expected)) << r;
    }
  }
}

}  // namespace
}  // namespace tazmir::stats
