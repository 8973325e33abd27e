// The standard column reduction over Z/2, with a guard against columns that cycle forever.
#include "topo/column_reduction.hpp"

#include <utility>

namespace tazmir::topo {

namespace {

/// The sum of two ascending lists over Z/2 as a merge: equal heads are dropped together,
/// otherwise the smaller head is kept. A value listed m times in one and n times in the other
/// ends up |m - n| times.
void add_columns(std::span<const std::size_t> a, std::span<const std::size_t> b,
                 std::vector<std::size_t>& out) {
  out.clear();
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] == b[j]) {
      ++i;
      ++j;
    } else if (a[i] < b[j]) {
      out.push_back(a[i++]);
    } else {
      out.push_back(b[j++]);
    }
  }
  out.insert(out.end(), a.begin() + static_cast<std::ptrdiff_t>(i), a.end());
  out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(j), b.end());
}

const char* const cycling_column_message =
    "a simplex lists the same face twice, so the boundary reduction cannot finish";

}  // namespace

Result<std::vector<std::size_t>> reduce_pivots(const BoundaryMatrix& matrix) {
  const std::size_t n = matrix.columns();
  std::vector<std::size_t> low(n, no_pivot);
  std::vector<std::size_t> owner(n, no_pivot);
  // Pivot columns that were changed by the reduction; the others are read from `matrix`.
  std::vector<std::vector<std::size_t>> reduced(n);
  const auto column = [&](std::size_t c) -> std::span<const std::size_t> {
    if (!reduced[c].empty()) return reduced[c];
    return {matrix.entries.data() + matrix.offsets[c], matrix.offsets[c + 1] - matrix.offsets[c]};
  };

  std::vector<std::size_t> work;
  std::vector<std::size_t> sum;
  std::vector<std::size_t> saved;
  for (std::size_t c = 0; c < n; ++c) {
    const std::span<const std::size_t> original = column(c);
    if (original.empty()) continue;
    std::size_t r = original.back();
    if (owner[r] == no_pivot) {
      low[c] = r;
      owner[r] = c;
      continue;
    }
    work.assign(original.begin(), original.end());
    // The lowest entry never rises. While it stays put the column moves through finitely
    // many states by a fixed rule, so it either moves on or comes back to a state it had:
    // Brent's cycle search (a saved state, renewed at power-of-two step counts) sees that.
    bool tracking = false;
    std::size_t power = 1;
    std::size_t steps = 0;
    while (true) {
      add_columns(work, column(owner[r]), sum);
      work.swap(sum);
      if (work.empty()) break;
      if (work.back() != r) {
        r = work.back();
        tracking = false;
      } else if (!tracking) {
        saved = work;
        tracking = true;
        power = 1;
        steps = 0;
      } else {
        if (work == saved) return TazmirError(error::Other{cycling_column_message});
        if (++steps == power) {
          saved = work;
          power *= 2;
          steps = 0;
        }
      }
      if (owner[r] == no_pivot) {
        low[c] = r;
        owner[r] = c;
        reduced[c] = std::move(work);
        work = {};
        break;
      }
    }
  }
  return low;
}

}  // namespace tazmir::topo
