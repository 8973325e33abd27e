// Frank splay and bend energies by central differences, one sine-cosine pair per site.
#include "theory/frank.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/panic.hpp"
#include "core/sincos.hpp"

namespace tazmir::theory {
namespace {

using Wide = unsigned __int128;

std::string wide_to_string(Wide value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

// The slice is too short for the interior: walk the sites in loop order and report the first
// neighbour read (east, west, next row, previous row) that falls past the end. Indices are
// formed in 128 bits so that a huge `nx` cannot wrap one back into range. Every site passed
// has its next-row read inside the slice and those reads grow strictly, so the walk visits
// at most len + 1 sites.
[[noreturn]] void fail_short_slice(std::size_t len, std::size_t nx, std::size_t ny) {
  for (Wide j = 1; j + 1 < ny; ++j) {
    for (Wide i = 1; i + 1 < nx; ++i) {
      const Wide reads[4] = {j * nx + i + 1, j * nx + i - 1, (j + 1) * nx + i,
                             (j - 1) * nx + i};
      for (const Wide index : reads) {
        if (index < len) continue;
        if (index <= std::numeric_limits<std::size_t>::max()) {
          panic_index(static_cast<std::size_t>(index), len);
        }
        panic("index out of bounds: the len is " + std::to_string(len) +
              " but the index is " + wide_to_string(index));
      }
    }
  }
  panic("short director slice without an out-of-range read");
}

// Cosines and sines of three consecutive rows, reused as the previous, current and next row.
class RowTrig {
 public:
  explicit RowTrig(std::size_t nx) : nx_(nx), values_(6 * nx) {}

  const double* cos_row(std::size_t j) const { return values_.data() + (j % 3) * 2 * nx_; }
  const double* sin_row(std::size_t j) const { return cos_row(j) + nx_; }

  // Row j over columns [lo, hi): the outer rows are read only at interior columns, which
  // keeps the corners (and the last value, which may be missing) unread.
  void fill(const double* row, std::size_t j, std::size_t lo, std::size_t hi) {
    double* c = values_.data() + (j % 3) * 2 * nx_;
    double* s = c + nx_;
    // One pair per site gives the very values the four neighbour reads would compute with
    // sin and cos on their own.
    for (std::size_t i = lo; i < hi; ++i) sin_cos(row[i], s[i], c[i]);
  }

 private:
  std::size_t nx_;
  std::vector<double> values_;
};

}  // namespace

double splay_bend_ratio(double splay, double bend) {
  return bend > 1e-15 ? splay / bend : std::numeric_limits<double>::infinity();
}

FrankEnergyResult frank_energy(std::span<const double> thetas, std::size_t nx, std::size_t ny,
                               double dx) {
  double splay_sum = 0.0;
  double bend_sum = 0.0;
  const double h = dx + dx;
  if (nx >= 3 && ny >= 3) {
    // The largest index read is nx * ny - 2 (the next-row neighbour of the last site).
    std::size_t area = 0;
    if (__builtin_mul_overflow(nx, ny, &area) || area - 2 >= thetas.size()) {
      fail_short_slice(thetas.size(), nx, ny);
    }
    const double* base = thetas.data();
    RowTrig trig(nx);
    trig.fill(base, 0, 1, nx - 1);
    trig.fill(base + nx, 1, 0, nx);
    for (std::size_t j = 1; j + 1 < ny; ++j) {
      const bool next_is_last = j + 2 == ny;
      trig.fill(base + (j + 1) * nx, j + 1, next_is_last ? 1 : 0, next_is_last ? nx - 1 : nx);
      const double* c_prev = trig.cos_row(j - 1);
      const double* s_prev = trig.sin_row(j - 1);
      const double* c_here = trig.cos_row(j);
      const double* s_here = trig.sin_row(j);
      const double* c_next = trig.cos_row(j + 1);
      const double* s_next = trig.sin_row(j + 1);
      for (std::size_t i = 1; i + 1 < nx; ++i) {
        // Neighbours east, west, next row, previous row; each difference divided by h.
        const double dcx = (c_here[i + 1] - c_here[i - 1]) / h;
        const double dsx = (s_here[i + 1] - s_here[i - 1]) / h;
        const double dcy = (c_next[i] - c_prev[i]) / h;
        const double dsy = (s_next[i] - s_prev[i]) / h;
        const double div = dcx + dsy;
        const double curl = dsx - dcy;
        splay_sum += div * div;
        bend_sum += curl * curl;
      }
    }
  }
  const double cell_area = dx * dx;
  const double splay = splay_sum * cell_area;
  const double bend = bend_sum * cell_area;
  return {splay, bend, splay_bend_ratio(splay, bend)};
}

}  // namespace tazmir::theory
