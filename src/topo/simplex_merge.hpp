// Merging vertex, edge and triangle lists into one list of simplices with their faces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "topo/persistence.hpp"

namespace tazmir::topo {

/// The simplices in identifier order (vertices, then edges, then triangles), each with its
/// filtration value, dimension and faces (identifiers, in boundary order).
template <class Index>
struct SimplexList {
  std::vector<double> values;
  std::vector<std::uint8_t> dims;
  std::vector<std::size_t> face_offsets{0};  ///< faces of simplex i: faces[face_offsets[i]..]
  std::vector<Index> faces;
};

/// An edge's faces are the identifiers of the last vertex listed with each endpoint index, or
/// 0 when the index is not listed; a triangle's faces are the last edges listed on its pairs
/// {a, b}, {b, c}, {a, c}, leaving out pairs no edge covers.
template <class Index>
SimplexList<Index> merge_simplices(std::span<const VertexItem> vertices,
                                   std::span<const EdgeItem> edges,
                                   std::span<const TriangleItem> triangles);

extern template SimplexList<std::uint32_t> merge_simplices(std::span<const VertexItem>,
                                                           std::span<const EdgeItem>,
                                                           std::span<const TriangleItem>);
extern template SimplexList<std::uint64_t> merge_simplices(std::span<const VertexItem>,
                                                           std::span<const EdgeItem>,
                                                           std::span<const TriangleItem>);

}  // namespace tazmir::topo
