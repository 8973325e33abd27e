// ChaCha12Generator: the seeded, platform-independent word stream behind the permutation test.
#pragma once

#include <array>
#include <cstdint>

namespace tazmir::stats {

class ChaCha12Generator;

/// `ChaCha12Generator::draw_descending` with AVX2 (only where the processor has it).
void draw_descending_avx2(ChaCha12Generator& generator, std::uint32_t top, std::uint32_t count,
                          std::uint32_t* js) noexcept;

/// ChaCha with 12 rounds, 64-bit block counter and 64-bit nonce (always 0), read as
/// little-endian 32-bit words from block 0 on, four blocks per refill.
class ChaCha12Generator {
 public:
  static constexpr std::size_t buffer_words = 64;

  /// A generator with the given key and block counter, its buffer empty.
  explicit ChaCha12Generator(const std::array<std::uint32_t, 8>& key,
                             std::uint64_t counter = 0) noexcept
      : key_(key), counter_(counter) {}

  /// Next 32-bit word of the keystream.
  std::uint32_t next_u32() noexcept {
    if (index_ >= buffer_words) refill();
    return slots_[base_ + index_++];
  }

  /// Next 64-bit word: the next two 32-bit words, low half first (the low half may be the
  /// last word of one refill and the high half the first of the next).
  std::uint64_t next_u64() noexcept;

  /// Draws for a Fisher-Yates pass: for k = 0 .. count-1 and i = top - k (count <= top,
  /// top <= 2^32 - 2), js[k] = uniform index in [0, i + 1) by the 32-bit rule. Consumes
  /// exactly the words of `count` calls of `uniform_index`, in the same order.
  void draw_descending(std::uint32_t top, std::uint32_t count, std::uint32_t* js) noexcept;
  /// The portable path of `draw_descending`, one word at a time (same results).
  void draw_descending_scalar(std::uint32_t top, std::uint32_t count, std::uint32_t* js) noexcept;

  const std::array<std::uint32_t, 8>& key() const noexcept { return key_; }
  /// Block counter of the next refill.
  std::uint64_t counter() const noexcept { return counter_; }
  /// Next unread word of the buffer; 64 means empty.
  std::size_t index() const noexcept { return index_; }

 private:
  friend void draw_descending_avx2(ChaCha12Generator&, std::uint32_t, std::uint32_t,
                                   std::uint32_t*) noexcept;
  static constexpr std::size_t next_slot(std::size_t base) noexcept {
    return base == 2 * buffer_words ? 0 : base + buffer_words;
  }
  /// Moves the buffer to the next four blocks (counter_ .. counter_ + 3).
  void refill() noexcept;
  /// Computes the blocks of the next refills into the free slots; only with none ahead.
  void compute_ahead() noexcept;

  // Three slots of 64 words used as a ring: the buffer (at base_) and the slots computed
  // ahead of it, two at once where eight blocks are computed together (AVX2). Which slot
  // holds a word changes nothing about the word sequence.
  alignas(32) std::array<std::uint32_t, 3 * buffer_words> slots_{};
  std::size_t base_ = 0;
  std::size_t ahead_ = 0;  // slots after the buffer already computed
  std::size_t index_ = buffer_words;
  std::array<std::uint32_t, 8> key_;
  std::uint64_t counter_;
  static constexpr std::uint64_t stream_ = 0;  // the all-zero eight-byte nonce
};

/// The key from a 64-bit seed: eight PCG32 (XSH-RR) outputs, counter 0, nonce 0.
ChaCha12Generator seed_from_u64(std::uint64_t seed) noexcept;

/// Uniform index in [0, s), s >= 1: widening multiplication with rejection above the zone
/// (s << leading_zeros(s)) - 1; 32-bit words while s fits 32 bits, else 64-bit words.
std::uint64_t uniform_index(ChaCha12Generator& generator, std::uint64_t s) noexcept;

/// The 32-bit path of `uniform_index`, for 1 <= s <= 2^32 - 1.
inline std::uint32_t uniform_index_u32(ChaCha12Generator& generator, std::uint32_t s) noexcept {
  const std::uint32_t zone = (s << __builtin_clz(s)) - 1u;
  for (;;) {
    const std::uint64_t m = std::uint64_t{generator.next_u32()} * s;
    if (static_cast<std::uint32_t>(m) <= zone) return static_cast<std::uint32_t>(m >> 32);
  }
}

}  // namespace tazmir::stats
