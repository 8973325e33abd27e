// The holonomy scan over grid plaquettes, in the fixed summation order that decides the
// rounding of near-zero holonomy entries.
#include "topo/holonomy.hpp"

#include <cmath>
#include <string>

namespace tazmir::topo {

Frame mat_mul(const Frame& a, const Frame& b) {
  Frame p;
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t r = 0; r < 3; ++r) {
      p[3 * c + r] = (a[r] * b[3 * c] + a[3 + r] * b[3 * c + 1]) + a[6 + r] * b[3 * c + 2];
    }
  }
  return p;
}

Frame mat_tmul(const Frame& a, const Frame& b) {
  Frame p;
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t r = 0; r < 3; ++r) p[3 * c + r] = dot3(&a[3 * r], &b[3 * c]);
  }
  return p;
}

Frame plaquette_holonomy(const Frame& f0, const Frame& f1, const Frame& f2, const Frame& f3) {
  // Each corner is aligned with the raw previous corner, never with a gauge-fixed one.
  const Frame g1 = d2_gauge_fix(f0, f1);
  const Frame g2 = d2_gauge_fix(f1, f2);
  const Frame g3 = d2_gauge_fix(f2, f3);
  const Frame g0 = d2_gauge_fix(f3, f0);
  const Frame r0 = mat_tmul(f0, g1);
  const Frame r1 = mat_tmul(f1, g2);
  const Frame r2 = mat_tmul(f2, g3);
  const Frame r3 = mat_tmul(f3, g0);
  return mat_mul(mat_mul(mat_mul(r0, r1), r2), r3);
}

double rotation_cosine(double h00, double h11, double h22) {
  const double c = (((h00 + h11) + h22) + -1.0) * 0.5;
  if (c < -1.0) return -1.0;
  if (c > 1.0) return 1.0;
  return c;
}

void check_grid_length(std::size_t len, std::size_t nx, std::size_t ny, SourceLocation where) {
  const std::size_t expected = nx * ny;  // unsigned, wrapping like the index arithmetic
  if (len != expected) {
    panic_assert_eq(std::to_string(len), std::to_string(expected),
                    "frames.len() must equal nx * ny", where);
  }
}

std::vector<Disclination> scan_disclinations(std::span<const Frame> frames, std::size_t nx,
                                             std::size_t ny, double threshold) {
  const std::size_t len = frames.size();
  check_grid_length(len, nx, ny);
  std::vector<Disclination> found;
  if (nx == 1 || ny == 1) return found;
  // nx - 1 and ny - 1 wrap for an empty dimension; the first index check then fails.
  for (std::size_t i = 0; i < nx - 1; ++i) {
    for (std::size_t j = 0; j < ny - 1; ++j) {
      const std::size_t i0 = i * ny + j;
      const std::size_t i1 = (i + 1) * ny + j;
      const std::size_t i2 = (i + 1) * ny + j + 1;
      const std::size_t i3 = i * ny + j + 1;
      check_index(i0, len);
      check_index(i1, len);
      check_index(i2, len);
      check_index(i3, len);
      const Frame h = plaquette_holonomy(frames[i0], frames[i1], frames[i2], frames[i3]);
      const double angle = std::acos(rotation_cosine(h[0], h[4], h[8]));
      if (angle > threshold) found.push_back(Disclination{i, j, h, angle});
    }
  }
  return found;
}

}  // namespace tazmir::topo
