// Core pieces Python cannot reach directly: error texts, failure texts, the worker pool.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/field.hpp"
#include "core/pool.hpp"

namespace tazmir {
namespace {

// The message of the internal failure `body` raises, or "no failure".
template <class F>
std::string failure_text(F&& body) {
  try {
    body();
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "no failure";
}

TEST(TazmirError, DisplayAndDebugTexts) {
  EXPECT_EQ(TazmirError(error::Other{"x"}).display(), "x");
  EXPECT_EQ(TazmirError(error::Other{"a\"b\n\x01"}).debug(), "Other(\"a\\\"b\\n\\u{1}\")");
}

TEST(Panic, FailureTexts) {
  const std::vector<double> values(3);
  EXPECT_EQ(failure_text([&] { (void)at(values, 5); }),
            "index out of bounds: the len is 3 but the index is 5");
  EXPECT_EQ(failure_text([] { check_range(4, 2, 10); }), "slice index starts at 4 but ends at 2");
  EXPECT_EQ(failure_text([] { check_range(0, 12, 10); }),
            "range end index 12 out of range for slice of length 10");
}

TEST(ImageField, LengthInvariant) {
  EXPECT_EQ(failure_text([] { ImageField field(std::vector<double>(5), 2, 3); }),
            "assertion `left == right` failed: data length must equal width * height\n"
            "  left: 5\n right: 6");
  const ImageField empty = ImageField::zeros(0, 5);
  EXPECT_EQ(empty.width, 0u);
  EXPECT_EQ(empty.height, 5u);
  EXPECT_TRUE(empty.data.empty());
  EXPECT_THROW(ImageField::zeros(std::size_t{1} << 40, std::size_t{1} << 40), Panic);
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
  EXPECT_EQ(failure_text([] {
              parallel_for(0, 64, 1, [](std::size_t lo, std::size_t hi) {
                if (lo <= 63 && 63 < hi) panic("the last index failed");
              });
            }),
            "the last index failed");
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
