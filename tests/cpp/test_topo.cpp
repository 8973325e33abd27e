// Topology pieces Python cannot reach: the 3x3 frame scan itself, and the streamed defect
// scan checked against it bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <string>
#include <utility>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "core/panic.hpp"
#include "topo/column_reduction.hpp"
#include "topo/defects.hpp"
#include "topo/frame_field.hpp"
#include "topo/holonomy.hpp"

namespace tazmir::topo {
namespace {

constexpr double pi = std::numbers::pi;

Frame rotation_about_e3(double angle) { return planar_frame(std::cos(angle), std::sin(angle)); }

const char* const kLengthFailure =
    "assertion `left == right` failed: frames.len() must equal nx * ny\n  left: 5\n right: 4";

std::string panic_text(const std::function<void()>& body) {
  try {
    body();
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "<no failure>";
}

TEST(FrameField, DotProductSumsFirstTwoProductsFirst) {
  const double a[3] = {1.0, 1e16, -1e16};
  const double b[3] = {1.0, 1.0, 1.0};
  EXPECT_EQ(dot3(a, b), 0.0);  // (1 + 1e16) - 1e16; summing the last two first would give 1
}

TEST(FrameField, GaugeFixTieKeepsTheFrame) {
  const Frame identity = planar_frame(1.0, 0.0);
  const Frame quarter = {0, 1, 0, -1, 0, 0, 0, 0, 1};
  EXPECT_EQ(d2_gauge_pattern(identity, quarter), 0);  // patterns 1 and 2 both score 1
  EXPECT_EQ(d2_gauge_fix(identity, quarter), quarter);
}

TEST(FrameField, GaugeFixPicksTheBestSignPattern) {
  const Frame identity = planar_frame(1.0, 0.0);
  const Frame half_turn_about_e3 = planar_frame(-1.0, 0.0);
  EXPECT_EQ(d2_gauge_pattern(identity, half_turn_about_e3), 1);
  EXPECT_EQ(d2_gauge_fix(identity, half_turn_about_e3), identity);
  const Frame half_turn_about_e2 = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  EXPECT_EQ(d2_gauge_pattern(identity, half_turn_about_e2), 2);
  const Frame half_turn_about_e1 = {1, 0, 0, 0, -1, 0, 0, 0, -1};
  EXPECT_EQ(d2_gauge_pattern(identity, half_turn_about_e1), 3);
  Frame nan_frame = identity;
  nan_frame[0] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(d2_gauge_pattern(identity, nan_frame), 0);  // a NaN score never wins
}

TEST(Holonomy, OneFlipAroundThePlaquetteIsAHalfTurn) {
  const std::vector<Frame> frames = {rotation_about_e3(0), rotation_about_e3(3 * pi / 4),
                                     rotation_about_e3(pi / 4), rotation_about_e3(pi / 2)};
  const auto found = scan_disclinations(frames, 2, 2, 0.5);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].row, 0u);
  EXPECT_EQ(found[0].col, 0u);
  EXPECT_NEAR(found[0].angle, pi, 1e-12);
  const Frame expected = {-1, 0, 0, 0, -1, 0, 0, 0, 1};
  for (std::size_t e = 0; e < 9; ++e) EXPECT_NEAR(found[0].holonomy[e], expected[e], 1e-12);
}

TEST(Holonomy, IdentityFramesHaveAngleExactlyZero) {
  const std::vector<Frame> frames(12, planar_frame(1.0, 0.0));
  EXPECT_TRUE(scan_disclinations(frames, 3, 4, 0.0).empty());
  const auto all = scan_disclinations(frames, 3, 4, -1.0);
  ASSERT_EQ(all.size(), 6u);
  for (const Disclination& d : all) EXPECT_EQ(std::bit_cast<std::uint64_t>(d.angle), 0u);
}

TEST(Holonomy, RecordsComeInScanOrder) {
  // Director angles in fifths of pi; plaquettes (0, 1) and (1, 0) each wind by pi.
  const int fifths[9] = {0, 2, 3, 3, 0, 0, 1, 1, 0};
  std::vector<Frame> frames;
  for (int q : fifths) frames.push_back(rotation_about_e3(q * pi / 5));
  const auto found = scan_disclinations(frames, 3, 3, 0.5);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].row, 0u);
  EXPECT_EQ(found[0].col, 1u);
  EXPECT_EQ(found[1].row, 1u);
  EXPECT_EQ(found[1].col, 0u);
}

