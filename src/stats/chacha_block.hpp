// The ChaCha block function with a compile-time round count: one block, or four or eight at once.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/lanes.hpp"

namespace tazmir::stats {

using ChaChaState = std::array<std::uint32_t, 16>;

/// "expand 32-byte k" as four little-endian words (state words 0..3).
inline constexpr std::uint32_t chacha_constants[4] = {0x61707865u, 0x3320646eu, 0x79622d32u,
                                                      0x6b206574u};

namespace detail {
// The rounds on one word per state position, or on a vector of words (one block per lane):
// the same additions, exclusive ors and rotations either way.
// A rotation by whole bytes of every 32-bit lane as one byte shuffle (little-endian lanes:
// byte j of a lane takes byte j - Bytes, mod 4).
template <int Bytes, class W, std::size_t... I>
[[gnu::always_inline]] inline W rotate_bytes(W value, std::index_sequence<I...>) noexcept {
  using ByteLanes = simd::Lanes<unsigned char, sizeof(W)>;
  const auto bytes = reinterpret_cast<ByteLanes>(value);
  return reinterpret_cast<W>(
      __builtin_shufflevector(bytes, bytes, ((I & ~std::size_t{3}) | ((I + 4 - Bytes) & 3))...));
}

template <int Bits, class W>
[[gnu::always_inline]] constexpr W rotl(W value) noexcept {
  if constexpr (!std::is_integral_v<W> && Bits % 8 == 0 &&
                std::endian::native == std::endian::little) {
    return rotate_bytes<Bits / 8>(value, std::make_index_sequence<sizeof(W)>{});
  } else {
    return (value << Bits) | (value >> (32 - Bits));
  }
}

template <class W>
[[gnu::always_inline]] constexpr void quarter_round(W& a, W& b, W& c, W& d) noexcept {
  a += b; d ^= a; d = rotl<16>(d);
  c += d; b ^= c; b = rotl<12>(b);
  a += b; d ^= a; d = rotl<8>(d);
  c += d; b ^= c; b = rotl<7>(b);
}

template <int Rounds, class W>
[[gnu::always_inline]] constexpr void rounds(W (&x)[16]) noexcept {
  static_assert(Rounds > 0 && Rounds % 2 == 0, "ChaCha runs whole double rounds");
  for (int round = 0; round < Rounds; round += 2) {
    // Column round, then diagonal round.
    quarter_round(x[0], x[4], x[8], x[12]);
    quarter_round(x[1], x[5], x[9], x[13]);
    quarter_round(x[2], x[6], x[10], x[14]);
    quarter_round(x[3], x[7], x[11], x[15]);
    quarter_round(x[0], x[5], x[10], x[15]);
    quarter_round(x[1], x[6], x[11], x[12]);
    quarter_round(x[2], x[7], x[8], x[13]);
    quarter_round(x[3], x[4], x[9], x[14]);
  }
}
}  // namespace detail

/// One ChaCha block: `Rounds` rounds (Rounds / 2 double rounds) over `input`, then the
/// input added word by word. The reference the vectorised kernels are checked against.
template <int Rounds>
constexpr ChaChaState chacha_block(const ChaChaState& input) noexcept {
  std::uint32_t x[16] = {};
  for (int w = 0; w < 16; ++w) x[w] = input[static_cast<std::size_t>(w)];
  detail::rounds<Rounds>(x);
  ChaChaState out{};
  for (int w = 0; w < 16; ++w) {
    out[static_cast<std::size_t>(w)] = x[w] + input[static_cast<std::size_t>(w)];
  }
  return out;
}

/// The input state of the block with the given 64-bit counter (words 12 low, 13 high)
/// and 64-bit nonce (words 14 low, 15 high).
constexpr ChaChaState chacha_input(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                                   std::uint64_t nonce) noexcept {
  ChaChaState s{};
  for (int w = 0; w < 4; ++w) s[w] = chacha_constants[w];
  for (int w = 0; w < 8; ++w) s[4 + w] = key[w];
  s[12] = static_cast<std::uint32_t>(counter);
  s[13] = static_cast<std::uint32_t>(counter >> 32);
  s[14] = static_cast<std::uint32_t>(nonce);
  s[15] = static_cast<std::uint32_t>(nonce >> 32);
  return s;
}

/// Four consecutive blocks with counters counter, counter+1, counter+2, counter+3 (64-bit
/// wrap-around), written in block order into `out` (64 words). Uses SIMD lanes, one block
/// per lane; every word equals `chacha_block<Rounds>` of the matching input.
template <int Rounds>
void chacha_blocks4(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* out) noexcept;

extern template void chacha_blocks4<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                        std::uint64_t, std::uint32_t*) noexcept;
extern template void chacha_blocks4<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                        std::uint64_t, std::uint32_t*) noexcept;

/// Whether `chacha_blocks8` runs on this processor (x86 with AVX2).
bool chacha_blocks8_available() noexcept;

/// Eight consecutive blocks (counters counter .. counter+7, wrapping), blocks 0-3 written to
/// `first` and blocks 4-7 to `second` (64 words each). Only when chacha_blocks8_available().
template <int Rounds>
void chacha_blocks8(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* first, std::uint32_t* second) noexcept;

extern template void chacha_blocks8<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                        std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;
extern template void chacha_blocks8<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                        std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;

}  // namespace tazmir::stats
