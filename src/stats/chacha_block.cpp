// Several ChaCha blocks at once, one block per vector lane: one template over the lane count,
// compiled with four lanes for the baseline processor and, on x86, with eight for AVX2. The
// words are those of the scalar block, bit for bit.
// The rounds of chacha_block.hpp are always inlined, so their eight-lane vectors never cross a
// call boundary: the ABI note about 32-byte vectors without AVX does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#include "stats/chacha_block.hpp"

#include <cstddef>

#include "core/cpu.hpp"
#include "core/lanes.hpp"

namespace tazmir::stats {

namespace {

// N consecutive blocks (counters counter .. counter + N - 1, wrapping at 2^64); block b goes
// to group[b / 4] + 16 * (b % 4).
template <int Rounds, std::size_t N>
TAZMIR_INLINE void blocks(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                          std::uint64_t nonce, std::uint32_t* const* group) noexcept {
  using Words = simd::Lanes<std::uint32_t, N>;
  Words input[16];
  for (std::size_t w = 0; w < 4; ++w) input[w] = simd::splat<Words>(chacha_constants[w]);
  for (std::size_t w = 0; w < 8; ++w) input[4 + w] = simd::splat<Words>(key[w]);
  for (std::size_t b = 0; b < N; ++b) {
    const std::uint64_t block_counter = counter + b;  // wraps
    input[12][b] = static_cast<std::uint32_t>(block_counter);
    input[13][b] = static_cast<std::uint32_t>(block_counter >> 32);
  }
  input[14] = simd::splat<Words>(static_cast<std::uint32_t>(nonce));
  input[15] = simd::splat<Words>(static_cast<std::uint32_t>(nonce >> 32));

  Words x[16];
  for (std::size_t w = 0; w < 16; ++w) x[w] = input[w];
  detail::rounds<Rounds>(x);
  for (std::size_t w = 0; w < 16; ++w) x[w] += input[w];
  for (std::size_t b = 0; b < N; ++b) {
    std::uint32_t* out = group[b / 4] + 16 * (b % 4);
    for (std::size_t w = 0; w < 16; ++w) out[w] = x[w][b];
  }
}

#if TAZMIR_X86
template <int Rounds>
TAZMIR_AVX2 void blocks8_avx2(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                              std::uint64_t nonce, std::uint32_t* const* group) noexcept {
  blocks<Rounds, 8>(key, counter, nonce, group);
}
#endif

}  // namespace

template <int Rounds>
void chacha_blocks4(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* out) noexcept {
  std::uint32_t* const group[1] = {out};
  blocks<Rounds, 4>(key, counter, nonce, group);
}

bool chacha_blocks8_available() noexcept { return cpu_has_avx2(); }

template <int Rounds>
void chacha_blocks8(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                    std::uint64_t nonce, std::uint32_t* first, std::uint32_t* second) noexcept {
  std::uint32_t* const group[2] = {first, second};
#if TAZMIR_X86
  blocks8_avx2<Rounds>(key, counter, nonce, group);
#else
  blocks<Rounds, 8>(key, counter, nonce, group);  // not reached: only where available
#endif
}

template void chacha_blocks4<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*) noexcept;
template void chacha_blocks4<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*) noexcept;
template void chacha_blocks8<12>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;
template void chacha_blocks8<20>(const std::array<std::uint32_t, 8>&, std::uint64_t,
                                 std::uint64_t, std::uint32_t*, std::uint32_t*) noexcept;

}  // namespace tazmir::stats
