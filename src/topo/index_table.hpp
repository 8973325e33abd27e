// Exact-key lookup tables for the simplex merge: vertex index -> id and vertex pair -> id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tazmir::topo {

/// An open-addressing map from a key of one or two 64-bit words to a 64-bit value, where a
/// later insertion of a key replaces the earlier value. Sized once for the keys to come.
class IndexTable {
 public:
  static constexpr std::uint64_t missing = std::numeric_limits<std::uint64_t>::max();

  explicit IndexTable(std::size_t expected_keys) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected_keys) capacity *= 2;
    slots_.resize(capacity);
    mask_ = capacity - 1;
  }

  void insert(std::uint64_t a, std::uint64_t b, std::uint64_t value) {
    for (std::size_t pos = hash(a, b) & mask_;; pos = (pos + 1) & mask_) {
      Slot& slot = slots_[pos];
      if (!slot.used || (slot.a == a && slot.b == b)) {
        slot = Slot{a, b, value, true};
        return;
      }
    }
  }

  /// The value last inserted for (a, b), or `missing`.
  std::uint64_t find(std::uint64_t a, std::uint64_t b) const {
    for (std::size_t pos = hash(a, b) & mask_;; pos = (pos + 1) & mask_) {
      const Slot& slot = slots_[pos];
      if (!slot.used) return missing;
      if (slot.a == a && slot.b == b) return slot.value;
    }
  }

 private:
  struct Slot {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::uint64_t value = 0;
    bool used = false;
  };

  static std::size_t hash(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a * 0x9E3779B97F4A7C15ULL ^ (b + 0x632BE59BD9B4E019ULL);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 29;
    return static_cast<std::size_t>(x);
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

}  // namespace tazmir::topo
