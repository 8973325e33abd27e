// Orientation stages Python cannot reach alone: the Scharr gradient and the Gaussian blur.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/field.hpp"
#include "orient/blur_rows.hpp"
#include "orient/gaussian.hpp"
#include "orient/gradient.hpp"
#include "orient_test_support.hpp"

namespace tazmir::orient {
namespace {

using test_support::from_function;
using test_support::panic_text;
using test_support::random_field;
using test_support::same_bits;

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

}  // namespace
}  // namespace tazmir::orient
