// Orientation stages Python cannot see: the gradient's own values, the AVX2 row kernels against
// the SSE2 ones, and the fused structure tensor against its stages. (The kernel weights and the
// blur's border rule: tests/test_orient_structure_tensor.py; every bit: tests/test_digest.py.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/field.hpp"
#include "core/panic.hpp"
#include "orient/blur_rows.hpp"
#include "orient/eigen_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {
namespace {

template <class F>
std::string panic_text(F&& body) {
  try { body(); } catch (const Panic& failure) { return failure.message(); }  // NOLINT
  return "<no failure>";
}

ImageField random_field(std::size_t w, std::size_t h, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-2.0, 3.0);
  std::vector<double> data(w * h);
  for (double& x : data) x = value(rng);
  return ImageField(std::move(data), w, h);
}

// Equal bits, where two NaNs count as equal: which NaN passes on depends on operand order.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  for (std::size_t i = 0; i < a.size() && a.size() == b.size(); ++i) {
    if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::memcmp(&a[i], &b[i], 8) != 0) return false;
  }
  return a.size() == b.size();
}

TEST(ScharrGradient, RampsAndImpulse) {
  ImageField across = ImageField::zeros(6, 5), down = ImageField::zeros(4, 7);
  for (std::size_t i = 0; i < 30; ++i) across.data[i] = static_cast<double>(i % 6);  // I = c
  for (std::size_t i = 0; i < 28; ++i) down.data[i] = static_cast<double>(i / 4);    // I = r
  const auto [gx, gy] = scharr_gradient(across);
  for (std::size_t i = 0; i < 30; ++i) {  // 1.0 inside, 0.0 on the border
    EXPECT_EQ(gx.data[i], i / 6 % 4 != 0 && i % 6 % 5 != 0 ? 1.0 : 0.0) << i;
  }
  EXPECT_EQ(gy.data, std::vector<double>(30, 0.0));
  const auto [hx, hy] = scharr_gradient(down);
  EXPECT_EQ(std::pair(hx.at(3, 2), hy.at(3, 2)), std::pair(0.0, 1.0));
  EXPECT_EQ(hy.at(0, 2), 0.0);
  ImageField impulse = ImageField::zeros(7, 7);
  impulse.data[3 * 7 + 3] = 1.0;
  const auto [ix, iy] = scharr_gradient(impulse);
  EXPECT_EQ(std::vector({ix.at(3, 2), ix.at(3, 4), iy.at(2, 3), iy.at(4, 3), ix.at(2, 2)}),
            std::vector({0.3125, -0.3125, 0.3125, -0.3125, 3.0 / 32.0}));
  EXPECT_EQ(ix.at(3, 3), 0.0);  // the centre value is not used
  EXPECT_EQ(panic_text([] { (void)scharr_gradient(ImageField::zeros(0, 4)); }),
            "chunk_size must not be zero");
}

TEST(TensorEigen, RowKernelsEqualThePixelFormula) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const double values[] = {0.0, -0.0, 1e-16, 1e-300, 1.0, 2.5, -3.0, 1e300, inf, -inf, nan};
  std::vector<double> a, b, c, want[4];
  for (double x : values) {
    for (double y : values) {
      for (double z : {0.0, 1.0, 7e-16, inf, nan, 0.25}) {
        const TensorEigen e = tensor_eigen(x, y, z);
        a.push_back(x), b.push_back(y), c.push_back(z);
        want[0].push_back(e.theta), want[1].push_back(e.coherence);
        want[2].push_back(e.lambda1), want[3].push_back(e.lambda2);
      }
    }
  }
  const std::size_t n = a.size();
  for (const int lanes : {0, 1, 2}) {
    use_eigen_lanes_for_testing(lanes);
    std::vector<double> got[6] = {std::vector<double>(n), std::vector<double>(n),
                                  std::vector<double>(n), std::vector<double>(n),
                                  std::vector<double>(n), std::vector<double>(n)};
    tensor_eigen_row(a.data(), b.data(), c.data(), n, got[0].data(), got[1].data(),
                     got[2].data(), got[3].data());
    tensor_eigen_row(a.data(), b.data(), c.data(), n, got[4].data(), got[5].data(), nullptr,
                     nullptr);  // angles and coherence only
    for (int k = 0; k < 6; ++k) EXPECT_TRUE(same_bits(got[k], want[k % 4])) << lanes << k;
  }
  use_eigen_lanes_for_testing(0);
}

TEST(StructureTensor, FusedEqualsTheStagesBitForBit) {
  // Tall images take the rolling form, short ones and wide kernels the two-pass form. The
  // stages run with the SSE2 blur rows, the fused form with the AVX2 ones where present.
  const double cases[][3] = {{33, 300, 2.0}, {300, 90, 1.0}, {20, 20, 0.3}, {9, 200, 9.0},
                             {41, 67, 3.7}, {37, 29, 0.5}, {300, 3, 1.7}, {19, 23, 40.0},
                             {3, 3, 1.0}, {1, 1, 1.0}};
  for (const auto& [w, h, sigma] : cases) {
    const ImageField field =
        random_field(static_cast<std::size_t>(w), static_cast<std::size_t>(h), 21);
    const auto [gx, gy] = scharr_gradient(field);
    ImageField jxx = gx, jxy = gx, jyy = gx;
    for (std::size_t i = 0; i < gx.data.size(); ++i) {
      jxx.data[i] = gx.data[i] * gx.data[i];
      jxy.data[i] = gx.data[i] * gy.data[i];
      jyy.data[i] = gy.data[i] * gy.data[i];
    }
    use_portable_blur_for_testing(true);
    const auto s = gaussian_blur_triple(jxx, jxy, jyy, sigma);
    use_portable_blur_for_testing(false);
    const StructureTensorResult fused = structure_tensor(field, sigma);
    bool same = true;
    for (std::size_t i = 0; i < gx.data.size(); ++i) {
      const TensorEigen e = tensor_eigen(s[0].data[i], s[1].data[i], s[2].data[i]);
      same = same && same_bits({e.theta, e.coherence, e.lambda1, e.lambda2},
                               {fused.theta.data[i], fused.coherence.data[i],
                                fused.lambda1.data[i], fused.lambda2.data[i]});
    }
    EXPECT_TRUE(same) << w << "x" << h << " sigma " << sigma;
  }
}

}  // namespace
}  // namespace tazmir::orient
