// Face lookups for the simplex merge: vertex index -> vertex, vertex pair -> edge, with the
// last listing of a key winning.
#include "topo/simplex_merge.hpp"

#include <algorithm>
#include <utility>

#include "topo/index_table.hpp"

namespace tazmir::topo {

namespace {

constexpr std::uint64_t missing = IndexTable::missing;

/// True when keys below `largest + 1` fit a direct table not much larger than `count`.
bool compact(std::uint64_t largest, std::size_t count) {
  return largest < 4 * static_cast<std::uint64_t>(count) + 1024;
}

/// Vertex index -> identifier of the last vertex listed with it.
class VertexTable {
 public:
  explicit VertexTable(std::span<const VertexItem> vertices) : hashed_(0) {
    std::uint64_t largest = 0;
    for (const VertexItem& v : vertices) largest = std::max(largest, v.vertex);
    direct_ = !vertices.empty() && compact(largest, vertices.size());
    if (direct_) {
      ids_.assign(static_cast<std::size_t>(largest) + 1, missing);
      for (std::size_t i = 0; i < vertices.size(); ++i) ids_[vertices[i].vertex] = i;
    } else {
      hashed_ = IndexTable(vertices.size());
      for (std::size_t i = 0; i < vertices.size(); ++i) hashed_.insert(vertices[i].vertex, 0, i);
    }
  }

  std::uint64_t find(std::uint64_t vertex) const {
    if (!direct_) return hashed_.find(vertex, 0);
    return vertex < ids_.size() ? ids_[vertex] : missing;
  }

 private:
  bool direct_ = false;
  std::vector<std::uint64_t> ids_;
  IndexTable hashed_;
};

/// Unordered vertex pair -> identifier of the last edge listed on it. With compact vertex
/// indices the edges are bucketed by their smaller endpoint (a few per bucket on a mesh);
/// otherwise they are hashed.
class EdgeTable {
 public:
  EdgeTable(std::span<const EdgeItem> edges, std::size_t first_id) : hashed_(0) {
    std::uint64_t largest = 0;
    for (const EdgeItem& e : edges) largest = std::max(largest, std::min(e.v0, e.v1));
    direct_ = !edges.empty() && compact(largest, edges.size());
    if (!direct_) {
      hashed_ = IndexTable(edges.size());
      for (std::size_t j = 0; j < edges.size(); ++j) {
        const EdgeItem& e = edges[j];
        hashed_.insert(std::min(e.v0, e.v1), std::max(e.v0, e.v1), first_id + j);
      }
      return;
    }
    // Counting sort by smaller endpoint; within a bucket the edges keep their input order.
    bucket_start_.assign(static_cast<std::size_t>(largest) + 2, 0);
    for (const EdgeItem& e : edges) ++bucket_start_[std::min(e.v0, e.v1) + 1];
    for (std::size_t b = 1; b < bucket_start_.size(); ++b) bucket_start_[b] += bucket_start_[b - 1];
    std::vector<std::size_t> fill(bucket_start_.begin(), bucket_start_.end() - 1);
    entries_.resize(edges.size());
    for (std::size_t j = 0; j < edges.size(); ++j) {
      const EdgeItem& e = edges[j];
      entries_[fill[std::min(e.v0, e.v1)]++] = Entry{std::max(e.v0, e.v1), first_id + j};
    }
  }

  std::uint64_t find(std::uint64_t a, std::uint64_t b) const {
    const std::uint64_t lo = std::min(a, b);
    const std::uint64_t hi = std::max(a, b);
    if (!direct_) return hashed_.find(lo, hi);
    if (lo + 1 >= bucket_start_.size()) return missing;
    // Scanned from the back: the last listing of the pair wins.
    for (std::size_t k = bucket_start_[lo + 1]; k > bucket_start_[lo]; --k) {
      if (entries_[k - 1].other == hi) return entries_[k - 1].id;
    }
    return missing;
  }

 private:
  struct Entry {
    std::uint64_t other;
    std::uint64_t id;
  };
  bool direct_ = false;
  std::vector<std::size_t> bucket_start_;
  std::vector<Entry> entries_;
  IndexTable hashed_;
};

}  // namespace

template <class Index>
SimplexList<Index> merge_simplices(std::span<const VertexItem> vertices,
                                   std::span<const EdgeItem> edges,
                                   std::span<const TriangleItem> triangles) {
  const std::size_t nv = vertices.size();
  const std::size_t n = nv + edges.size() + triangles.size();
  SimplexList<Index> list;
  list.values.reserve(n);
  list.dims.reserve(n);
  list.face_offsets.reserve(n + 1);
  list.faces.reserve(2 * edges.size() + 3 * triangles.size());
  for (const VertexItem& v : vertices) {
    list.values.push_back(v.value);
    list.dims.push_back(0);
    list.face_offsets.push_back(0);
  }
  const VertexTable vertex_table(vertices);
  for (const EdgeItem& e : edges) {
    for (const std::uint64_t endpoint : {e.v0, e.v1}) {
      const std::uint64_t id = vertex_table.find(endpoint);
      list.faces.push_back(static_cast<Index>(id == missing ? 0 : id));
    }
    list.values.push_back(e.value);
    list.dims.push_back(1);
    list.face_offsets.push_back(list.faces.size());
  }
  const EdgeTable edge_table(edges, nv);
  for (const TriangleItem& t : triangles) {
    const std::pair<std::uint64_t, std::uint64_t> sides[3] = {{t.v0, t.v1}, {t.v1, t.v2},
                                                                {t.v0, t.v2}};
    for (const auto& [a, b] : sides) {
      const std::uint64_t id = edge_table.find(a, b);
      if (id != missing) list.faces.push_back(static_cast<Index>(id));
    }
    list.values.push_back(t.value);
    list.dims.push_back(2);
    list.face_offsets.push_back(list.faces.size());
  }
  return list;
}

template SimplexList<std::uint32_t> merge_simplices(std::span<const VertexItem>,
                                                    std::span<const EdgeItem>,
                                                    std::span<const TriangleItem>);
template SimplexList<std::uint64_t> merge_simplices(std::span<const VertexItem>,
                                                    std::span<const EdgeItem>,
                                                    std::span<const TriangleItem>);

}  // namespace tazmir::topo
