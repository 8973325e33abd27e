// Core pieces Python cannot reach directly: error texts, number formats, the worker pool.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "core/contour.hpp"
#include "core/error.hpp"
#include "core/field.hpp"
#include "core/format.hpp"
#include "core/pool.hpp"

namespace tazmir {
namespace {

TEST(TazmirError, DisplayTexts) {
  EXPECT_EQ(TazmirError(error::DimensionMismatch{"3", "4"}).display(),
            "dimension mismatch: expected 3, got 4");
  EXPECT_EQ(TazmirError(error::ContourTooShort{2, 3}).display(),
            "contour has 2 points, need at least 3");
  EXPECT_EQ(TazmirError(error::EmptyMask{-1}).display(),
            "empty cell mask: label -1 has zero pixels");
  EXPECT_EQ(TazmirError(error::SingularMatrix{}).display(),
            "singular matrix in eigendecomposition");
  EXPECT_EQ(TazmirError(error::InvalidK{0}).display(),
            "invalid k-atic order: k=0, must be positive");
  EXPECT_EQ(TazmirError(error::NoCells{}).display(), "no cells found in segmentation");
  EXPECT_EQ(TazmirError(error::PoincareHopfViolation{1.99999, 2}).display(),
            "Poincare-Hopf violation: charge sum 2.000 != Euler characteristic 2");
  EXPECT_EQ(TazmirError(error::PoincareHopfViolation{-0.0004, 1}).display(),
            "Poincare-Hopf violation: charge sum -0.000 != Euler characteristic 1");
  EXPECT_EQ(TazmirError(error::Other{"x"}).display(), "x");
}

TEST(TazmirError, DebugForms) {
  EXPECT_EQ(TazmirError(error::ContourTooShort{2, 3}).debug(), "ContourTooShort { n: 2, min: 3 }");
  EXPECT_EQ(TazmirError(error::NoCells{}).debug(), "NoCells");
  EXPECT_EQ(TazmirError(error::Other{"x"}).debug(), "Other(\"x\")");
  EXPECT_EQ(TazmirError(error::Other{"a\"b\n"}).debug(), "Other(\"a\\\"b\\n\")");
  EXPECT_EQ(TazmirError(error::DimensionMismatch{"3", "4"}).debug(),
            "DimensionMismatch { expected: \"3\", got: \"4\" }");
  EXPECT_EQ(TazmirError(error::PoincareHopfViolation{1.5, -2}).debug(),
            "PoincareHopfViolation { sum: 1.5, chi: -2 }");
  EXPECT_EQ(TazmirError(error::EmptyMask{7}).debug(), "EmptyMask { label: 7 }");
  EXPECT_EQ(TazmirError(error::InvalidK{0}).debug(), "InvalidK { k: 0 }");
}

TEST(Format, Fixed3RoundsTheExactBinaryValue) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.000"},   {-0.5, "-0.500"}, {2.0005, "2.001"},  {-0.0, "-0.000"},
      {0.0625, "0.062"}, {inf, "inf"},     {-inf, "-inf"},     {std::nan(""), "NaN"},
      {1e20, "100000000000000000000.000"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(format_fixed3(value), text) << value;
}

TEST(Format, DebugFloatIsShortestRoundTrip) {
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.0"},    {0.1, "0.1"},       {-0.0, "-0.0"},  {1e-7, "1e-7"},
      {1.5e16, "1.5e16"}, {1e15, "1000000000000000.0"}, {0.0001, "0.0001"}, {std::nan(""), "NaN"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(format_debug_float(value), text) << value;
}

TEST(Result, UnwrapOfAnErrorIsAnInternalFailure) {
  Result<int> result = TazmirError(error::ContourTooShort{2, 3});
  try {
    (void)std::move(result).unwrap();
    FAIL() << "no panic";
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(),
              "called `Result::unwrap()` on an `Err` value: ContourTooShort { n: 2, min: 3 }");
  }
}

TEST(Panic, FailureTexts) {
  const std::vector<double> values(3);
  EXPECT_THROW(
      {
        try {
          (void)at(values, 5);
        } catch (const Panic& failure) {
          EXPECT_EQ(failure.message(), "index out of bounds: the len is 3 but the index is 5");
          throw;
        }
      },
      Panic);
  try {
    check_range(4, 2, 10);
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(), "slice index starts at 4 but ends at 2");
  }
  try {
    check_range(0, 12, 10);
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(), "range end index 12 out of range for slice of length 10");
  }
  try {
    (void)checked_div(1, 0);
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(), "attempt to divide by zero");
  }
}

