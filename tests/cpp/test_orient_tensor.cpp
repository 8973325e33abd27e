// Fused structure tensor against its stages, eigen rows, optimal-scale maps, moment ellipses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/field.hpp"
#include "orient/cell_orientation.hpp"
#include "orient/eigen_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient/multiscale.hpp"
#include "orient/structure_tensor.hpp"
#include "orient_test_support.hpp"

namespace tazmir::orient {
namespace {

using test_support::panic_text;
using test_support::random_field;
using test_support::same_bits;

struct TensorCase {
  std::size_t w, h;
  double sigma;
};

// ---- Structure tensor ------------------------------------------------------------------

// The stages one after another, each over whole fields.
StructureTensorResult staged_tensor(const ImageField& field, double sigma) {
  const auto [gx, gy] = scharr_gradient(field);
  ImageField jxx = ImageField::zeros(field.width, field.height), jxy = jxx, jyy = jxx;
  for (std::size_t i = 0; i < gx.data.size(); ++i) {
    jxx.data[i] = gx.data[i] * gx.data[i];
    jxy.data[i] = gx.data[i] * gy.data[i];
    jyy.data[i] = gy.data[i] * gy.data[i];
  }
  const auto s = gaussian_blur_triple(jxx, jxy, jyy, sigma);
  StructureTensorResult result{jxx, jxx, jxx, jxx};
  for (std::size_t i = 0; i < jxx.data.size(); ++i) {
    const TensorEigen e = tensor_eigen(s[0].data[i], s[1].data[i], s[2].data[i]);
    result.theta.data[i] = e.theta;
    result.coherence.data[i] = e.coherence;
    result.lambda1.data[i] = e.lambda1;
    result.lambda2.data[i] = e.lambda2;
  }
  return result;
}

class FusedTensor : public ::testing::TestWithParam<TensorCase> {};

TEST_P(FusedTensor, EqualsTheStagesBitForBit) {
  const TensorCase p = GetParam();
  const ImageField field = random_field(p.w, p.h, 21);
  const StructureTensorResult fused = structure_tensor(field, p.sigma);
  const StructureTensorResult staged = staged_tensor(field, p.sigma);
  EXPECT_TRUE(same_bits(fused.theta.data, staged.theta.data));
  EXPECT_TRUE(same_bits(fused.coherence.data, staged.coherence.data));
  EXPECT_TRUE(same_bits(fused.lambda1.data, staged.lambda1.data));
  EXPECT_TRUE(same_bits(fused.lambda2.data, staged.lambda2.data));
}

// Tall images take the rolling form, short ones and wide kernels the two-pass form.
INSTANTIATE_TEST_SUITE_P(Sizes, FusedTensor,
                         ::testing::Values(TensorCase{33, 300, 2.0}, TensorCase{300, 90, 1.0},
                                           TensorCase{270, 40, 2.0}, TensorCase{20, 20, 0.3},
                                           TensorCase{17, 130, 0.5}, TensorCase{9, 200, 9.0},
                                           TensorCase{3, 3, 1.0}, TensorCase{41, 67, 3.7}));

TEST(TensorEigen, FlatAndOrientedTensors) {
  const TensorEigen flat = tensor_eigen(0.0, 0.0, 0.0);
  EXPECT_EQ(flat.theta, half_pi);
  EXPECT_EQ(flat.coherence, 0.0);
  const TensorEigen across_columns = tensor_eigen(4.0, 0.0, 0.0);  // gradient along x
  EXPECT_EQ(across_columns.theta, half_pi);
  EXPECT_EQ(across_columns.coherence, 1.0);
  EXPECT_EQ(across_columns.lambda1, 4.0);
  const TensorEigen across_rows = tensor_eigen(0.0, 0.0, 4.0);  // pi folds to 0
  EXPECT_EQ(across_rows.theta, 0.0);
  const TensorEigen diagonal = tensor_eigen(1.0, 1.0, 1.0);
  EXPECT_EQ(diagonal.theta, 3.0 * pi / 4.0);
  const TensorEigen nan = tensor_eigen(std::nan(""), 0.0, 0.0);
  EXPECT_EQ(nan.coherence, 0.0);
  EXPECT_TRUE(std::isnan(nan.theta));
}

TEST(TensorEigen, RowKernelMatchesThePixelFormula) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::nan("");
  std::vector<double> values = {0.0, -0.0, 1e-16, 1e-300, 1.0, 2.5, -3.0, 1e300, inf, -inf, nan};
  std::vector<double> a, b, c;
  for (double x : values) {
    for (double y : values) {
      for (double z : {0.0, 1.0, 7e-16, inf, nan, 0.25}) {
        a.push_back(x);
        b.push_back(y);
        c.push_back(z);
      }
    }
  }
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (int i = 0; i < 517; ++i) {
    a.push_back(value(rng) * value(rng));
    b.push_back(value(rng));
    c.push_back(value(rng) + 1.0);
  }
  const std::size_t n = a.size();
  for (const bool portable : {false, true}) {
    use_portable_eigen_for_testing(portable);
    std::vector<double> theta(n), coherence(n), l1(n), l2(n), theta_only(n), coherence_only(n);
    tensor_eigen_row(a.data(), b.data(), c.data(), n, theta.data(), coherence.data(), l1.data(),
                     l2.data());
    tensor_eigen_row(a.data(), b.data(), c.data(), n, theta_only.data(), coherence_only.data(),
                     nullptr, nullptr);
    std::vector<double> et(n), ec(n), e1(n), e2(n);
    for (std::size_t i = 0; i < n; ++i) {
      const TensorEigen e = tensor_eigen(a[i], b[i], c[i]);
      et[i] = e.theta;
      ec[i] = e.coherence;
      e1[i] = e.lambda1;
      e2[i] = e.lambda2;
    }
    EXPECT_TRUE(same_bits(theta, et)) << portable;
    EXPECT_TRUE(same_bits(coherence, ec)) << portable;
    EXPECT_TRUE(same_bits(l1, e1)) << portable;
    EXPECT_TRUE(same_bits(l2, e2)) << portable;
    EXPECT_TRUE(same_bits(theta_only, et)) << portable;
    EXPECT_TRUE(same_bits(coherence_only, ec)) << portable;
  }
  use_portable_eigen_for_testing(false);
}

TEST(StructureTensor, WidthZeroAndHeightZero) {
  EXPECT_EQ(panic_text([] { (void)structure_tensor(ImageField::zeros(0, 0), 1.0); }),
            "chunk_size must not be zero");
  EXPECT_TRUE(structure_tensor(ImageField::zeros(5, 0), 2.0).theta.data.empty());
  EXPECT_EQ(panic_text([] { (void)structure_tensor(ImageField::zeros(5, 0), 1e300); }),
            "capacity overflow");
}

// ---- Multiscale ------------------------------------------------------------------------

TEST(Multiscale, EachScaleAsOnItsOwn) {
  // Unsmoothed, shared rolling passes (split into several batches here), a two-pass scale
  // and a repeated scale: each must equal the single-scale result in every field.
  const ImageField field = random_field(40, 300, 8);
  const double sigmas[] = {1.0, 0.3, 4.0, 2.0, 60.0, 1.0, 9.0};
  const MultiscaleResult result = multiscale_structure_tensor(field, sigmas);
  ASSERT_EQ(result.scales.size(), 7u);
  for (std::size_t s = 0; s < 7; ++s) {
    EXPECT_EQ(result.scales[s].first, sigmas[s]);
    const StructureTensorResult alone = structure_tensor(field, sigmas[s]);
    const StructureTensorResult& got = result.scales[s].second;
    EXPECT_TRUE(same_bits(got.theta.data, alone.theta.data)) << sigmas[s];
    EXPECT_TRUE(same_bits(got.coherence.data, alone.coherence.data)) << sigmas[s];
    EXPECT_TRUE(same_bits(got.lambda1.data, alone.lambda1.data)) << sigmas[s];
    EXPECT_TRUE(same_bits(got.lambda2.data, alone.lambda2.data)) << sigmas[s];
  }
  const auto [best_sigma, best] = optimal_scale_map(result.scales);
  for (std::size_t i = 0; i < best.data.size(); ++i) {
    double expected = -1.0, expected_sigma = 0.0;
    for (const auto& [sigma, tensor] : result.scales) {
      if (tensor.coherence.data[i] > expected) {
        expected = tensor.coherence.data[i];
        expected_sigma = sigma;
      }
    }
    EXPECT_EQ(best.data[i], expected);
    EXPECT_EQ(best_sigma.data[i], expected_sigma);
  }
  const std::vector<double> one_scale = {1.0};
  EXPECT_EQ(panic_text([&] {
              (void)multiscale_structure_tensor(ImageField::zeros(0, 2), one_scale);
            }),
            "chunk_size must not be zero");
  EXPECT_TRUE(multiscale_structure_tensor(ImageField::zeros(0, 2), {}).scales.empty());
}

TEST(Multiscale, OptimalScaleMapRules) {
  const auto [none_sigma, none_best] = optimal_scale_map({});
  EXPECT_EQ(none_sigma.width, 0u);
  EXPECT_EQ(none_best.height, 0u);

  auto result_with = [](std::vector<double> coherence) {
    ImageField c(std::move(coherence), 3, 1);
    return StructureTensorResult{ImageField::zeros(3, 1), c, c, c};
  };
  const double nan = std::nan("");
  std::vector<std::pair<double, StructureTensorResult>> pairs;
  pairs.emplace_back(2.0, result_with({nan, 0.5, 0.0}));
  pairs.emplace_back(1.0, result_with({nan, 0.5, 0.25}));
  const auto [sigma, best] = optimal_scale_map(pairs);
  EXPECT_EQ(sigma.data, (std::vector<double>{0.0, 2.0, 1.0}));
  EXPECT_EQ(best.data, (std::vector<double>{-1.0, 0.5, 0.25}));

  pairs.emplace_back(3.0, StructureTensorResult{ImageField::zeros(3, 1), ImageField::zeros(2, 1),
                                                ImageField(), ImageField()});
  EXPECT_EQ(panic_text([&] { (void)optimal_scale_map(pairs); }),
            "index out of bounds: the len is 2 but the index is 2");
}

// ---- Moment ellipses -------------------------------------------------------------------

TEST(NuclearEllipse, LShapeAndDegenerateSets) {
  const std::vector<PixelCoord> l_shape = {{0, 0}, {0, 1}, {1, 0}};
  const auto fit = fit_nuclear_ellipse(l_shape);
  ASSERT_TRUE(fit.has_value());
  EXPECT_NEAR(fit->semi_major, 2.0 * std::sqrt(1.0 / 3.0), 1e-15);
  EXPECT_NEAR(fit->semi_minor, 2.0 * std::sqrt(1.0 / 9.0), 1e-15);
  EXPECT_NEAR(fit->angle, 3.0 * pi / 4.0, 1e-15);
  EXPECT_FALSE(fit_nuclear_ellipse(std::vector<PixelCoord>{{0, 0}, {1, 1}}).has_value());
  EXPECT_FALSE(
      fit_nuclear_ellipse(std::vector<PixelCoord>{{0, 0}, {1, 1}, {2, 2}, {3, 3}}).has_value());
  EXPECT_FALSE(fit_nuclear_ellipse(std::vector<PixelCoord>{{4, 0}, {4, 1}, {4, 2}}).has_value());
}

TEST(NuclearEllipse, MaskScanAgreesWithPixelLists) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> label(-1, 6);
  const std::size_t rows = 23, cols = 31;
  std::vector<std::int32_t> mask(rows * cols);
  for (auto& v : mask) v = label(rng);
  const auto fits = fit_nuclear_ellipses(rows, cols, [&](std::size_t r, std::size_t c) {
    return mask[r * cols + c];
  });
  ASSERT_EQ(fits.size(), 6u);
  for (std::size_t i = 0; i < fits.size(); ++i) {
    EXPECT_EQ(fits[i].label, static_cast<std::int32_t>(i + 1));
    std::vector<PixelCoord> pixels;
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < cols; ++c) {
        if (mask[r * cols + c] == fits[i].label) pixels.push_back({r, c});
      }
    }
    const auto direct = fit_nuclear_ellipse(pixels);
    ASSERT_TRUE(direct.has_value());
    EXPECT_EQ(std::memcmp(&*direct, &fits[i].ellipse, sizeof(NuclearEllipse)), 0);
  }
}

}  // namespace
}  // namespace tazmir::orient
