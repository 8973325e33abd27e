// The C library's sine and cosine of one angle in a single call where it has one.
#pragma once

#include <cmath>

namespace tazmir {

/// sin(x) and cos(x) with exactly the bits of the library's `sin` and `cos`.
inline void sin_cos(double x, double& s, double& c) {
#if defined(__GLIBC__)
  ::sincos(x, &s, &c);  // glibc shares one kernel between sincos, sin and cos
#else
  s = std::sin(x);
  c = std::cos(x);
#endif
}

}  // namespace tazmir
