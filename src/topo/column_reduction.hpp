// The standard column reduction of a boundary matrix over Z/2, pivots only.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace tazmir::topo {

/// Boundary columns in filtration order, each an ascending list of row ranks in which a face
/// may appear more than once; stored one after another.
struct BoundaryMatrix {
  std::vector<std::size_t> offsets{0};  ///< column c holds entries[offsets[c] .. offsets[c+1])
  std::vector<std::size_t> entries;

  std::size_t columns() const { return offsets.size() - 1; }
};

inline constexpr std::size_t no_pivot = static_cast<std::size_t>(-1);

/// Reduces every column left to right by adding the column that owns its lowest entry, and
/// returns the pivot row of each column (`no_pivot` for a column that reduces to nothing).
/// Adding two columns merges their ascending lists and drops equal entries pairwise. A column
/// that comes back to an earlier state (possible only when a face is listed twice) would
/// never finish: that is reported as an error.
Result<std::vector<std::size_t>> reduce_pivots(const BoundaryMatrix& matrix);

}  // namespace tazmir::topo
