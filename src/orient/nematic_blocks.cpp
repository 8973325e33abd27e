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
// Largest |2 theta| the two-part reduction serves (its quadrant count fits an int).
constexpr double kReducible = 1e9;
constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52

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

namespace {

// Accurate for |2 theta| < 1e9 only; beyond (and for NaN) the angle is clamped into range.
// Arithmetic selects (multiplying by exact 0, 1 and -1) keep the loop free of branches, so a
// row of angles vectorises.
inline void reduced_cos_sin_doubled(double theta, double& cos2, double& sin2) {
  const double x = std::fmax(std::fmin(2.0 * theta, kReducible), -kReducible);
  // Round to the nearest quadrant count by adding and removing 1.5 * 2^52 (exact for
  // |values| < 2^51 in IEEE arithmetic, which the build keeps).
  const double n = (x * kTwoOverPi + kRoundingShift) - kRoundingShift;
  const double r = (x - n * kPiOver2Hi) - n * kPiOver2Lo;
  const double s = sin_poly(r);
  const double c = cos_poly(r);
  // Quadrant q turns (c, s) by q quarter turns: (c, s), (-s, c), (-c, -s), (s, -c).
  const int q = static_cast<int>(n);
  const double odd = static_cast<double>(q & 1);
  const double even = 1.0 - odd;
  const double along = odd * s + even * c;
  const double across = odd * c + even * s;
  cos2 = (1.0 - static_cast<double>((q + 1) & 2)) * along;  // negative in quadrants 1, 2
  sin2 = (1.0 - static_cast<double>(q & 2)) * across;        // negative in quadrants 2, 3
}

}  // namespace

void cos_sin_doubled(double theta, double& cos2, double& sin2) {
  const double x = 2.0 * theta;
  if (!(std::fabs(x) < kReducible)) {
    // Far outside a director's range (or not a number): the exact library functions.
    cos2 = std::cos(x);
    sin2 = std::sin(x);
    return;
  }
  reduced_cos_sin_doubled(theta, cos2, sin2);
}

void nematic_block_means(const NematicFieldView& field, std::size_t step, double* out) {
  if (step == 0) return;
  const std::size_t block_rows = field.rows / step;
  const std::size_t block_cols = field.cols / step;
  if (block_rows == 0 || block_cols == 0) return;
  const double scale = 1.0 / static_cast<double>(step * step);
  parallel_for(0, block_rows, 1, [&](std::size_t lo, std::size_t hi) {
    const std::size_t used = block_cols * step;
    std::vector<double> sums(block_cols * 4);
    std::vector<double> terms(used * 4);  // per pixel of one row: w cos, w sin, w, inside
    for (std::size_t br = lo; br < hi; ++br) {
      std::fill(sums.begin(), sums.end(), 0.0);
      for (std::size_t r = br * step; r < (br + 1) * step; ++r) {
        const double* theta = field.theta + r * field.cols;
        const double* weight = field.weight + r * field.cols;
        const std::uint8_t* mask = field.mask ? field.mask + r * field.cols : nullptr;
        double* inside = terms.data() + 3 * used;
        for (std::size_t c = 0; c < used; ++c) {
          inside[c] = (mask == nullptr) ? 1.0 : static_cast<double>(mask[c] != 0);
        }
        for (std::size_t c = 0; c < used; ++c) {
          const double w = weight[c] * inside[c];
          double cos2 = 0.0;
          double sin2 = 0.0;
          reduced_cos_sin_doubled(theta[c], cos2, sin2);
          terms[c] = w * cos2;
          terms[used + c] = w * sin2;
          terms[2 * used + c] = w;
        }
        bool unreduced = false;
        for (std::size_t c = 0; c < used; ++c) {
          unreduced |= !(std::fabs(2.0 * theta[c]) < kReducible);
        }
        for (std::size_t c = 0; unreduced && c < used; ++c) {
          if (std::fabs(2.0 * theta[c]) < kReducible) continue;
          const double w = terms[2 * used + c];
          double cos2 = 0.0;
          double sin2 = 0.0;
          cos_sin_doubled(theta[c], cos2, sin2);
          terms[c] = w * cos2;
          terms[used + c] = w * sin2;
        }
        // Each block adds its pixels row by row, left to right: a fixed order.
        for (std::size_t bc = 0; bc < block_cols; ++bc) {
          for (std::size_t k = 0; k < 4; ++k) {
            const double* term = terms.data() + k * used + bc * step;
            double sum = sums[bc * 4 + k];
            for (std::size_t c = 0; c < step; ++c) sum += term[c];
            sums[bc * 4 + k] = sum;
          }
        }
      }
      double* row_out = out + br * block_cols * 4;
      for (std::size_t i = 0; i < block_cols * 4; ++i) row_out[i] = sums[i] * scale;
    }
  });
}

}  // namespace tazmir::orient
