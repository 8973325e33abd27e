// Eight ChaCha blocks at once in AVX2 lanes, for processors that have it (checked at run time).
#include <immintrin.h>

#include "stats/chacha_block.hpp"

namespace tazmir::stats {

namespace {

#define TAZMIR_AVX2 __attribute__((target("avx2")))

template <int Bits>
TAZMIR_AVX2 inline __m256i rotl(__m256i v) noexcept {
  if constexpr (Bits == 16) {
    const __m256i bytes = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13,
                                           2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    return _mm256_shuffle_epi8(v, bytes);
  } else if constexpr (Bits == 8) {
    const __m256i bytes = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14,
                                           3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    return _mm256_shuffle_epi8(v, bytes);
  } else {
    return _mm256_or_si256(_mm256_slli_epi32(v, Bits), _mm256_srli_epi32(v, 32 - Bits));
  }
}

TAZMIR_AVX2 inline void quarter_round(__m256i& a, __m256i& b, __m256i& c, __m256i& d) noexcept {
  a = _mm256_add_epi32(a, b); d = rotl<16>(_mm256_xor_si256(d, a));
  c = _mm256_add_epi32(c, d); b = rotl<12>(_mm256_xor_si256(b, c));
  a = _mm256_add_epi32(a, b); d = rotl<8>(_mm256_xor_si256(d, a));
  c = _mm256_add_epi32(c, d); b = rotl<7>(_mm256_xor_si256(b, c));
}

TAZMIR_AVX2 inline __m256i splat(std::uint32_t word) noexcept {
  return _mm256_set1_epi32(static_cast<int>(word));
}

// Words w .. w+7 of all eight lanes to their blocks: lane b goes to block b (blocks 0-3 in
// `first`, 4-7 in `second`, 16 words each), by an 8 x 8 transpose.
TAZMIR_AVX2 inline void store_transposed(const __m256i* v, int w, std::uint32_t* first,
                                         std::uint32_t* second) noexcept {
  const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(v[4], v[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(v[6], v[7]);
  // u[k] holds lane k of words w..w+3 (low half) and lane k+4 (high half), then w+4..w+7.
  const __m256i u[8] = {
      _mm256_unpacklo_epi64(t0, t2), _mm256_unpackhi_epi64(t0, t2),
      _mm256_unpacklo_epi64(t1, t3), _mm256_unpackhi_epi64(t1, t3),
      _mm256_unpacklo_epi64(t4, t6), _mm256_unpackhi_epi64(t4, t6),
      _mm256_unpacklo_epi64(t5, t7), _mm256_unpackhi_epi64(t5, t7)};
  for (int b = 0; b < 4; ++b) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(first + 16 * b + w),
                        _mm256_permute2x128_si256(u[b], u[b + 4], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(second + 16 * b + w),
                        _mm256_permute2x128_si256(u[b], u[b + 4], 0x31));
  }
}

template <int Rounds>
TAZMIR_AVX2 void blocks8(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                         std::uint64_t nonce, std::uint32_t* first,
                         std::uint32_t* second) noexcept {
  static_assert(Rounds > 0 && Rounds % 2 == 0, "ChaCha runs whole double rounds");
  alignas(32) std::uint32_t counter_low[8];
  alignas(32) std::uint32_t counter_high[8];
  for (int b = 0; b < 8; ++b) {
    const std::uint64_t block_counter = counter + static_cast<std::uint64_t>(b);  // wraps
    counter_low[b] = static_cast<std::uint32_t>(block_counter);
    counter_high[b] = static_cast<std::uint32_t>(block_counter >> 32);
  }
  __m256i input[16];
  for (int w = 0; w < 4; ++w) input[w] = splat(chacha_constants[w]);
  for (int w = 0; w < 8; ++w) input[4 + w] = splat(key[static_cast<std::size_t>(w)]);
  input[12] = _mm256_load_si256(reinterpret_cast<const __m256i*>(counter_low));
  input[13] = _mm256_load_si256(reinterpret_cast<const __m256i*>(counter_high));
  input[14] = splat(static_cast<std::uint32_t>(nonce));
  input[15] = splat(static_cast<std::uint32_t>(nonce >> 32));

  __m256i x[16];
  for (int w = 0; w < 16; ++w) x[w] = input[w];
  for (int round = 0; round < Rounds; round += 2) {
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
  for (int w = 0; w < 16; ++w) x[w] = _mm256_add_epi32(x[w], input[w]);
  store_transposed(x, 0, first, second);
  store_transposed(x + 8, 8, first, second);
}

}  // namespace

bool chacha_blocks8_available() noexcept {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

template <int Rounds>
void chacha_blocks8(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* first, std::uint32_t* second) noexcept {
  blocks8<Rounds>(key, counter, nonce, first, second);
}

template void chacha_blocks8<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;
template void chacha_blocks8<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;

}  // namespace tazmir::stats
