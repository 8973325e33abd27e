// Persistent homology of a filtered complex of vertices, edges and triangles over Z/2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/error.hpp"

namespace tazmir::topo {

struct VertexItem {
  std::uint64_t vertex = 0;
  double value = 0.0;
};

struct EdgeItem {
  std::uint64_t v0 = 0;
  std::uint64_t v1 = 0;
  double value = 0.0;
};

struct TriangleItem {
  std::uint64_t v0 = 0;
  std::uint64_t v1 = 0;
  std::uint64_t v2 = 0;
  double value = 0.0;
};

/// A homology class born at `birth` and killed at `death` (+inf when it never dies).
struct PersistencePair {
  double birth = 0.0;
  double death = 0.0;
  std::size_t dimension = 0;
};

/// The persistence pairs of the filtration: finite pairs longer than 1e-15 in the order of
/// their killing simplex, then the components that never die. Vertex indices that are not
/// listed resolve to the first simplex; triangle edges that are not listed are left out.
/// A NaN filtration value among two or more simplices is an internal failure; a boundary
/// that lists one face twice in a way the reduction cannot settle is an error.
Result<std::vector<PersistencePair>> compute_persistence(std::span<const VertexItem> vertices,
                                                         std::span<const EdgeItem> edges,
                                                         std::span<const TriangleItem> triangles);

}  // namespace tazmir::topo
