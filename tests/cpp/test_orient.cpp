// Orientation stages that Python cannot reach alone: gradient, blur, fused tensor, maps, moments.
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
#include "orient/cell_orientation.hpp"
#include "orient/eigen_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient/multiscale.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {
namespace {

template <class F>
std::string panic_text(F&& body) {
  try {
    body();
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "<no failure>";
}

ImageField random_field(std::size_t w, std::size_t h, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-2.0, 3.0);
  std::vector<double> data(w * h);
  for (double& x : data) x = value(rng);
  return ImageField(std::move(data), w, h);
}

ImageField from_function(std::size_t w, std::size_t h, double (*f)(std::size_t, std::size_t)) {
  ImageField field = ImageField::zeros(w, h);
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) field.data[r * w + c] = f(r, c);
  }
  return field;
}

// Equal bit patterns, where any two NaNs count as equal: which NaN an operation passes on
// depends on its operand order, which the compiler may swap for a commutative operation.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
  }
  return true;
}

// ---- Scharr gradient -------------------------------------------------------------------

TEST(ScharrGradient, RampsGiveUnitDerivativeInsideAndZeroOnTheBorder) {
  const auto [gx, gy] = scharr_gradient(from_function(6, 5, [](std::size_t, std::size_t c) {
    return static_cast<double>(c);
  }));
  for (std::size_t r = 0; r < 5; ++r) {
    for (std::size_t c = 0; c < 6; ++c) {
      const bool interior = r >= 1 && r <= 3 && c >= 1 && c <= 4;
      EXPECT_EQ(gx.at(r, c), interior ? 1.0 : 0.0) << r << "," << c;
      EXPECT_EQ(gy.at(r, c), 0.0);
    }
  }
  const auto [hx, hy] = scharr_gradient(from_function(4, 7, [](std::size_t r, std::size_t) {
    return static_cast<double>(r);
  }));
  EXPECT_EQ(hy.at(3, 2), 1.0);
  EXPECT_EQ(hx.at(3, 2), 0.0);
  EXPECT_EQ(hy.at(0, 2), 0.0);
}

TEST(ScharrGradient, ImpulseGivesTheCentreWeightEitherSide) {
  ImageField field = ImageField::zeros(7, 7);
  field.data[3 * 7 + 3] = 1.0;
  const auto [gx, gy] = scharr_gradient(field);
  EXPECT_EQ(gx.at(3, 2), 0.3125);
  EXPECT_EQ(gx.at(3, 4), -0.3125);
  EXPECT_EQ(gy.at(2, 3), 0.3125);
  EXPECT_EQ(gy.at(4, 3), -0.3125);
  EXPECT_EQ(gx.at(2, 2), 3.0 / 32.0);
  EXPECT_EQ(gx.at(3, 3), 0.0);  // the centre value is not used
}

TEST(ScharrGradient, ImagesWithoutInteriorAreZero) {
  for (const auto& [w, h] : {std::pair<std::size_t, std::size_t>{5, 2}, {2, 5}, {1, 1}}) {
    const auto [gx, gy] = scharr_gradient(random_field(w, h, 3));
    EXPECT_EQ(gx.data, std::vector<double>(w * h, 0.0));
    EXPECT_EQ(gy.data, std::vector<double>(w * h, 0.0));
  }
  const auto [gx, gy] = scharr_gradient(random_field(3, 3, 4));
  int nonzero = 0;
  for (double v : gx.data) nonzero += v != 0.0;
  EXPECT_LE(nonzero, 1);
}

TEST(ScharrGradient, WidthZeroCannotBeChunked) {
  EXPECT_EQ(panic_text([] { (void)scharr_gradient(ImageField::zeros(0, 4)); }),
            "chunk_size must not be zero");
  const auto [gx, gy] = scharr_gradient(ImageField::zeros(4, 0));
  EXPECT_TRUE(gx.data.empty());
  EXPECT_EQ(gy.width, 4u);
}

// ---- Gaussian kernel and blur ----------------------------------------------------------

