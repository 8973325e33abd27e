// Pair sums of Ripley's K with the translation edge correction, found in a grid of cells.
#include "stats/translation_pairs.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/pool.hpp"

namespace tazmir::stats {

namespace {

// Points per chunk of the parallel loop: fixed, so that the order of every sum is too.
constexpr std::size_t kChunk = 256;

struct CellGrid {
  std::int64_t columns = 0;
  std::int64_t rows = 0;
  std::int64_t first_column = 0;
  std::int64_t first_row = 0;
  std::vector<std::int64_t> column;  // cell column of each point, from the first
  std::vector<std::int64_t> row;
  std::vector<std::size_t> start;    // points of cell c: start[c] .. start[c + 1]
};

CellGrid make_grid(const double* x, const double* y, std::size_t n, double side) {
  CellGrid grid;
  grid.column.resize(n);
  grid.row.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    grid.column[i] = static_cast<std::int64_t>(std::floor(x[i] / side));
    grid.row[i] = static_cast<std::int64_t>(std::floor(y[i] / side));
  }
  grid.first_column = *std::min_element(grid.column.begin(), grid.column.end());
  grid.first_row = *std::min_element(grid.row.begin(), grid.row.end());
  for (std::size_t i = 0; i < n; ++i) {
    grid.column[i] -= grid.first_column;
    grid.row[i] -= grid.first_row;
  }
  grid.columns = *std::max_element(grid.column.begin(), grid.column.end()) + 1;
  grid.rows = *std::max_element(grid.row.begin(), grid.row.end()) + 1;
  const auto cells = static_cast<std::size_t>(grid.columns * grid.rows);
  grid.start.assign(cells + 1, 0);
  for (std::size_t i = 0; i < n; ++i) {
    ++grid.start[static_cast<std::size_t>(grid.row[i] * grid.columns + grid.column[i]) + 1];
  }
  for (std::size_t c = 0; c < cells; ++c) grid.start[c + 1] += grid.start[c];
  return grid;
}

}  // namespace

void translation_pair_sums(const double* x, const double* y, std::size_t n, double width,
                           double height, double cell, const double* radii,
                           std::size_t n_radii, double* sums) {
  std::fill(sums, sums + n_radii, 0.0);
  if (n < 2 || n_radii == 0) return;
  const double r_max = radii[n_radii - 1];
  const double r2 = r_max * r_max;
  const double area = width * height;
  const CellGrid grid = make_grid(x, y, n, cell);
  // Half of the 3 x 3 neighbourhood, so that each pair is met once.
  constexpr std::array<std::array<std::int64_t, 2>, 5> kOffsets{
      {{0, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}}};
  const std::size_t chunks = (n + kChunk - 1) / kChunk;
  // One slot beyond the radii: a distance at r_max may round just above it through d^2.
  const std::size_t slots = n_radii + 1;
  std::vector<double> partial(chunks * slots, 0.0);
  parallel_for(0, chunks, 1, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t chunk = lo; chunk < hi; ++chunk) {
      double* out = partial.data() + chunk * slots;
      const std::size_t last_point = std::min(n, (chunk + 1) * kChunk);
      for (std::size_t i = chunk * kChunk; i < last_point; ++i) {
        for (const auto& [ox, oy] : kOffsets) {
          const std::int64_t cx = grid.column[i] + ox;
          const std::int64_t cy = grid.row[i] + oy;
          if (cx < 0 || cx >= grid.columns || cy >= grid.rows) continue;
          const auto neighbour = static_cast<std::size_t>(cy * grid.columns + cx);
          const std::size_t first = (ox == 0 && oy == 0) ? i + 1 : grid.start[neighbour];
          for (std::size_t j = first; j < grid.start[neighbour + 1]; ++j) {
            const double dx = x[j] - x[i];
            const double dy = y[j] - y[i];
            const double d2 = dx * dx + dy * dy;
            if (!(d2 <= r2)) continue;
            const double weight = area / ((width - std::fabs(dx)) * (height - std::fabs(dy)));
            const double* slot = std::lower_bound(radii, radii + n_radii, std::sqrt(d2));
            out[slot - radii] += weight;
          }
        }
      }
    }
  });
  for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
    for (std::size_t s = 0; s < n_radii; ++s) sums[s] += partial[chunk * slots + s];
  }
}

}  // namespace tazmir::stats
