// Continuum-theory pieces below the Python surface: the sine-cosine pair the energy caches.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// The energy caches one sincos pair per site where the formula reads cos and sin of each
// neighbour separately; that is only the same result if the pair equals the two calls.
TEST(Frank, SincosMatchesSinAndCos) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> small(-10.0, 10.0), exponent(-20.0, 300.0);
  // Called through volatile pointers so the compiler cannot fuse them into sincos itself.
  double (*volatile sin_fn)(double) = &::sin;
  double (*volatile cos_fn)(double) = &::cos;
  for (int k = 0; k < 200000; ++k) {
    const double x = k % 4 == 0 ? std::pow(10.0, exponent(rng)) : small(rng);
    double s = 0.0, c = 0.0;
    ::sincos(x, &s, &c);
    ASSERT_TRUE(s == sin_fn(x) && c == cos_fn(x)) << x;
  }
}

}  // namespace
