// Block means of the coherence-weighted nematic tensor, with a fast doubled-angle sin/cos.
#include "orient/nematic_blocks.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/cpu.hpp"
#include "core/pool.hpp"

namespace tazmir::orient {

namespace {

// pi/2 split in two parts (Cody–Waite), so that x - n pi/2 keeps full precision for the
// small quadrant counts a director angle produces.
constexpr double kPiOver2Hi = 1.5707963267341256e+00;
constexpr double kPiOver2Lo = 6.0771005065061922e-11;
constexpr double kTwoOverPi = 0.63661977236758134308;
// Largest |2 theta| the fast reduction serves; beyond it (and for NaN) the library's exact
// functions take over.
constexpr double kReducible = 1e9;
// Adding and removing 1.5 * 2^52 rounds to the nearest integer (exact below 2^51 in IEEE
// arithmetic, which the build keeps), and leaves that integer in the low mantissa bits.
constexpr double kRoundingShift = 6755399441055744.0;

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

// cos 2 theta and sin 2 theta for |2 theta| < kReducible (garbage, but no undefined
// behaviour, beyond). Branch-free, with the quadrant read from the rounded count's bits, so
// that a row of angles vectorises.
inline void reduced_cos_sin_doubled(double theta, double& cos2, double& sin2) {
  const double x = 2.0 * theta;
  const double shifted = x * kTwoOverPi + kRoundingShift;
  const double n = shifted - kRoundingShift;
  std::uint64_t quadrant = 0;
  std::memcpy(&quadrant, &shifted, sizeof quadrant);
  const double r = (x - n * kPiOver2Hi) - n * kPiOver2Lo;
  const double s = sin_poly(r);
  const double c = cos_poly(r);
  // Quadrant q turns (c, s) by q quarter turns: (c, s), (-s, c), (-c, -s), (s, -c).
  const bool odd = (quadrant & 1) != 0;
  const double along = odd ? s : c;
  const double across = odd ? c : s;
  cos2 = (((quadrant + 1) & 2) != 0) ? -along : along;  // quadrants 1 and 2
  sin2 = ((quadrant & 2) != 0) ? -across : across;       // quadrants 2 and 3
}

// One row of pixels: (w cos 2 theta, w sin 2 theta) for weights w. The same source serves
// every instruction set, so each gives the same bits.
inline void doubled_terms(const double* __restrict theta, const double* __restrict weight,
                          double* __restrict wcos, double* __restrict wsin, std::size_t n) {
  for (std::size_t c = 0; c < n; ++c) {
    double cos2 = 0.0;
    double sin2 = 0.0;
    reduced_cos_sin_doubled(theta[c], cos2, sin2);
    wcos[c] = weight[c] * cos2;
    wsin[c] = weight[c] * sin2;
  }
}

void doubled_terms_portable(const double* theta, const double* weight, double* wcos,
                            double* wsin, std::size_t n) {
  doubled_terms(theta, weight, wcos, wsin, n);
}

#if TAZMIR_X86
TAZMIR_AVX2 void doubled_terms_avx2(const double* theta, const double* weight, double* wcos,
                                    double* wsin, std::size_t n) {
  doubled_terms(theta, weight, wcos, wsin, n);
}
#endif

using DoubledTerms = void (*)(const double*, const double*, double*, double*, std::size_t);

DoubledTerms pick_doubled_terms() {
#if TAZMIR_X86
  if (cpu_has_avx2()) return doubled_terms_avx2;
#endif
  return doubled_terms_portable;
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
  static const DoubledTerms row_terms = pick_doubled_terms();
  parallel_for(0, block_rows, 1, [&](std::size_t lo, std::size_t hi) {
    const std::size_t used = block_cols * step;
    std::vector<double> sums(block_cols * 4);
    // Per pixel of one row: w cos, w sin, and under a mask w and inside. Without a mask the
    // weight is the coherence itself and every pixel lies inside, so neither is copied: the
    // inside channel's sum is the block's pixel count, as adding ones would give exactly.
    const std::size_t summed = field.mask ? 4 : 3;
    std::vector<double> terms(used * (field.mask ? 4 : 2));
    double* wcos = terms.data();
    double* wsin = wcos + used;
    double* masked_weight = field.mask ? wsin + used : nullptr;
    double* inside = field.mask ? masked_weight + used : nullptr;
    const double pixels = static_cast<double>(step * step);
    for (std::size_t br = lo; br < hi; ++br) {
      std::fill(sums.begin(), sums.end(), 0.0);
      for (std::size_t r = br * step; r < (br + 1) * step; ++r) {
        const double* theta = field.theta + r * field.cols;
        const double* weight = field.weight + r * field.cols;
        if (field.mask) {
          const std::uint8_t* mask = field.mask + r * field.cols;
          for (std::size_t c = 0; c < used; ++c) {
            inside[c] = static_cast<double>(mask[c] != 0);
            masked_weight[c] = weight[c] * inside[c];
          }
          weight = masked_weight;
        }
        row_terms(theta, weight, wcos, wsin, used);
        for (std::size_t c = 0; c < used; ++c) {
          if (std::fabs(2.0 * theta[c]) < kReducible) continue;
          double cos2 = 0.0;
          double sin2 = 0.0;
          cos_sin_doubled(theta[c], cos2, sin2);
          wcos[c] = weight[c] * cos2;
          wsin[c] = weight[c] * sin2;
        }
        // Each block adds its pixels row by row, left to right: a fixed order.
        const double* row_channels[4] = {wcos, wsin, weight, inside};
        for (std::size_t bc = 0; bc < block_cols; ++bc) {
          for (std::size_t k = 0; k < summed; ++k) {
            const double* term = row_channels[k] + bc * step;
            double sum = sums[bc * 4 + k];
            for (std::size_t c = 0; c < step; ++c) sum += term[c];
            sums[bc * 4 + k] = sum;
          }
        }
      }
      if (!field.mask) {
        for (std::size_t bc = 0; bc < block_cols; ++bc) sums[bc * 4 + 3] = pixels;
      }
      double* row_out = out + br * block_cols * 4;
      for (std::size_t i = 0; i < block_cols * 4; ++i) row_out[i] = sums[i] * scale;
    }
  });
}

}  // namespace tazmir::orient
