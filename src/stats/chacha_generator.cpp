// Seeding, refills and index draws of ChaCha12Generator.
#include "stats/chacha_generator.hpp"

#include "core/cpu.hpp"
#include "stats/chacha_block.hpp"

namespace tazmir::stats {

void ChaCha12Generator::compute_ahead() noexcept {
  const std::size_t first = next_slot(base_);
  if (chacha_blocks8_available()) {
    chacha_blocks8<12>(key_, counter_, stream_, slots_.data() + first,
                       slots_.data() + next_slot(first));
    ahead_ = 2;
  } else {
    chacha_blocks4<12>(key_, counter_, stream_, slots_.data() + first);
    ahead_ = 1;
  }
}

void ChaCha12Generator::refill() noexcept {
  if (ahead_ == 0) compute_ahead();
  base_ = next_slot(base_);
  --ahead_;
  counter_ += 4;  // wraps modulo 2^64 like the block counters themselves
  index_ = 0;
}

std::uint64_t ChaCha12Generator::next_u64() noexcept {
  if (index_ < buffer_words - 1) {
    const std::uint64_t low = slots_[base_ + index_];
    const std::uint64_t high = slots_[base_ + index_ + 1];
    index_ += 2;
    return (high << 32) | low;
  }
  if (index_ == buffer_words - 1) {
    const std::uint64_t low = slots_[base_ + buffer_words - 1];
    refill();
    const std::uint64_t high = slots_[base_];
    index_ = 1;
    return (high << 32) | low;
  }
  refill();
  index_ = 2;
  return (std::uint64_t{slots_[base_ + 1]} << 32) | slots_[base_];
}

namespace {

constexpr std::uint32_t zone_of(std::uint32_t s) noexcept {
  return (s << __builtin_clz(s)) - 1u;
}

}  // namespace

void ChaCha12Generator::draw_descending(std::uint32_t top, std::uint32_t count,
                                        std::uint32_t* js) noexcept {
#if TAZMIR_X86
  if (cpu_has_avx2()) return draw_descending_avx2(*this, top, count, js);
#endif
  draw_descending_scalar(top, count, js);
}

void ChaCha12Generator::draw_descending_scalar(std::uint32_t top, std::uint32_t count,
                                               std::uint32_t* js) noexcept {
  std::size_t index = index_;  // in a register: no word waits for the previous store
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t s = top - k + 1;
    const std::uint32_t zone = zone_of(s);
    for (;;) {
      if (index >= buffer_words) {
        refill();
        index = 0;
      }
      const std::uint64_t m = std::uint64_t{slots_[base_ + index++]} * s;
      if (static_cast<std::uint32_t>(m) <= zone) {
        js[k] = static_cast<std::uint32_t>(m >> 32);
        break;
      }
    }
  }
  index_ = index;
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
