// Statistics pieces Python cannot reach: the ChaCha block, the generator, index draws, shuffles.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <numeric>
#include <vector>

#include "stats/chacha_block.hpp"
#include "stats/chacha_generator.hpp"
#include "stats/permutation.hpp"

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

TEST_P(FourLaneKernel, EightLaneKernelEqualsTheScalarBlock) {
  if (!chacha_blocks8_available()) GTEST_SKIP() << "no AVX2 on this processor";
  const std::uint64_t counter = GetParam();
  const Key key = {0xdeadbeefu, 1u, 2u, 0xffffffffu, 0x80000000u, 5u, 6u, 0x12345678u};
  std::uint32_t first[64];
  std::uint32_t second[64];
  chacha_blocks8<12>(key, counter, 3, first, second);
  for (std::uint64_t b = 0; b < 8; ++b) {
    const ChaChaState block = chacha_block<12>(chacha_input(key, counter + b, 3));
    const std::uint32_t* out = b < 4 ? first + 16 * b : second + 16 * (b - 4);
    for (std::size_t w = 0; w < 16; ++w) {
      EXPECT_EQ(out[w], block[w]) << "block " << b << " word " << w;
    }
  }
  chacha_blocks8<20>(rfc_key, rfc_counter, rfc_nonce, first, second);
  for (std::size_t w = 0; w < 16; ++w) EXPECT_EQ(first[w], rfc_block[w]) << w;
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

// The batched draws of a Fisher-Yates pass (eight or sixteen words tested at once where
// the processor allows) give the same indices and consume the same words as one
// `uniform_index` call after another, from any position in the buffer.
struct PassCase {
  std::uint32_t top;
  std::uint32_t count;
  int skipped_words;
};

class DrawDescending : public ::testing::TestWithParam<PassCase> {};

TEST_P(DrawDescending, EqualsOneDrawAtATime) {
  const auto [top, count, skipped] = GetParam();
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    ChaCha12Generator batched = seed_from_u64(seed);
    ChaCha12Generator portable = seed_from_u64(seed);
    ChaCha12Generator single = seed_from_u64(seed);
    for (int i = 0; i < skipped; ++i) batched.next_u32(), portable.next_u32(), single.next_u32();
    std::vector<std::uint32_t> js(count + 16, 0xffffffffu);
    std::vector<std::uint32_t> js_portable(count, 0xffffffffu);
    for (int pass = 0; pass < 6; ++pass) {
      batched.draw_descending(top, count, js.data());
      portable.draw_descending_scalar(top, count, js_portable.data());
      for (std::uint32_t k = 0; k < count; ++k) {
        const std::uint32_t expected = uniform_index_u32(single, top - k + 1);
        ASSERT_EQ(js[k], expected) << "seed " << seed << " pass " << pass << " draw " << k;
        ASSERT_EQ(js_portable[k], expected) << "seed " << seed << " pass " << pass << " draw " << k;
      }
      ASSERT_EQ(batched.index(), single.index());
      ASSERT_EQ(batched.counter(), single.counter());
      ASSERT_EQ(portable.index(), single.index());
    }
    ASSERT_EQ(batched.next_u32(), single.next_u32());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Passes, DrawDescending,
    ::testing::Values(PassCase{1, 1, 0}, PassCase{9, 9, 3}, PassCase{40, 40, 0},
                      PassCase{399, 399, 0}, PassCase{399, 256, 61}, PassCase{1000, 700, 50},
                      PassCase{70000, 300, 63}, PassCase{0x7FFFFFF0u, 64, 7},
                      PassCase{0xFFFFFFFEu, 40, 1}));

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

}  // namespace
}  // namespace tazmir::stats
