// Seeding, refills and index draws of ChaCha12Generator.
#include "stats/chacha_generator.hpp"

#include "stats/chacha_block.hpp"

namespace tazmir::stats {

void ChaCha12Generator::refill() noexcept {
  chacha_blocks4<12>(key_, counter_, stream_, buffer_.data());
  counter_ += 4;  // wraps modulo 2^64 like the block counters themselves
  index_ = 0;
}

std::uint64_t ChaCha12Generator::next_u64() noexcept {
  if (index_ < buffer_words - 1) {
    const std::uint64_t low = buffer_[index_];
    const std::uint64_t high = buffer_[index_ + 1];
    index_ += 2;
    return (high << 32) | low;
  }
  if (index_ == buffer_words - 1) {
    const std::uint64_t low = buffer_[buffer_words - 1];
    refill();
    const std::uint64_t high = buffer_[0];
    index_ = 1;
    return (high << 32) | low;
  }
  refill();
  index_ = 2;
  return (std::uint64_t{buffer_[1]} << 32) | buffer_[0];
}

ChaCha12Generator seed_from_u64(std::uint64_t seed) noexcept {
  constexpr std::uint64_t multiplier = 6364136223846793005u;
  constexpr std::uint64_t increment = 11634580027462260723u;
  std::array<std::uint32_t, 8> key{};
  std::uint64_t state = seed;
  for (auto& word : key) {
    // One PCG32 step with the XSH-RR output, the state advanced before each output.
    state = state * multiplier + increment;
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto rot = static_cast<unsigned>(state >> 59);
    word = (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
  }
  return ChaCha12Generator(key);
}

std::uint64_t uniform_index(ChaCha12Generator& generator, std::uint64_t s) noexcept {
  if (s <= 0xFFFFFFFFu) return uniform_index_u32(generator, static_cast<std::uint32_t>(s));
  const std::uint64_t zone = (s << __builtin_clzll(s)) - 1u;
  for (;;) {
    const unsigned __int128 m = static_cast<unsigned __int128>(generator.next_u64()) * s;
    if (static_cast<std::uint64_t>(m) <= zone) return static_cast<std::uint64_t>(m >> 64);
  }
}

}  // namespace tazmir::stats