TEST(GaussianKernel, RadiusSaturates) {
  constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(gaussian_radius(0.5), 2u);
  EXPECT_EQ(gaussian_radius(1.0), 4u);
  EXPECT_EQ(gaussian_radius(2.01), 9u);
  EXPECT_EQ(gaussian_radius(-3.0), 0u);
  EXPECT_EQ(gaussian_radius(std::nan("")), 0u);
  EXPECT_EQ(gaussian_radius(1e300), most);
  EXPECT_EQ(gaussian_radius(std::numeric_limits<double>::infinity()), most);
  EXPECT_EQ(panic_text([] { (void)gaussian_kernel(1e300, gaussian_radius(1e300)); }),
            "capacity overflow");
}

TEST(GaussianKernel, ReferenceWeights) {
  const std::vector<double> half = gaussian_kernel(0.5, 2);
  const double expected_half[] = {0.000264, 0.106451, 0.786571, 0.106451, 0.000264};
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(half[k], expected_half[k], 5e-7);
  const std::vector<double> one = gaussian_kernel(1.0, 4);
  const double expected_one[] = {0.000134, 0.004432, 0.053991, 0.241971, 0.398943,
                                 0.241971, 0.053991, 0.004432, 0.000134};
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(one[k], expected_one[k], 5e-7);
    EXPECT_EQ(one[k], one[8 - k]);
  }
}

// Direct transcription of the blur with a range check on every term.
ImageField naive_blur(const ImageField& f, double sigma) {
  const std::size_t w = f.width, h = f.height, radius = gaussian_radius(sigma);
  const std::vector<double> g = gaussian_kernel(sigma, radius);
  const auto span = static_cast<long long>(radius);
  ImageField across = ImageField::zeros(w, h), out = ImageField::zeros(w, h);
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) {
      double s = 0.0;
      for (long long k = 0; k <= 2 * span; ++k) {
        const long long col = static_cast<long long>(c) + k - span;
        if (col >= 0 && col < static_cast<long long>(w)) s = s + g[k] * f.at(r, col);
      }
      across.data[r * w + c] = s;
    }
  }
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) {
      double s = 0.0;
      for (long long k = 0; k <= 2 * span; ++k) {
        const long long row = static_cast<long long>(r) + k - span;
        if (row >= 0 && row < static_cast<long long>(h)) s = s + g[k] * across.at(row, c);
      }
      out.data[r * w + c] = s;
    }
  }
  return out;
}

struct BlurCase {
  std::size_t w, h;
  double sigma;
};

class BlurAgainstNaive : public ::testing::TestWithParam<BlurCase> {};

TEST_P(BlurAgainstNaive, EveryBitAgrees) {
  const BlurCase p = GetParam();
  const ImageField a = random_field(p.w, p.h, 11), b = random_field(p.w, p.h, 12),
                   c = random_field(p.w, p.h, 13);
  for (const bool portable : {false, true}) {
    use_portable_blur_for_testing(portable);
    const auto out = gaussian_blur_triple(a, b, c, p.sigma);
    EXPECT_TRUE(same_bits(out[0].data, naive_blur(a, p.sigma).data)) << portable;
    EXPECT_TRUE(same_bits(out[1].data, naive_blur(b, p.sigma).data)) << portable;
    EXPECT_TRUE(same_bits(out[2].data, naive_blur(c, p.sigma).data)) << portable;
  }
  use_portable_blur_for_testing(false);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlurAgainstNaive,
                         ::testing::Values(BlurCase{37, 29, 0.5}, BlurCase{64, 40, 1.0},
                                           BlurCase{45, 51, 2.0}, BlurCase{7, 30, 2.0},
                                           BlurCase{30, 5, 3.3}, BlurCase{1, 1, 1.0},
                                           BlurCase{300, 3, 1.7}, BlurCase{19, 23, 40.0}));

TEST(GaussianBlur, SmallScalesCopy) {
  const ImageField a = random_field(5, 4, 1), b = random_field(5, 4, 2), c = random_field(5, 4, 3);
  for (const double sigma : {0.49, 0.0, -1.0}) {
    const auto out = gaussian_blur_triple(a, b, c, sigma);
    EXPECT_TRUE(same_bits(out[0].data, a.data));
    EXPECT_TRUE(same_bits(out[2].data, c.data));
  }
  const auto smoothed = gaussian_blur_triple(a, b, c, 0.5);
  EXPECT_FALSE(same_bits(smoothed[0].data, a.data));
  const ImageField none = ImageField::zeros(0, 3);
  EXPECT_EQ(gaussian_blur_triple(none, none, none, 0.2)[0].height, 3u);
}