TEST(ImageField, LengthInvariant) {
  try {
    ImageField field(std::vector<double>(5), 2, 3);
    FAIL() << "no panic";
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(),
              "assertion `left == right` failed: data length must equal width * height\n"
              "  left: 5\n right: 6");
  }
  const ImageField empty = ImageField::zeros(0, 5);
  EXPECT_EQ(empty.width, 0u);
  EXPECT_EQ(empty.height, 5u);
  EXPECT_TRUE(empty.data.empty());
  EXPECT_THROW(ImageField::zeros(std::size_t{1} << 40, std::size_t{1} << 40), Panic);
}

TEST(BoundaryContour, UnitSquare) {
  auto square = BoundaryContour::from_points({{0, 0}, {1, 0}, {1, 1}, {0, 1}}).unwrap();
  EXPECT_EQ(square.area(), 1.0);
  EXPECT_EQ(square.perimeter(), 4.0);
  EXPECT_EQ(square.centroid().x, 0.5);
  auto clockwise = BoundaryContour::from_points({{0, 1}, {1, 1}, {1, 0}, {0, 0}}).unwrap();
  EXPECT_EQ(clockwise.area(), 1.0);
  auto repeated =
      BoundaryContour::from_points({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}).unwrap();
  EXPECT_EQ(repeated.area(), 1.0);
  EXPECT_EQ(repeated.perimeter(), 4.0);
  EXPECT_EQ(repeated.centroid().x, 0.4);
  EXPECT_EQ(repeated.centroid().y, 0.4);
  auto line = BoundaryContour::from_points({{0, 0}, {1, 1}, {2, 2}}).unwrap();
  EXPECT_EQ(line.area(), 0.0);
}

TEST(BoundaryContour, TooShort) {
  for (std::size_t n = 0; n < 3; ++n) {
    auto result = BoundaryContour::from_points(std::vector<Point>(n, Point{0, 0}));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().display(),
              "contour has " + std::to_string(n) + " points, need at least 3");
  }
}

TEST(Pool, EveryIndexExactlyOnce) {
  for (const std::size_t n : {0u, 1u, 2u, 7u, 1000u, 100003u}) {
    std::vector<std::atomic<int>> hits(n);
    parallel_for(0, n, 16, [&](std::size_t lo, std::size_t hi) {
      for (std::size_t i = lo; i < hi; ++i) hits[i].fetch_add(1);
    });
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << i;
  }
}

TEST(Pool, ExceptionTravelsToTheCaller) {
  EXPECT_THROW(parallel_for(0, 1000, 1,
                            [](std::size_t lo, std::size_t hi) {
                              if (lo <= 777 && 777 < hi) throw std::runtime_error("boom");
                            }),
               std::runtime_error);
  // The pool is still usable afterwards.
  std::atomic<std::size_t> total{0};
  parallel_for(0, 100, 1, [&](std::size_t lo, std::size_t hi) { total += hi - lo; });
  EXPECT_EQ(total.load(), 100u);
}

TEST(Pool, InternalFailureOnAWorkerKeepsItsText) {
  try {
    parallel_for(0, 64, 1, [](std::size_t lo, std::size_t hi) {
      if (lo <= 63 && 63 < hi) (void)checked_div(hi, 0);
    });
    FAIL() << "no panic";
  } catch (const Panic& failure) {
    EXPECT_EQ(failure.message(), "attempt to divide by zero");
  }
}

TEST(Pool, SumsDoNotDependOnTheSplit) {
  // Each index owns its output, so any split gives the same bits.
  std::vector<double> out(10007);
  parallel_for(0, out.size(), 3, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) out[i] = std::sqrt(static_cast<double>(i)) * 0.1;
  });
  for (std::size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i], std::sqrt(static_cast<double>(i)) * 0.1);
  }
  EXPECT_GE(pool_thread_count(), 1u);
}

TEST(Pool, NestedLoopsRunInline) {
  std::atomic<std::size_t> total{0};
  parallel_for(0, 8, 1, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) {
      parallel_for(0, 10, 1, [&](std::size_t a, std::size_t b) { total += b - a; });
    }
  });
  EXPECT_EQ(total.load(), 80u);
}

}  // namespace
}  // namespace tazmir
