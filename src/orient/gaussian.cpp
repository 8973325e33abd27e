// Gaussian kernel, radius saturation and the two parallel passes of the separable blur.
#include "orient/gaussian.hpp"

#include <algorithm>
#include <cmath>

#include "core/pool.hpp"
#include "orient/blur_rows.hpp"
#include "orient/gradient.hpp"

namespace tazmir::orient {

std::size_t gaussian_radius(double sigma) {
  const double reach = std::ceil(4.0 * sigma);
  if (!(reach > 0.0)) return 0;  // negative, zero or NaN
  if (reach >= 18446744073709551616.0) return ~std::size_t{0};
  return static_cast<std::size_t>(reach);
}

std::vector<double> gaussian_kernel(double sigma, std::size_t radius) {
  std::size_t taps = 0;
  if (__builtin_mul_overflow(radius, std::size_t{2}, &taps) ||
      __builtin_add_overflow(taps, std::size_t{1}, &taps)) {
    panic("capacity overflow");
  }
  std::vector<double> g = alloc_zeros(taps);
  const double spread = (sigma + sigma) * sigma;
  double total = 0.0;
  for (std::size_t k = 0; k < taps; ++k) {
    const double d = static_cast<double>(k) - static_cast<double>(radius);
    g[k] = std::exp(((-d) * d) / spread);
    total = total + g[k];
  }
  for (double& weight : g) weight = weight / total;
  return g;
}

std::array<ImageField, 3> gaussian_blur_triple(const ImageField& f1, const ImageField& f2,
                                               const ImageField& f3, double sigma) {
  if (skips_smoothing(sigma)) {
    return {ImageField(f1.data, f1.width, f1.height), ImageField(f2.data, f2.width, f2.height),
            ImageField(f3.data, f3.width, f3.height)};
  }
  const std::size_t w = f1.width;
  const std::size_t h = f1.height;
  const std::size_t radius = gaussian_radius(sigma);
  const std::vector<double> g = gaussian_kernel(sigma, radius);
  const std::size_t area = checked_area(w, h);
  check_range(0, area, f2.data.size());
  check_range(0, area, f3.data.size());
  std::array<ImageField, 3> across = {ImageField::zeros(w, h), ImageField::zeros(w, h),
                                      ImageField::zeros(w, h)};
  check_row_chunks(w);
  const std::size_t grain = std::max<std::size_t>(1, 4096 / w);
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) {
      const RowTriple rows{{f1.row(r), f2.row(r), f3.row(r)},
                           {across[0].row(r), across[1].row(r), across[2].row(r)}};
      blur_row_horizontal(rows, w, g.data(), radius);
    }
  });
  std::array<ImageField, 3> out = {ImageField::zeros(w, h), ImageField::zeros(w, h),
                                   ImageField::zeros(w, h)};
  parallel_for(0, h, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) {
      // Rows r + k - R for k in [k_lo, k_hi] lie inside the image.
      const std::size_t k_lo = r < radius ? radius - r : 0;
      const std::size_t k_hi = std::min(2 * radius, h - 1 - r + radius);
      const std::size_t first = r + k_lo - radius;
      const RowTriple rows{
          {across[0].row(first), across[1].row(first), across[2].row(first)},
          {out[0].row(r), out[1].row(r), out[2].row(r)}};
      blur_rows_vertical(rows, w, w, g.data() + k_lo, k_hi - k_lo + 1);
    }
  });
  return out;
}

}  // namespace tazmir::orient
