// Block means of the coherence-weighted nematic tensor, with a fast doubled-angle sin/cos.
#include "orient/nematic_blocks.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/pool.hpp"

namespace tazmir::orient {

namespace {

// pi/2 split in two parts (Cody–Waite), so that x - n pi/2 keeps full precision for the
// small quadrant counts a director angle produces.
constexpr double kPiOver2Hi = 1.5707963267341256e+00;
constexpr double kPiOver2Lo = 6.0771005065061922e-11;
constexpr double kTwoOverPi = 0.63661977236758134308;

// Taylor series on [-pi/4, pi/4]: the first omitted terms are below 2e-16 relative.
inline double sin_poly(double r) {
  const double r2 = r * r;
  return r * (1.0 + r2 * (-1.0 / 6 + r2 * (1.0 / 120 + r2 * (-1.0 / 5040 + r2 * (
      1.0 / 362880 + r2 * (-1.0 / 39916800 + r2 * (1.0 / 6227020800.0)))))));
}

inline double cos_poly(double r) {
  const double r2 = r * r;
  return 1.0 + r2 * (-0.5 + r2 * (1.0 / 24 + r2 * (-1.0 / 720 + r2 * (1.0 / 40320 + r2 * (
      -1.0 / 3628800 + r2 * (1.0 / 479001600.0 + r2 * (-1.0 / 87178291200.0)))))));
}

}  // namespace

void cos_sin_doubled(double theta, double& cos2, double& sin2) {
  const double x = 2.0 * theta;
  if (!(std::fabs(x) < 1e9)) {
    // Far outside a director's range (or not a number): the exact library functions.
    cos2 = std::cos(x);
    sin2 = std::sin(x);
    return;
  }
  const double n = std::nearbyint(x * kTwoOverPi);
  const double r = (x - n * kPiOver2Hi) - n * kPiOver2Lo;
  const double s = sin_poly(r);
  const double c = cos_poly(r);
  // Quadrant q: rotate (c, s) by q quarter turns.
  switch (static_cast<long long>(n) & 3) {
    case 0: cos2 = c; sin2 = s; break;
    case 1: cos2 = -s; sin2 = c; break;
    case 2: cos2 = -c; sin2 = -s; break;
    default: cos2 = s; sin2 = -c; break;
  }
}

void nematic_block_means(const NematicFieldView& field, std::size_t step, double* out) {
  if (step == 0) return;
  const std::size_t block_rows = field.rows / step;
  const std::size_t block_cols = field.cols / step;
  if (block_rows == 0 || block_cols == 0) return;
  const double scale = 1.0 / static_cast<double>(step * step);
  parallel_for(0, block_rows, 1, [&](std::size_t lo, std::size_t hi) {
    std::vector<double> sums(block_cols * 4);
    for (std::size_t br = lo; br < hi; ++br) {
      std::fill(sums.begin(), sums.end(), 0.0);
      for (std::size_t r = br * step; r < (br + 1) * step; ++r) {
        const double* theta = field.theta + r * field.cols;
        const double* weight = field.weight + r * field.cols;
        const std::uint8_t* mask = field.mask ? field.mask + r * field.cols : nullptr;
        for (std::size_t bc = 0; bc < block_cols; ++bc) {
          double* sum = sums.data() + bc * 4;
          for (std::size_t c = bc * step; c < (bc + 1) * step; ++c) {
            const double inside = (mask == nullptr || mask[c] != 0) ? 1.0 : 0.0;
            const double w = weight[c] * inside;
            double cos2 = 0.0;
            double sin2 = 0.0;
            cos_sin_doubled(theta[c], cos2, sin2);
            sum[0] += w * cos2;
            sum[1] += w * sin2;
            sum[2] += w;
            sum[3] += inside;
          }
        }
      }
      double* row_out = out + br * block_cols * 4;
      for (std::size_t i = 0; i < block_cols * 4; ++i) row_out[i] = sums[i] * scale;
    }
  });
}

}  // namespace tazmir::orient
