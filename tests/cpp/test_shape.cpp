// The W1 tensor and its eigen-decomposition at thresholds, ties and the diagonal limit.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "core/contour.hpp"
#include "shape/minkowski.hpp"

namespace tazmir::shape {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double eps = 2.220446049250313e-16;

BoundaryContour contour(std::vector<Point> points) {
  return BoundaryContour::from_points(std::move(points)).unwrap();
}

std::vector<double> entries(const Tensor2& w) { return {w.xx, w.xy, w.yx, w.yy}; }

TEST(MinkowskiTensor, RepeatsAndShortEdgesAddNothingAndTheTraceIsHalfThePerimeter) {
  const BoundaryContour plain = contour({{0, 0}, {3, 1}, {4, 4}, {1, 5}, {-1, 2}});
  const Tensor2 w = minkowski_w1_tensor(plain);
  const BoundaryContour repeated =
      contour({{0, 0}, {0, 0}, {3, 1}, {4, 4}, {4, 4}, {4, 4}, {1, 5}, {-1, 2}, {0, 0}});
  EXPECT_EQ(entries(w), entries(minkowski_w1_tensor(repeated)));
  EXPECT_DOUBLE_EQ(w.xx + w.yy, plain.perimeter() / 2);
  // Kept, the short edge along x would add half its length to Wyy; skipped, only the
  // slant of the closing edge is left there. An edge of exactly 1e-15 is kept.
  const Tensor2 skipped = minkowski_w1_tensor(contour({{0, 0}, {5e-16, 0}, {5e-16, 1}}));
  EXPECT_EQ(skipped.xx, 1.0);
  EXPECT_LT(skipped.yy, 1e-30);
  const Tensor2 kept = minkowski_w1_tensor(contour({{0, 0}, {1e-15, 0}, {1e-15, 1}}));
  EXPECT_EQ(kept.yy, 0.5 * (1e-15 + 1e-30));
}

TEST(Elongation, ClosedFormsTiesAndTheDiagonalLimit) {
  // A general matrix: lmax = (tr + gap) / 2 with eigenvector (b, lmax - a).
  const double gap = std::sqrt(2.75 * 2.75 + 4 * 1.5 * 1.5);
  const struct { const char* name; Tensor2 w; double elongation, angle; } cases[] = {
      {"identity_ties_to_x", {2, 0, 0, 2}, 0.0, 0.0},
      {"sum_not_above_1e-15", {4e-16, 0, 0, 1e-16}, 0.0, 0.0},
      {"long_along_x", {1, 0, 0, 10}, 9.0 / 11.0, pi / 2},
      // An off-diagonal up to eps (|a| + |c|) counts as zero: a tie, so the x axis.
      {"at_diagonal_limit", {1, 2 * eps, 2 * eps, 1}, 0.0, 0.0},
      {"above_diagonal_limit", {1, 3 * eps, 3 * eps, 1}, 3 * eps, pi / 4},
      {"diagonal_axis", {2, 1, 1, 2}, 0.5, pi / 4},
      {"anti_diagonal_axis", {2, -1, -1, 2}, 0.5, 3 * pi / 4},
      {"general", {3, 1.5, 1.5, 0.25}, gap / 3.25, std::atan2((3.25 + gap) / 2 - 3, 1.5)},
      // Nearly diagonal but above the limit: the axis leans by b / (c - a) off y.
      {"steep", {1, 1e-3, 1e-3, 1e6}, std::sqrt((1e6 - 1) * (1e6 - 1) + 4e-6) / (1e6 + 1),
       pi / 2 - 1e-3 / (1e6 - 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Elongation e = elongation_from_w1_tensor(c.w);
    EXPECT_NEAR(e.elongation, c.elongation, 1e-15);
    EXPECT_NEAR(e.angle, c.angle, 1e-15);
    EXPECT_TRUE(e.angle >= 0.0 && e.angle < pi);
  }
}

}  // namespace
}  // namespace tazmir::shape