TEST(Holonomy, ThresholdsAreStrict) {
  const std::vector<Frame> frames = {rotation_about_e3(0), rotation_about_e3(3 * pi / 4),
                                     rotation_about_e3(pi / 4), rotation_about_e3(pi / 2)};
  const double angle = scan_disclinations(frames, 2, 2, 0.5).at(0).angle;
  EXPECT_TRUE(scan_disclinations(frames, 2, 2, angle).empty());
  EXPECT_EQ(scan_disclinations(frames, 2, 2, std::nextafter(angle, 0.0)).size(), 1u);
  EXPECT_TRUE(scan_disclinations(frames, 2, 2, pi).empty());
  EXPECT_TRUE(scan_disclinations(frames, 2, 2, std::numeric_limits<double>::quiet_NaN()).empty());
}

TEST(Holonomy, LengthAndEmptyGridFailures) {
  const std::vector<Frame> five(5, planar_frame(1.0, 0.0));
  EXPECT_EQ(panic_text([&] { (void)scan_disclinations(five, 2, 2, 0.5); }),
            kLengthFailure);
  const std::vector<Frame> none;
  EXPECT_EQ(panic_text([&] { (void)scan_disclinations(none, 0, 2, 0.5); }),
            "index out of bounds: the len is 0 but the index is 0");
  EXPECT_EQ(panic_text([&] { (void)scan_disclinations(none, 3, 0, 0.5); }),
            "index out of bounds: the len is 0 but the index is 0");
  EXPECT_TRUE(scan_disclinations(none, 0, 1, 0.5).empty());
  EXPECT_TRUE(scan_disclinations(five, 5, 1, -1.0).empty());
  EXPECT_EQ(panic_text([&] { (void)detect_defects(std::vector<double>{}, 0, 2, 2, 0.5); }),
            "index out of bounds: the len is 0 but the index is 0");
  EXPECT_EQ(panic_text([&] { (void)detect_defects(std::vector<double>(5), 2, 2, 2, 0.5); }),
            kLengthFailure);
}

// The streamed scan against the 3x3 scan over the whole frame field: same plaquettes, same
// angle bits, whatever the grid values.
std::vector<Disclination> reference_scan(const std::vector<double>& thetas, std::size_t nx,
                                         std::size_t ny, std::uint32_t k, double threshold) {
  std::vector<Frame> frames;
  for (double theta : thetas) {
    double s = 0.0;
    double c = 0.0;
    ::sincos((theta * static_cast<double>(k)) * 0.5, &s, &c);
    frames.push_back(planar_frame(c, s));
  }
  return scan_disclinations(frames, nx, ny, threshold);
}

void expect_same_as_reference(const std::vector<double>& thetas, std::size_t nx, std::size_t ny,
                              std::uint32_t k, double threshold) {
  const auto expected = reference_scan(thetas, nx, ny, k, threshold);
  const auto got = detect_defects(thetas, nx, ny, k, threshold);
  ASSERT_EQ(got.size(), expected.size()) << "threshold " << threshold << " k " << k;
  for (std::size_t n = 0; n < got.size(); ++n) {
    EXPECT_EQ(got[n].position[0], static_cast<double>(expected[n].row) + 0.5);
    EXPECT_EQ(got[n].position[1], static_cast<double>(expected[n].col) + 0.5);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got[n].angle),
              std::bit_cast<std::uint64_t>(expected[n].angle));
    EXPECT_EQ(std::fabs(got[n].charge), 1.0 / static_cast<double>(k));
  }
}

TEST(DetectDefects, StreamedScanMatchesTheFrameScanBitForBit) {
  std::mt19937_64 rng(20261206);
  std::uniform_real_distribution<double> angle(-4.0, 4.0);
  for (const auto& [nx, ny] : {std::pair<std::size_t, std::size_t>{2, 2}, {7, 5}, {5, 9},
                               {16, 16}, {3, 40}}) {
    std::vector<double> thetas(nx * ny);
    for (double& t : thetas) t = angle(rng);
    for (std::uint32_t k : {0u, 1u, 2u, 3u, 6u}) {
      for (double threshold : {-1.0, 0.0, 1e-9, 1e-7, 0.5, pi / 2, 3.0, 3.14159265, pi, 4.0}) {
        expect_same_as_reference(thetas, nx, ny, k, threshold);
      }
      // Thresholds sitting exactly on, and one rounding below, the angles that occur.
      for (const Disclination& d : reference_scan(thetas, nx, ny, k, -1.0)) {
        expect_same_as_reference(thetas, nx, ny, k, d.angle);
        expect_same_as_reference(thetas, nx, ny, k, std::nextafter(d.angle, -1.0));
      }
    }
  }
}

