// Continuum-theory pieces below the Python surface: the number form, the sine-cosine cache.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/panic.hpp"
#include "theory/fenwold_output.hpp"
#include "theory/frank.hpp"
#include "theory/json_number.hpp"

namespace tazmir::theory {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

struct NumberCase {
  double value;
  const char* text;
};

TEST(JsonNumber, Examples) {
  const NumberCase cases[] = {
      {1.0, "1.0"},
      {100.0, "100.0"},
      {1500.0, "1500.0"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {123.456, "123.456"},
      {0.05, "0.05"},
      {0.00001, "0.00001"},
      {0.000001, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {0.1, "0.1"},
      {-2.5, "-2.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {kInf, "null"},
      {-kInf, "null"},
      {kNan, "null"},
      {-kNan, "null"},
      {9.5e-6, "9.5e-6"},
      {1.25e-5, "0.0000125"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e100, "1e+100"},
      {-1e-100, "-1e-100"},
      {12.0, "12.0"},
      {0.5, "0.5"},
  };
  for (const NumberCase& c : cases) EXPECT_EQ(format_json_number(c.value), c.text) << c.value;
}

// The digits and exponent of the shortest form, found independently by asking printf for
// 1, 2, ... significant digits until the text reads back to the same double.
struct PrintfDigits {
  std::string digits;
  int exponent;
};

PrintfDigits shortest_by_printf(double magnitude) {
  char text[64];
  for (int precision = 0; precision < 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*e", precision, magnitude);
    if (std::strtod(text, nullptr) == magnitude) break;
  }
  PrintfDigits out{"", 0};
  const char* e = std::strchr(text, 'e');
  for (const char* p = text; p != e; ++p) {
    if (*p != '.') out.digits += *p;
  }
  while (out.digits.size() > 1 && out.digits.back() == '0') out.digits.pop_back();
  out.exponent = std::atoi(e + 1);
  return out;
}

// The layout rules applied to printf's digits.
std::string laid_out(double value) {
  const PrintfDigits d = shortest_by_printf(std::fabs(value));
  const int n = static_cast<int>(d.digits.size());
  const int e = d.exponent;
  std::string out;
  if (std::signbit(value)) out += '-';
  if (e >= 16 || e <= -6) {
    out += d.digits[0];
    if (n >= 2) out.append(".").append(d.digits, 1);
    out += e >= 0 ? "e+" : "e-";
    out += std::to_string(std::abs(e));
  } else if (e >= n - 1) {
    out += d.digits;
    out.append(static_cast<std::size_t>(e + 1 - n), '0');
    out += ".0";
  } else if (e < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out += d.digits;
  } else {
    out.append(d.digits, 0, static_cast<std::size_t>(e + 1));
    out += '.';
    out.append(d.digits, static_cast<std::size_t>(e + 1));
  }
  return out;
}

TEST(JsonNumber, RandomDoublesReadBackAndFollowTheLayout) {
  std::mt19937_64 bits(20260);
  std::uniform_real_distribution<double> exponent(-9.0, 19.0);
  for (int k = 0; k < 200000; ++k) {
    double value = 0.0;
    if (k % 2 == 0) {
      const std::uint64_t pattern = bits();
      std::memcpy(&value, &pattern, sizeof value);
      if (!std::isfinite(value)) continue;
    } else {
      value = std::pow(10.0, exponent(bits)) * ((k & 2) ? -1.0 : 1.0);
    }
    const std::string text = format_json_number(value);
    const double back = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
    ASSERT_EQ(text, laid_out(value)) << value;
  }
}

TEST(JsonNumber, AppendsToExistingText) {
  std::string text = "x=";
  append_json_number(text, 0.25);
  append_json_number(text, kNan);
  EXPECT_EQ(text, "x=0.25null");
}

TEST(FenwoldOutput, TextOfARecord) {
  const FenwoldParams params =
      build_fenwold_params({-0.5, 0.0, 1.0, 2.0, 1e-7, 0.0, 3, 12.0});
  EXPECT_EQ(to_json(params),
            "{\n  \"a_landau\": -0.5,\n  \"b_landau\": 0.0,\n  \"c_landau\": 1.0,\n"
            "  \"k_r\": 2.0,\n  \"zeta_eff\": 0.5,\n  \"frank_splay\": 1e-7,\n"
            "  \"frank_bend\": 0.0,\n  \"frank_ratio\": null\n}");
  EXPECT_EQ(params.frank_ratio, kInf);
}

TEST(FenwoldOutput, FieldTableIsInTextOrder) {
  const char* expected[] = {"a_landau",  "b_landau",    "c_landau",   "k_r",
                            "zeta_eff",  "frank_splay", "frank_bend", "frank_ratio"};
  ASSERT_EQ(kFenwoldFields.size(), 8u);
  for (std::size_t i = 0; i < kFenwoldFields.size(); ++i) {
    EXPECT_STREQ(kFenwoldFields[i].name, expected[i]);
  }
}

// The energy caches one sincos pair per site where the formula reads cos and sin of each
// neighbour separately; that is only the same result if the pair equals the two calls.
TEST(Frank, SincosMatchesSinAndCos) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> small(-10.0, 10.0);
  std::uniform_real_distribution<double> exponent(-20.0, 300.0);
  // Called through volatile pointers so the compiler cannot fuse them into sincos itself.
  double (*volatile sin_fn)(double) = &::sin;
  double (*volatile cos_fn)(double) = &::cos;
  for (int k = 0; k < 200000; ++k) {
    const double x = k % 4 == 0 ? std::pow(10.0, exponent(rng)) : small(rng);
    double s = 0.0;
    double c = 0.0;
    ::sincos(x, &s, &c);
    ASSERT_EQ(s, sin_fn(x)) << x;
    ASSERT_EQ(c, cos_fn(x)) << x;
  }
}

std::string panic_text(std::span<const double> thetas, std::size_t nx, std::size_t ny) {
  try {
    frank_energy(thetas, nx, ny, 1.0);
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "no failure";
}

TEST(Frank, ShortSliceNamesFirstReadPastEnd) {
  const std::vector<double> zeros(20, 0.0);
  const std::span<const double> all(zeros);
  EXPECT_EQ(panic_text(all.first(7), 3, 3), "index out of bounds: the len is 7 but the index is 7");
  EXPECT_EQ(panic_text(all.first(5), 3, 3), "index out of bounds: the len is 5 but the index is 5");
  EXPECT_EQ(panic_text(all.first(8), 3, 4), "index out of bounds: the len is 8 but the index is 8");
  EXPECT_EQ(panic_text(all.first(3), std::numeric_limits<std::size_t>::max(), 3),
            "index out of bounds: the len is 3 but the index is 18446744073709551617");
  EXPECT_EQ(panic_text(all.first(8), 3, 3), "no failure");
}

TEST(Frank, NoInteriorNeedsNoValues) {
  const FrankEnergyResult r = frank_energy({}, 2, 1000, 1.0);
  EXPECT_EQ(r.splay, 0.0);
  EXPECT_EQ(r.bend, 0.0);
  EXPECT_EQ(r.ratio, kInf);
}

TEST(Frank, RatioRule) {
  EXPECT_EQ(splay_bend_ratio(3.0, 1.5), 2.0);
  EXPECT_EQ(splay_bend_ratio(3.0, 1e-15), kInf);
  EXPECT_EQ(splay_bend_ratio(3.0, kNan), kInf);
  EXPECT_EQ(splay_bend_ratio(3.0, -1.0), kInf);
}

}  // namespace
}  // namespace tazmir::theory
