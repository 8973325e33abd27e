// Topology pieces Python cannot reach: the gauge fix and the 3x3 frame scan themselves, and
// the two-row defect scan checked against the full frame scan bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "topo/defects.hpp"
#include "topo/frame_field.hpp"
#include "topo/holonomy.hpp"

namespace tazmir::topo {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(FrameField, DotProductSumsFirstTwoProductsFirst) {
  const double a[3] = {1.0, 1e16, -1e16};
  const double b[3] = {1.0, 1.0, 1.0};
  EXPECT_EQ(dot3(a, b), 0.0);  // (1 + 1e16) - 1e16; summing the last two first would give 1
}

TEST(FrameField, GaugeFixPatterns) {
  const Frame identity = planar_frame(1.0, 0.0);
  const Frame quarter = {0, 1, 0, -1, 0, 0, 0, 0, 1};  // patterns 1 and 2 tie at 1
  const std::pair<Frame, int> cases[] = {
      {quarter, 0},
      {planar_frame(-1.0, 0.0), 1},          // half-turn about e3
      {{-1, 0, 0, 0, 1, 0, 0, 0, -1}, 2},    // half-turn about e2
      {{1, 0, 0, 0, -1, 0, 0, 0, -1}, 3},    // half-turn about e1
      {{nan, 0, 0, 0, 1, 0, 0, 0, 1}, 0},    // a NaN score never wins
  };
  for (const auto& [frame, pattern] : cases) EXPECT_EQ(d2_gauge_pattern(identity, frame), pattern);
  EXPECT_EQ(d2_gauge_fix(identity, quarter), quarter);
  EXPECT_EQ(d2_gauge_fix(identity, planar_frame(-1.0, 0.0)), identity);
}

// The two-row scan of detect_defects against the 3x3 scan over the whole frame field: the
// same plaquettes and the same angle bits, thresholds on and just below each angle included.
void expect_same_as_frame_scan(const std::vector<double>& thetas, std::size_t nx,
                               std::size_t ny, std::uint32_t k, double threshold) {
  std::vector<Frame> frames;
  for (double theta : thetas) {
    double s = 0.0;
    double c = 0.0;
    ::sincos((theta * static_cast<double>(k)) * 0.5, &s, &c);
    frames.push_back(planar_frame(c, s));
  }
  const auto expected = scan_disclinations(frames, nx, ny, threshold);
  const auto got = detect_defects(thetas, nx, ny, k, threshold);
  ASSERT_EQ(got.size(), expected.size()) << "threshold " << threshold << " k " << k;
  for (std::size_t n = 0; n < got.size(); ++n) {
    EXPECT_EQ(got[n].position[0], static_cast<double>(expected[n].row) + 0.5);
    EXPECT_EQ(got[n].position[1], static_cast<double>(expected[n].col) + 0.5);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[n].angle),
              std::bit_cast<std::uint64_t>(expected[n].angle));
    EXPECT_EQ(std::fabs(got[n].charge), 1.0 / static_cast<double>(k));
  }
  if (threshold == -1.0) {
    for (const Disclination& d : expected) {
      expect_same_as_frame_scan(thetas, nx, ny, k, d.angle);
      expect_same_as_frame_scan(thetas, nx, ny, k, std::nextafter(d.angle, -1.0));
    }
  }
}

TEST(DetectDefects, TwoRowScanMatchesTheFrameScanBitForBit) {
  std::mt19937_64 rng(20261206);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  // Spread 4 puts defects everywhere; spread 1e-9 gives angles of rounding size, here with a
  // NaN, an infinity and a value that k = 6 lifts beyond the double range.
  using Grid = std::tuple<std::size_t, std::size_t, double>;
  for (const auto& [nx, ny, spread] : {Grid{2, 2, 4.0}, {7, 5, 4.0}, {3, 17, 4.0}, {8, 6, 1e-9}}) {
    std::vector<double> thetas(nx * ny);
    for (double& t : thetas) t = 0.3 + spread * unit(rng);
    if (spread < 1.0) {
      thetas[9] = nan;
      thetas[20] = std::numeric_limits<double>::infinity();
      thetas[33] = 1e300;
    }
    for (std::uint32_t k : {0u, 1u, 2u, 6u}) {
      for (double threshold : {-1.0, 0.0, 1e-8, 5e-8, 1e-7, 0.5, 3.0, pi, nan}) {
        expect_same_as_frame_scan(thetas, nx, ny, k, threshold);
      }
    }
  }
}

}  // namespace
}  // namespace tazmir::topo
