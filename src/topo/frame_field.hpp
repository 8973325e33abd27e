// Orthonormal 3x3 frames on a grid and the sign-flip gauge fix between neighbouring frames.
#pragma once

#include <array>

namespace tazmir::topo {

/// A 3x3 frame stored column by column: elements 0-2 are e1, 3-5 e2, 6-8 e3;
/// entry (r, c) is element 3c + r.
using Frame = std::array<double, 9>;

/// The frame turning the plane by the angle with cosine `c` and sine `s` about e3:
/// e1 = (c, s, 0), e2 = (-s, c, 0), e3 = (0, 0, 1).
inline Frame planar_frame(double c, double s) { return {c, s, 0.0, -s, c, 0.0, 0.0, 0.0, 1.0}; }

/// Dot product of the 3-vectors starting at `a` and `b`, summed as (p0 + p1) + p2.
inline double dot3(const double* a, const double* b) {
  return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2];
}

/// Which of the four sign patterns (0 to 3: +++, --+, -+-, +--) best aligns `frame` with
/// `reference`; ties keep the earlier pattern and a NaN score never wins.
int d2_gauge_pattern(const Frame& reference, const Frame& frame);

/// `frame` with each axis negated or kept, the signs (product +1) chosen to align it best
/// with `reference`.
Frame d2_gauge_fix(const Frame& reference, const Frame& frame);

}  // namespace tazmir::topo
