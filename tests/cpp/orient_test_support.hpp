// Shared helpers of the orientation unit tests: failure texts, random fields, bit equality.
#pragma once

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/field.hpp"
#include "core/panic.hpp"

namespace tazmir::orient::test_support {

template <class F>
std::string panic_text(F&& body) {
  try {
    body();
  } catch (const Panic& failure) {
    return failure.message();
  }
  return "<no failure>";
}

inline ImageField random_field(std::size_t w, std::size_t h, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-2.0, 3.0);
  std::vector<double> data(w * h);
  for (double& x : data) x = value(rng);
  return ImageField(std::move(data), w, h);
}

inline ImageField from_function(std::size_t w, std::size_t h,
                                double (*f)(std::size_t, std::size_t)) {
  ImageField field = ImageField::zeros(w, h);
  for (std::size_t r = 0; r < h; ++r) {
    for (std::size_t c = 0; c < w; ++c) field.data[r * w + c] = f(r, c);
  }
  return field;
}

// Equal bit patterns, where any two NaNs count as equal: which NaN an operation passes on
// depends on its operand order, which the compiler may swap for a commutative operation.
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
  }
  return true;
}

}  // namespace tazmir::orient::test_support