TEST(GaussianBlur, ImpulseGivesTheOuterProductOfTheKernel) {
  ImageField impulse = ImageField::zeros(21, 21);
  impulse.data[10 * 21 + 10] = 1.0;
  const auto out = gaussian_blur_triple(impulse, impulse, impulse, 1.0);
  const std::vector<double> g = gaussian_kernel(1.0, 4);
  for (std::size_t i = 0; i < 9; ++i) {
    for (std::size_t j = 0; j < 9; ++j) EXPECT_EQ(out[1].at(6 + i, 6 + j), g[i] * g[j]);
  }
  EXPECT_EQ(out[0].at(5, 10), 0.0);
}

TEST(GaussianBlur, ConstantIsKeptInsideAndAttenuatedAtCorners) {
  ImageField constant(std::vector<double>(20 * 20, 2.0), 20, 20);
  const auto out = gaussian_blur_triple(constant, constant, constant, 1.0);
  EXPECT_NEAR(out[0].at(10, 10), 2.0, 1e-15);
  const std::vector<double> g = gaussian_kernel(1.0, 4);
  double edge = 0.0;
  for (std::size_t k = 4; k <= 8; ++k) edge = edge + g[k] * 2.0;
  double corner = 0.0;
  for (std::size_t k = 4; k <= 8; ++k) corner = corner + g[k] * edge;
  EXPECT_EQ(out[0].at(0, 0), corner);
  EXPECT_NEAR(out[0].at(0, 0), 0.6995 * 0.6995 * 2.0, 1e-4);
}

TEST(GaussianBlur, NanScaleSmoothsWithANanWeight) {
  const ImageField a = random_field(4, 4, 5);
  const auto out = gaussian_blur_triple(a, a, a, std::nan(""));
  for (double v : out[2].data) EXPECT_TRUE(std::isnan(v));
}

TEST(GaussianBlur, Failures) {
  const ImageField none = ImageField::zeros(0, 3);
  EXPECT_EQ(panic_text([&] { (void)gaussian_blur_triple(none, none, none, 1.0); }),
            "chunk_size must not be zero");
  const ImageField big = ImageField::zeros(4, 4), small = ImageField::zeros(3, 4);
  EXPECT_EQ(panic_text([&] { (void)gaussian_blur_triple(big, small, big, 1.0); }),
            "range end index 16 out of range for slice of length 12");
  EXPECT_EQ(panic_text([&] { (void)gaussian_blur_triple(big, big, big, 1e300); }),
            "capacity overflow");
}

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

class FusedTensor : public ::testing::TestWithParam<BlurCase> {};

TEST_P(FusedTensor, EqualsTheStagesBitForBit) {
  const BlurCase p = GetParam();
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
                         ::testing::Values(BlurCase{33, 300, 2.0}, BlurCase{300, 90, 1.0},
                                           BlurCase{270, 40, 2.0}, BlurCase{20, 20, 0.3},
                                           BlurCase{17, 130, 0.5}, BlurCase{9, 200, 9.0},
                                           BlurCase{3, 3, 1.0}, BlurCase{41, 67, 3.7}));

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
  const ImageField field = random_field(40, 50, 8);
  const double sigmas[] = {1.0, 2.0, 1.0};
  const MultiscaleResult result = multiscale_structure_tensor(field, sigmas);
  ASSERT_EQ(result.scales.size(), 3u);
  EXPECT_EQ(result.scales[1].first, 2.0);
  EXPECT_TRUE(same_bits(result.scales[1].second.theta.data, structure_tensor(field, 2.0).theta.data));
  const auto [best_sigma, best] = optimal_scale_map(result.scales);
  for (std::size_t i = 0; i < best.data.size(); ++i) {
    const double c1 = result.scales[0].second.coherence.data[i];
    const double c2 = result.scales[1].second.coherence.data[i];
    EXPECT_EQ(best.data[i], c2 > c1 ? c2 : c1);
    EXPECT_EQ(best_sigma.data[i], c2 > c1 ? 2.0 : 1.0);  // the repeated 1.0 never wins a tie
  }
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
