// Scharr gradient: fixed summation order, one scaling by 1/32 at the end, rows in parallel.
#include "orient/gradient.hpp"

#include <algorithm>

#include "core/pool.hpp"

namespace tazmir::orient {

void check_row_chunks(std::size_t width, SourceLocation where) {
  if (width == 0) panic("chunk_size must not be zero", where);
}

void scharr_row(const ImageField& field, std::size_t r, double* gx, double* gy) {
  const std::size_t w = field.width;
  const std::size_t h = field.height;
  if (r == 0 || r + 1 >= h || w < 3) {
    std::fill(gx, gx + w, 0.0);
    std::fill(gy, gy + w, 0.0);
    return;
  }
  const double* up = field.row(r - 1);
  const double* mid = field.row(r);
  const double* down = field.row(r + 1);
  gx[0] = 0.0;
  gy[0] = 0.0;
  for (std::size_t c = 1; c + 1 < w; ++c) {
    const double a = up[c - 1], t = up[c], b = up[c + 1];
    const double left = mid[c - 1], right = mid[c + 1];
    const double e = down[c - 1], m = down[c], d = down[c + 1];
    // Each product is rounded on its own and the terms are added in exactly this order.
    double sx = (-3.0 * a) + (3.0 * b);
    sx = sx - 10.0 * left;
    sx = 10.0 * right + sx;
    sx = sx - 3.0 * e;
    sx = sx + 3.0 * d;
    gx[c] = sx * 0.03125;
    double sy = (-3.0 * a) - 10.0 * t;
    sy = sy - 3.0 * b;
    sy = 3.0 * e + sy;
    sy = 10.0 * m + sy;
    sy = 3.0 * d + sy;
    gy[c] = sy * 0.03125;
  }
  gx[w - 1] = 0.0;
  gy[w - 1] = 0.0;
}

std::pair<ImageField, ImageField> scharr_gradient(const ImageField& field) {
  ImageField gx = ImageField::zeros(field.width, field.height);
  ImageField gy = ImageField::zeros(field.width, field.height);
  check_row_chunks(field.width);
  const std::size_t grain = std::max<std::size_t>(1, 4096 / field.width);
  parallel_for(0, field.height, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) scharr_row(field, r, gx.row(r), gy.row(r));
  });
  return {std::move(gx), std::move(gy)};
}

}  // namespace tazmir::orient
