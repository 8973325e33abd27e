// A stable least-significant-digit radix sort of the simplices by (value, dimension).
#include "topo/filtration_order.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>

#include "core/panic.hpp"

namespace tazmir::topo {

namespace {

/// A key whose unsigned order is the numeric order of non-NaN doubles, -0.0 equal to +0.0.
std::uint64_t order_key(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value == 0.0 ? 0.0 : value);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

template <class Index>
struct Item {
  std::uint64_t key;
  Index id;
};

/// One stable counting-sort pass on the byte at `shift` of the key; skipped when every item
/// has the same byte there.
template <class Index>
void radix_pass(std::vector<Item<Index>>& items, std::vector<Item<Index>>& scratch, int shift) {
  std::array<std::size_t, 257> start{};
  for (const Item<Index>& item : items) ++start[((item.key >> shift) & 0xFF) + 1];
  for (std::size_t b = 0; b < 256; ++b) {
    if (start[b + 1] == items.size()) return;
  }
  for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
  scratch.resize(items.size());
  for (const Item<Index>& item : items) scratch[start[(item.key >> shift) & 0xFF]++] = item;
  items.swap(scratch);
}

}  // namespace

template <class Index>
std::vector<Index> filtration_order(std::span<const double> values,
                                    std::span<const std::uint8_t> dims) {
  const std::size_t n = values.size();
  if (n >= 2) {
    for (const double v : values) {
      // A NaN has no order against anything: the sort cannot proceed past it.
      if (std::isnan(v)) panic_unwrap_none();
    }
  }
  // Least significant key first: dimension (input order kept within), then the value's bytes.
  std::vector<Item<Index>> items;
  items.reserve(n);
  for (std::uint8_t dim = 0; dim <= 2; ++dim) {
    for (std::size_t id = 0; id < n; ++id) {
      if (dims[id] == dim) items.push_back({order_key(values[id]), static_cast<Index>(id)});
    }
  }
  std::vector<Item<Index>> scratch;
  for (int shift = 0; shift < 64; shift += 8) radix_pass(items, scratch, shift);
  std::vector<Index> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = items[i].id;
  return order;
}

template std::vector<std::uint32_t> filtration_order(std::span<const double>,
                                                     std::span<const std::uint8_t>);
template std::vector<std::uint64_t> filtration_order(std::span<const double>,
                                                     std::span<const std::uint8_t>);

}  // namespace tazmir::topo
