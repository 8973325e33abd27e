// Shape computations Python cannot reach one by one: the W1 tensor and its
// eigen-decomposition, the thresholds, and the internal failures of convexity.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "core/contour.hpp"
#include "core/panic.hpp"
#include "shape/descriptors.hpp"
#include "shape/fourier.hpp"
#include "shape/katic_shape.hpp"
#include "shape/minkowski.hpp"
#include "shape/morphometrics.hpp"

namespace tazmir::shape {
namespace {

constexpr double pi = std::numbers::pi;

BoundaryContour contour(std::vector<Point> points) {
  return BoundaryContour::from_points(std::move(points)).unwrap();
}

std::string panic_text(const BoundaryContour& c) {
  try {
    (void)convexity(c);
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "no failure";
}

TEST(MinkowskiTensor, RectangleTenByOne) {
  const Tensor2 w = minkowski_w1_tensor(contour({{0, 0}, {10, 0}, {10, 1}, {0, 1}}));
  EXPECT_EQ(w.xx, 1.0);
  EXPECT_EQ(w.xy, 0.0);
  EXPECT_EQ(w.yx, 0.0);
  EXPECT_EQ(w.yy, 10.0);
  const Elongation e = elongation_from_w1_tensor(w);
  EXPECT_DOUBLE_EQ(e.elongation, 9.0 / 11.0);
  EXPECT_EQ(e.angle, pi / 2);
}

TEST(MinkowskiTensor, TraceIsHalfThePerimeterAndRepeatsAddNothing) {
  const BoundaryContour plain = contour({{0, 0}, {3, 1}, {4, 4}, {1, 5}, {-1, 2}});
  const BoundaryContour repeated =
      contour({{0, 0}, {0, 0}, {3, 1}, {4, 4}, {4, 4}, {4, 4}, {1, 5}, {-1, 2}, {0, 0}});
  const Tensor2 a = minkowski_w1_tensor(plain);
  const Tensor2 b = minkowski_w1_tensor(repeated);
  EXPECT_DOUBLE_EQ(a.xx + a.yy, plain.perimeter() / 2);
  EXPECT_EQ(a.xx, b.xx);
  EXPECT_EQ(a.xy, b.xy);
  EXPECT_EQ(a.yy, b.yy);
  EXPECT_EQ(a.xy, a.yx);
}

TEST(MinkowskiTensor, EdgesBelowThresholdAreSkipped) {
  // Kept, the short edge along x would add half its length to Wyy; skipped, only the
  // slant of the closing edge is left there. An edge of exactly 1e-15 is kept.
  const Tensor2 skipped = minkowski_w1_tensor(contour({{0, 0}, {5e-16, 0}, {5e-16, 1}}));
  EXPECT_EQ(skipped.xx, 1.0);
  EXPECT_LT(skipped.yy, 1e-30);
  const Tensor2 kept = minkowski_w1_tensor(contour({{0, 0}, {1e-15, 0}, {1e-15, 1}}));
  EXPECT_EQ(kept.yy, 0.5 * (1e-15 + 1e-30));
}

struct EigenCase {
  const char* name;
  Tensor2 w;
  double elongation;
  double angle;
};

class ElongationOf : public testing::TestWithParam<EigenCase> {};

TEST_P(ElongationOf, Matrix) {
  const EigenCase& c = GetParam();
  const Elongation e = elongation_from_w1_tensor(c.w);
  EXPECT_NEAR(e.elongation, c.elongation, 1e-15) << c.name;
  EXPECT_NEAR(e.angle, c.angle, 1e-15) << c.name;
  EXPECT_GE(e.angle, 0.0);
  EXPECT_LT(e.angle, pi);
}

constexpr double eps = 2.220446049250313e-16;

INSTANTIATE_TEST_SUITE_P(
    Cases, ElongationOf,
    testing::Values(
        EigenCase{"identity_ties_to_x", {2, 0, 0, 2}, 0.0, 0.0},
        EigenCase{"zero", {0, 0, 0, 0}, 0.0, 0.0},
        EigenCase{"below_threshold_sum", {4e-16, 0, 0, 1e-16}, 0.0, 0.0},
        EigenCase{"long_along_x", {1, 0, 0, 10}, 9.0 / 11.0, pi / 2},
        EigenCase{"long_along_y", {10, 0, 0, 1}, 9.0 / 11.0, 0.0},
        // Off-diagonal exactly at the rounding level counts as zero.
        EigenCase{"diagonal_limit", {1, 3 * eps, 3 * eps, 2}, 1.0 / 3.0, pi / 2},
        EigenCase{"tiny_off_diagonal_tie", {1, 1e-300, 1e-300, 1}, 0.0, 0.0},
        EigenCase{"diagonal_axis", {2, 1, 1, 2}, 0.5, pi / 4},
        EigenCase{"anti_diagonal_axis", {2, -1, -1, 2}, 0.5, 3 * pi / 4},
        // Nearly diagonal but above the limit: the axis leans by b / (c - a) off y.
        EigenCase{"steep", {1, 1e-3, 1e-3, 1e6},
                  std::sqrt((1e6 - 1) * (1e6 - 1) + 4e-6) / (1e6 + 1), pi / 2 - 1e-3 / (1e6 - 1)}),
    [](const testing::TestParamInfo<EigenCase>& param) { return std::string(param.param.name); });

TEST(Elongation, JustAboveTheDiagonalLimitIsRotated) {
  // Three times the limit: a proper rotation, whose eigenvectors are still unit vectors.
  const Tensor2 w{1, 9 * eps, 9 * eps, 1};
  const Elongation e = elongation_from_w1_tensor(w);
  EXPECT_NEAR(e.angle, pi / 4, 1e-15);
  EXPECT_NEAR(e.elongation, 9 * eps, 1e-30);
}

TEST(Elongation, EigenvectorsSatisfyTheMatrix) {
  for (const Tensor2 w : {Tensor2{3, 1.5, 1.5, 0.25}, Tensor2{1e-3, -7, -7, 20},
                          Tensor2{5, 1e-9, 1e-9, 5 + 1e-12}}) {
    const Elongation e = elongation_from_w1_tensor(w);
    const double ux = std::cos(e.angle);
    const double uy = std::sin(e.angle);
    const double trace = w.xx + w.yy;
    const double gap = std::sqrt((w.xx - w.yy) * (w.xx - w.yy) + 4 * w.xy * w.xy);
    const double lmax = 0.5 * (trace + gap);
    EXPECT_NEAR(w.xx * ux + w.xy * uy, lmax * ux, 1e-12 * lmax);
    EXPECT_NEAR(w.yx * ux + w.yy * uy, lmax * uy, 1e-12 * lmax);
    EXPECT_NEAR(e.elongation, gap / trace, 1e-12);
  }
}

TEST(Morphometrics, CollinearContour) {
  const BoundaryContour line = contour({{0, 0}, {1, 1}, {2, 2}});
  EXPECT_EQ(shape_index(line), 0.0);
  EXPECT_EQ(panic_text(line),
            "called `Result::unwrap()` on an `Err` value: ContourTooShort { n: 2, min: 3 }");
}

TEST(Morphometrics, NanCoordinate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const BoundaryContour c = contour({{0, 0}, {1, nan}, {0, 1}});
  EXPECT_TRUE(std::isnan(shape_index(c)));
  EXPECT_EQ(panic_text(c), "called `Option::unwrap()` on a `None` value");
}

TEST(Morphometrics, ShapeIndexOfSquareAndThreshold) {
  EXPECT_EQ(shape_index(contour({{0, 0}, {2, 0}, {2, 2}, {0, 2}})), 4.0);
  EXPECT_EQ(shape_index_of(0.999e-15, 5.0), 0.0);
  EXPECT_EQ(shape_index_of(1e-15, 2e-15), 2e-15 / std::sqrt(1e-15));
}

TEST(Morphometrics, ConvexityOfFarFromSortedOutlines) {
  // Vertices of a convex 200-gon in a scrambled order: a self-crossing outline whose hull
  // is the polygon itself, so the hull area is known.
  std::vector<Point> ordered;
  std::vector<Point> scrambled;
  const std::size_t n = 200;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = (i * 77) % n;  // 77 is prime to 200
    const double t = 2 * pi * static_cast<double>(j) / static_cast<double>(n);
    scrambled.push_back({std::cos(t), std::sin(t)});
    const double u = 2 * pi * static_cast<double>(i) / static_cast<double>(n);
    ordered.push_back({std::cos(u), std::sin(u)});
  }
  const BoundaryContour polygon = contour(ordered);
  const BoundaryContour star = contour(scrambled);
  EXPECT_DOUBLE_EQ(convexity(star) * polygon.area(), star.area());
}

TEST(Descriptors, AgreeWithTheSingleFunctions) {
  const BoundaryContour c = contour({{0.5, -1}, {4, 0.2}, {3, 3}, {1, 2}, {-2, 4}, {-1, 0}});
  const ShapeDescriptors d = describe_shape(c);
  EXPECT_EQ(d.area, minkowski_w0(c));
  EXPECT_EQ(d.perimeter, minkowski_w1(c));
  EXPECT_EQ(d.shape_index, shape_index(c));
  EXPECT_EQ(d.convexity, convexity(c));
  EXPECT_EQ(d.elongation, elongation_from_w1_tensor(minkowski_w1_tensor(c)).elongation);
  EXPECT_EQ(d.elongation_angle, elongation_from_w1_tensor(minkowski_w1_tensor(c)).angle);
  EXPECT_EQ(d.shape_katic, katic_shape_spectrum(c));
  EXPECT_EQ(d.fourier_spectrum, fourier_spectrum(c));
}

}  // namespace
}  // namespace tazmir::shape