TEST(DetectDefects, StreamedScanMatchesOnNearlyUniformAndSpecialValues) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> noise(0.0, 1e-9);
  std::vector<double> thetas(8 * 6);
  for (double& t : thetas) t = 0.3 + noise(rng);
  thetas[9] = std::numeric_limits<double>::quiet_NaN();
  thetas[20] = std::numeric_limits<double>::infinity();
  thetas[33] = 1e300;  // lifted beyond the double range for k = 6
  thetas[40] = -0.0;
  for (double threshold : {-1.0, 0.0, 1e-12, 1e-8, 2e-8, 5e-8, 1e-7}) {
    expect_same_as_reference(thetas, 8, 6, 2, threshold);
    expect_same_as_reference(thetas, 8, 6, 6, threshold);
  }
}

TEST(ColumnReduction, ACyclingColumnIsAnErrorNotAHang) {
  // Rows 0 and 1 are vertices; column 2 lists vertex 1 twice and column 3 is [0, 1]:
  // adding [1, 1] to [0, 1] gives [0, 1] back.
  BoundaryMatrix<std::uint32_t> m;
  m.entries = {1, 1, 0, 1};
  m.offsets = {0, 0, 0, 2, 4};
  const auto result = reduce_pivots(m);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().display(),
            "a simplex lists the same face twice, so the boundary reduction cannot finish");
}

TEST(ColumnReduction, RepeatedFacesThatSettleKeepTheLiteralPivots) {
  // [0, 0] owns row 0 (a face listed twice still has a lowest entry); [0, 1] owns row 1;
  // [1, 1] + [0, 1] = [0, 1], then + [0, 1] = []: the column settles with no pivot.
  BoundaryMatrix<std::uint32_t> m;
  m.entries = {0, 0, 0, 1, 1, 1};
  m.offsets = {0, 0, 0, 2, 4, 6};
  const auto result = reduce_pivots(m);
  ASSERT_TRUE(result.ok());
  constexpr std::uint32_t none = no_pivot<std::uint32_t>;
  EXPECT_EQ(result.value(), (std::vector<std::uint32_t>{none, none, 0, 1, none}));
}

// Random graded matrices, faces anywhere in the order (even after their cofaces): the
// elder-rule pivots of the edge columns must be those of the literal reduction.
TEST(ColumnReduction, UnionFindEdgesAgreeWithTheLiteralReduction) {
  std::mt19937_64 rng(42);
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t n = 10 + rng() % 60;
    BoundaryMatrix<std::uint32_t> m;
    m.dims.resize(n);
    for (auto& d : m.dims) d = static_cast<std::uint8_t>(rng() % 3);
    m.dims[0] = 0;
    m.dims[1] = 0;
    m.dims[2] = 1;
    std::vector<std::uint32_t> rows_of[2];
    for (std::uint32_t r = 0; r < n; ++r) {
      if (m.dims[r] < 2) rows_of[m.dims[r]].push_back(r);
    }
    for (std::size_t c = 0; c < n; ++c) {
      std::vector<std::uint32_t> col;
      const auto& pool = rows_of[m.dims[c] == 2 ? 1 : 0];
      if (m.dims[c] == 1) {
        const std::uint32_t a = pool[rng() % pool.size()];
        std::uint32_t b = a;
        while (b == a) b = pool[rng() % pool.size()];
        col = {a, b};
      } else if (m.dims[c] == 2) {
        for (std::size_t f = 0, count = rng() % 4; f < count; ++f) {
          const std::uint32_t e = pool[rng() % pool.size()];
          if (std::find(col.begin(), col.end(), e) == col.end()) col.push_back(e);
        }
      }
      std::sort(col.begin(), col.end());
      m.entries.insert(m.entries.end(), col.begin(), col.end());
      m.offsets.push_back(m.entries.size());
    }
    const auto graded = reduce_pivots(m);
    BoundaryMatrix<std::uint32_t> plain = m;
    plain.dims.clear();  // without dimensions every column takes the literal path
    const auto literal = reduce_pivots(plain);
    ASSERT_TRUE(graded.ok() && literal.ok());
    EXPECT_EQ(graded.value(), literal.value()) << "trial " << trial;
  }
}

}  // namespace
}  // namespace tazmir::topo
