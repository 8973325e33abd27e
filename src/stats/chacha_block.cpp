// Four ChaCha blocks at once in SSE2 lanes (one block per lane), bit-identical to the scalar block.
#include "stats/chacha_block.hpp"

#include <emmintrin.h>

namespace tazmir::stats {

namespace {

template <int Bits>
inline __m128i rotl(__m128i v) noexcept {
  if constexpr (Bits == 16) {
    // Swapping the 16-bit halves of every 32-bit lane is the rotation by 16.
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
  } else {
    return _mm_or_si128(_mm_slli_epi32(v, Bits), _mm_srli_epi32(v, 32 - Bits));
  }
}

inline void quarter_round(__m128i& a, __m128i& b, __m128i& c, __m128i& d) noexcept {
  a = _mm_add_epi32(a, b); d = rotl<16>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d); b = rotl<12>(_mm_xor_si128(b, c));
  a = _mm_add_epi32(a, b); d = rotl<8>(_mm_xor_si128(d, a));
  c = _mm_add_epi32(c, d); b = rotl<7>(_mm_xor_si128(b, c));
}

inline __m128i splat(std::uint32_t word) noexcept {
  return _mm_set1_epi32(static_cast<int>(word));
}

inline __m128i lanes(std::uint32_t w0, std::uint32_t w1, std::uint32_t w2,
                     std::uint32_t w3) noexcept {
  return _mm_set_epi32(static_cast<int>(w3), static_cast<int>(w2), static_cast<int>(w1),
                       static_cast<int>(w0));
}

// Writes words w .. w+3 of all four lanes to their blocks: lane b goes to out[16 b + w ..].
inline void store_transposed(__m128i v0, __m128i v1, __m128i v2, __m128i v3, int w,
                             std::uint32_t* out) noexcept {
  const __m128i t0 = _mm_unpacklo_epi32(v0, v1);  // v0[0] v1[0] v0[1] v1[1]
  const __m128i t1 = _mm_unpacklo_epi32(v2, v3);
  const __m128i t2 = _mm_unpackhi_epi32(v0, v1);  // v0[2] v1[2] v0[3] v1[3]
  const __m128i t3 = _mm_unpackhi_epi32(v2, v3);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm_unpacklo_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 + w), _mm_unpackhi_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 + w), _mm_unpacklo_epi64(t2, t3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48 + w), _mm_unpackhi_epi64(t2, t3));
}

}  // namespace

template <int Rounds>
void chacha_blocks4(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* out) noexcept {
  static_assert(Rounds > 0 && Rounds % 2 == 0, "ChaCha runs whole double rounds");
  std::uint32_t counter_low[4];
  std::uint32_t counter_high[4];
  for (int b = 0; b < 4; ++b) {
    const std::uint64_t block_counter = counter + static_cast<std::uint64_t>(b);  // wraps
    counter_low[b] = static_cast<std::uint32_t>(block_counter);
    counter_high[b] = static_cast<std::uint32_t>(block_counter >> 32);
  }
  __m128i input[16];
  for (int w = 0; w < 4; ++w) input[w] = splat(chacha_constants[w]);
  for (int w = 0; w < 8; ++w) input[4 + w] = splat(key[static_cast<std::size_t>(w)]);
  input[12] = lanes(counter_low[0], counter_low[1], counter_low[2], counter_low[3]);
  input[13] = lanes(counter_high[0], counter_high[1], counter_high[2], counter_high[3]);
  input[14] = splat(static_cast<std::uint32_t>(nonce));
  input[15] = splat(static_cast<std::uint32_t>(nonce >> 32));

  __m128i x[16];
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
  for (int w = 0; w < 16; ++w) x[w] = _mm_add_epi32(x[w], input[w]);
  for (int w = 0; w < 16; w += 4) store_transposed(x[w], x[w + 1], x[w + 2], x[w + 3], w, out);
}

template void chacha_blocks4<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*) noexcept;
template void chacha_blocks4<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*) noexcept;

}  // namespace tazmir::stats
