// Persistent homology: merge the simplices into one filtration order, reduce the boundary
// matrix, and read off the pairs.
#include "topo/persistence.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "topo/column_reduction.hpp"
#include "topo/filtration_order.hpp"
#include "topo/simplex_merge.hpp"

namespace tazmir::topo {

namespace {

template <class Index>
Result<std::vector<PersistencePair>> persistence_with(std::span<const VertexItem> vertices,
                                                      std::span<const EdgeItem> edges,
                                                      std::span<const TriangleItem> triangles) {
  const SimplexList<Index> simplices = merge_simplices<Index>(vertices, edges, triangles);
  const std::size_t n = simplices.values.size();
  const std::vector<Index> order = filtration_order<Index>(simplices.values, simplices.dims);
  std::vector<Index> rank(n);
  for (std::size_t i = 0; i < n; ++i) rank[order[i]] = static_cast<Index>(i);

  // Boundary columns in filtration order, each sorted ascending with duplicates kept.
  BoundaryMatrix<Index> matrix;
  matrix.offsets.reserve(n + 1);
  matrix.entries.reserve(simplices.faces.size());
  matrix.dims.resize(n);
  for (std::size_t c = 0; c < n; ++c) {
    const Index id = order[c];
    matrix.dims[c] = simplices.dims[id];
    const auto begin = matrix.entries.end() - matrix.entries.begin();
    for (std::size_t f = simplices.face_offsets[id]; f < simplices.face_offsets[id + 1]; ++f) {
      matrix.entries.push_back(rank[simplices.faces[f]]);
    }
    std::sort(matrix.entries.begin() + begin, matrix.entries.end());
    matrix.offsets.push_back(matrix.entries.size());
  }

  Result<std::vector<Index>> reduction = reduce_pivots(matrix);
  if (!reduction.ok()) return reduction.error();
  const std::vector<Index>& low = reduction.value();

  const auto value = [&](std::size_t sorted) { return simplices.values[order[sorted]]; };
  std::vector<PersistencePair> pairs;
  std::vector<bool> marked(n, false);
  for (std::size_t c = 0; c < n; ++c) {
    const Index r = low[c];
    if (r == no_pivot<Index>) continue;
    marked[r] = true;
    marked[c] = true;
    const double birth = value(r);
    const double death = value(c);
    // Pairs born and killed at the same value (up to rounding) carry no information.
    if (std::fabs(death - birth) > 1e-15) pairs.push_back({birth, death, matrix.dims[r]});
  }
  for (std::size_t c = 0; c < n; ++c) {
    if (!marked[c] && matrix.dims[c] == 0) {
      pairs.push_back({value(c), std::numeric_limits<double>::infinity(), 0});
    }
  }
  return pairs;
}

}  // namespace

Result<std::vector<PersistencePair>> compute_persistence(std::span<const VertexItem> vertices,
                                                         std::span<const EdgeItem> edges,
                                                         std::span<const TriangleItem> triangles) {
  const std::size_t n = vertices.size() + edges.size() + triangles.size();
  if (n == 0) return std::vector<PersistencePair>{};
  // 32-bit ranks halve the memory traffic of the reduction; no_pivot stays out of range.
  if (n < std::numeric_limits<std::uint32_t>::max()) {
    return persistence_with<std::uint32_t>(vertices, edges, triangles);
  }
  return persistence_with<std::uint64_t>(vertices, edges, triangles);
}

}  // namespace tazmir::topo
