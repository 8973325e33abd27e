// The standard column reduction over Z/2, with a guard against columns that cycle forever.
#include "topo/column_reduction.hpp"

#include <utility>

namespace tazmir::topo {

namespace {

const char* const cycling_column_message =
    "a simplex lists the same face twice, so the boundary reduction cannot finish";

/// The sum of two ascending lists over Z/2 as a merge: equal heads are dropped together,
/// otherwise the smaller head is kept. A value listed m times in one and n times in the other
/// ends up |m - n| times.
template <class Index>
void add_columns(std::span<const Index> a, std::span<const Index> b, std::vector<Index>& out) {
  out.resize(a.size() + b.size());
  Index* o = out.data();
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const Index x = a[i];
    const Index y = b[j];
    if (x == y) {
      ++i;
      ++j;
    } else if (x < y) {
      *o++ = x;
      ++i;
    } else {
      *o++ = y;
      ++j;
    }
  }
  while (i < a.size()) *o++ = a[i++];
  while (j < b.size()) *o++ = b[j++];
  out.resize(static_cast<std::size_t>(o - out.data()));
}

/// True when every edge column holds two different vertex rows and every triangle column
/// only edge rows: edges then reduce only against edges and triangles only against triangles.
template <class Index>
bool graded_graph(const BoundaryMatrix<Index>& m) {
  if (m.dims.size() != m.columns()) return false;
  for (std::size_t c = 0; c < m.columns(); ++c) {
    const std::span<const Index> col = m.column(c);
    if (m.dims[c] == 0 && !col.empty()) return false;
    if (m.dims[c] == 1 && (col.size() != 2 || col[0] == col[1] || m.dims[col[0]] != 0 ||
                           m.dims[col[1]] != 0)) {
      return false;
    }
    if (m.dims[c] == 2) {
      for (const Index r : col) {
        if (m.dims[r] != 1) return false;
      }
    }
  }
  return true;
}

template <class Index>
class Reduction {
 public:
  explicit Reduction(const BoundaryMatrix<Index>& m)
      : m_(m), low_(m.columns(), no_pivot<Index>), owner_(m.columns(), no_pivot<Index>),
        reduced_at_(m.columns(), unreduced) {}

  /// Edge columns of a graded graph by the elder rule: reducing [a, b] against the earlier
  /// edges ends at the two components' oldest vertices, and the younger of them is the pivot
  /// (none when they coincide). Pivots are unique, so this is the standard algorithm's result.
  void reduce_edges_by_union_find() {
    std::vector<Index> parent(m_.columns());
    for (std::size_t r = 0; r < parent.size(); ++r) parent[r] = static_cast<Index>(r);
    const auto find = [&](Index v) {
      while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
      }
      return v;
    };
    for (std::size_t c = 0; c < m_.columns(); ++c) {
      if (m_.dims[c] != 1) continue;
      const std::span<const Index> col = m_.column(c);
      const Index a = find(col[0]);
      const Index b = find(col[1]);
      if (a == b) continue;
      const Index younger = a < b ? b : a;
      parent[younger] = a < b ? a : b;
      low_[c] = younger;
      owner_[younger] = static_cast<Index>(c);
    }
  }

  /// The literal column algorithm for every column `include` accepts, left to right.
  template <class Include>
  bool reduce_columns(Include include) {
    for (std::size_t c = 0; c < m_.columns(); ++c) {
      if (include(c) && !reduce_column(c)) return false;
    }
    return true;
  }

  std::vector<Index> take_pivots() { return std::move(low_); }

 private:
  static constexpr std::size_t unreduced = static_cast<std::size_t>(-1);

  std::span<const Index> column(std::size_t c) const {
    if (reduced_at_[c] == unreduced) return m_.column(c);
    return {pool_.data() + reduced_at_[c], reduced_len_[c]};
  }

  bool reduce_column(std::size_t c) {
    const std::span<const Index> original = m_.column(c);
    if (original.empty()) return true;
    Index r = original.back();
    if (owner_[r] == no_pivot<Index>) {
      low_[c] = r;
      owner_[r] = static_cast<Index>(c);
      return true;
    }
    work_.assign(original.begin(), original.end());
    // The lowest entry never rises. While it stays put the column moves through finitely
    // many states by a fixed rule, so it either moves on or comes back to a state it had:
    // Brent's cycle search (a saved state, renewed at power-of-two step counts) sees that.
    bool tracking = false;
    std::size_t power = 1;
    std::size_t steps = 0;
    while (true) {
      add_columns<Index>(work_, column(owner_[r]), sum_);
      work_.swap(sum_);
      if (work_.empty()) return true;
      if (work_.back() != r) {
        r = work_.back();
        tracking = false;
      } else if (!tracking) {
        saved_ = work_;
        tracking = true;
        power = 1;
        steps = 0;
      } else {
        if (work_ == saved_) return false;
        if (++steps == power) {
          saved_ = work_;
          power *= 2;
          steps = 0;
        }
      }
      if (owner_[r] == no_pivot<Index>) {
        low_[c] = r;
        owner_[r] = static_cast<Index>(c);
        if (reduced_len_.empty()) reduced_len_.resize(m_.columns());
        reduced_at_[c] = pool_.size();
        reduced_len_[c] = work_.size();
        pool_.insert(pool_.end(), work_.begin(), work_.end());
        return true;
      }
    }
  }

  const BoundaryMatrix<Index>& m_;
  std::vector<Index> low_;
  std::vector<Index> owner_;
  std::vector<std::size_t> reduced_at_;  // where a changed pivot column lives in pool_
  std::vector<std::size_t> reduced_len_;
  std::vector<Index> pool_;
  std::vector<Index> work_;
  std::vector<Index> sum_;
  std::vector<Index> saved_;
};

}  // namespace

template <class Index>
Result<std::vector<Index>> reduce_pivots(const BoundaryMatrix<Index>& matrix) {
  Reduction<Index> reduction(matrix);
  bool finished = false;
  if (graded_graph(matrix)) {
    reduction.reduce_edges_by_union_find();
    finished = reduction.reduce_columns([&](std::size_t c) { return matrix.dims[c] == 2; });
  } else {
    finished = reduction.reduce_columns([](std::size_t) { return true; });
  }
  if (!finished) return TazmirError(error::Other{cycling_column_message});
  return reduction.take_pivots();
}

template Result<std::vector<std::uint32_t>> reduce_pivots(const BoundaryMatrix<std::uint32_t>&);
template Result<std::vector<std::uint64_t>> reduce_pivots(const BoundaryMatrix<std::uint64_t>&);

}  // namespace tazmir::topo
