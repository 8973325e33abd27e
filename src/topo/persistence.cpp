// Persistent homology: merge the simplices into one filtration order, reduce the boundary
// matrix, and read off the pairs.
#include "topo/persistence.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "core/panic.hpp"
#include "topo/column_reduction.hpp"
#include "topo/index_table.hpp"

namespace tazmir::topo {

namespace {

struct Simplex {
  double filtration;
  std::size_t dim;
};

/// Vertex index -> identifier of its last vertex simplex; direct for compact indices.
class VertexTable {
 public:
  explicit VertexTable(std::span<const VertexItem> vertices) : hashed_(0) {
    std::uint64_t largest = 0;
    for (const VertexItem& v : vertices) largest = std::max(largest, v.vertex);
    direct_ = !vertices.empty() && largest < 4 * vertices.size() + 1024;
    if (direct_) {
      ids_.assign(static_cast<std::size_t>(largest) + 1, IndexTable::missing);
      for (std::size_t i = 0; i < vertices.size(); ++i) ids_[vertices[i].vertex] = i;
    } else {
      hashed_ = IndexTable(vertices.size());
      for (std::size_t i = 0; i < vertices.size(); ++i) hashed_.insert(vertices[i].vertex, 0, i);
    }
  }

  /// The identifier of `vertex`, or 0 (the first simplex) when it was not listed.
  std::size_t find(std::uint64_t vertex) const {
    std::uint64_t id = IndexTable::missing;
    if (direct_) {
      if (vertex < ids_.size()) id = ids_[vertex];
    } else {
      id = hashed_.find(vertex, 0);
    }
    return id == IndexTable::missing ? 0 : static_cast<std::size_t>(id);
  }

 private:
  bool direct_ = false;
  std::vector<std::uint64_t> ids_;
  IndexTable hashed_;
};

/// A key whose unsigned order is the numeric order of finite and infinite doubles, with
/// -0.0 and +0.0 equal.
std::uint64_t order_key(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value == 0.0 ? 0.0 : value);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

/// Identifiers in filtration order: by value, then dimension, then input order (a stable
/// sort by value and dimension).
std::vector<std::size_t> filtration_order(const std::vector<Simplex>& simplices) {
  const std::size_t n = simplices.size();
  if (n >= 2) {
    for (const Simplex& s : simplices) {
      // Comparing a NaN value has no answer: the sort cannot proceed past it.
      if (std::isnan(s.filtration)) panic_unwrap_none();
    }
  }
  struct Key {
    std::uint64_t value;
    std::uint64_t dim;
    std::size_t id;
  };
  std::vector<Key> keys(n);
  for (std::size_t id = 0; id < n; ++id) {
    keys[id] = Key{order_key(simplices[id].filtration), simplices[id].dim, id};
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
    if (a.value != b.value) return a.value < b.value;
    if (a.dim != b.dim) return a.dim < b.dim;
    return a.id < b.id;
  });
  std::vector<std::size_t> order(n);
  for (std::size_t i = 0; i < n; ++i) order[i] = keys[i].id;
  return order;
}

}  // namespace

Result<std::vector<PersistencePair>> compute_persistence(std::span<const VertexItem> vertices,
                                                         std::span<const EdgeItem> edges,
                                                         std::span<const TriangleItem> triangles) {
  const std::size_t nv = vertices.size();
  const std::size_t ne = edges.size();
  const std::size_t n = nv + ne + triangles.size();
  if (n == 0) return std::vector<PersistencePair>{};

  // Merge: identifiers are positions in vertices ++ edges ++ triangles; faces are looked up
  // by vertex index and by unordered vertex pair, the last listing of a key winning.
  std::vector<Simplex> simplices;
  simplices.reserve(n);
  std::vector<std::size_t> face_offsets{0};
  face_offsets.reserve(n + 1);
  std::vector<std::size_t> faces;
  faces.reserve(2 * ne + 3 * triangles.size());
  for (const VertexItem& v : vertices) {
    simplices.push_back({v.value, 0});
    face_offsets.push_back(faces.size());
  }
  const VertexTable vertex_table(vertices);
  IndexTable edge_table(ne);
  for (std::size_t j = 0; j < ne; ++j) {
    const EdgeItem& e = edges[j];
    edge_table.insert(std::min(e.v0, e.v1), std::max(e.v0, e.v1), nv + j);
    faces.push_back(vertex_table.find(e.v0));
    faces.push_back(vertex_table.find(e.v1));
    simplices.push_back({e.value, 1});
    face_offsets.push_back(faces.size());
  }
  for (const TriangleItem& t : triangles) {
    const std::uint64_t pairs[3][2] = {{t.v0, t.v1}, {t.v1, t.v2}, {t.v0, t.v2}};
    for (const auto& p : pairs) {
      const std::uint64_t id = edge_table.find(std::min(p[0], p[1]), std::max(p[0], p[1]));
      if (id != IndexTable::missing) faces.push_back(static_cast<std::size_t>(id));
    }
    simplices.push_back({t.value, 2});
    face_offsets.push_back(faces.size());
  }

  const std::vector<std::size_t> order = filtration_order(simplices);
  std::vector<std::size_t> rank(n);
  for (std::size_t i = 0; i < n; ++i) rank[order[i]] = i;

  // Boundary columns in filtration order, each sorted ascending with duplicates kept.
  BoundaryMatrix matrix;
  matrix.offsets.reserve(n + 1);
  matrix.entries.reserve(faces.size());
  for (std::size_t c = 0; c < n; ++c) {
    const std::size_t id = order[c];
    const auto begin = static_cast<std::ptrdiff_t>(matrix.entries.size());
    for (std::size_t f = face_offsets[id]; f < face_offsets[id + 1]; ++f) {
      matrix.entries.push_back(rank[faces[f]]);
    }
    std::sort(matrix.entries.begin() + begin, matrix.entries.end());
    matrix.offsets.push_back(matrix.entries.size());
  }

  Result<std::vector<std::size_t>> reduction = reduce_pivots(matrix);
  if (!reduction.ok()) return reduction.error();
  const std::vector<std::size_t>& low = reduction.value();

  std::vector<PersistencePair> pairs;
  std::vector<bool> marked(n, false);
  for (std::size_t c = 0; c < n; ++c) {
    const std::size_t r = low[c];
    if (r == no_pivot) continue;
    marked[r] = true;
    marked[c] = true;
    const Simplex& born = simplices[order[r]];
    const double death = simplices[order[c]].filtration;
    // Pairs born and killed at the same value (up to rounding) carry no information.
    if (std::fabs(death - born.filtration) > 1e-15) {
      pairs.push_back({born.filtration, death, born.dim});
    }
  }
  for (std::size_t c = 0; c < n; ++c) {
    const Simplex& s = simplices[order[c]];
    if (!marked[c] && s.dim == 0) {
      pairs.push_back({s.filtration, std::numeric_limits<double>::infinity(), 0});
    }
  }
  return pairs;
}

}  // namespace tazmir::topo
