// The standard column reduction of a boundary matrix over Z/2, pivots only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace tazmir::topo {

/// Boundary columns in filtration order, each an ascending list of row ranks in which a face
/// may appear more than once; stored one after another. `Index` is a 32- or 64-bit rank.
template <class Index>
struct BoundaryMatrix {
  std::vector<std::size_t> offsets{0};  ///< column c holds entries[offsets[c] .. offsets[c+1])
  std::vector<Index> entries;
  std::vector<std::uint8_t> dims;  ///< dimension of the simplex of each column

  std::size_t columns() const { return offsets.size() - 1; }
  std::span<const Index> column(std::size_t c) const {
    return {entries.data() + offsets[c], offsets[c + 1] - offsets[c]};
  }
};

template <class Index>
inline constexpr Index no_pivot = std::numeric_limits<Index>::max();

/// Reduces every column left to right by adding the column that owns its lowest entry, and
/// returns the pivot row of each column (`no_pivot` for a column that reduces to nothing).
/// Adding two columns merges their ascending lists and drops equal entries pairwise. A column
/// that comes back to an earlier state (possible only when a face is listed twice) would
/// never finish: that is reported as an error.
template <class Index>
Result<std::vector<Index>> reduce_pivots(const BoundaryMatrix<Index>& matrix);

extern template Result<std::vector<std::uint32_t>> reduce_pivots(
    const BoundaryMatrix<std::uint32_t>&);
extern template Result<std::vector<std::uint64_t>> reduce_pivots(
    const BoundaryMatrix<std::uint64_t>&);

}  // namespace tazmir::topo
