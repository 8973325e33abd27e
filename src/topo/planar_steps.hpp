// Transport between frames that turn about one common axis, reduced to 2x2 rotations.
//
// For frames e1 = (c, s, 0), e2 = (-s, c, 0), e3 = (0, 0, 1) every 3x3 product of the
// holonomy scan keeps the form [[C, -S, 0], [S, C, 0], [0, 0, 1]], and each entry the scan
// computes as (p0 + p1) + p2 equals, value for value, the two-term expression below (the
// third product is a zero, which only decides the sign of a zero result, and the two
// off-diagonal entries are exact negatives of each other). So the pair (C, S) carries the
// scan's arithmetic exactly, with the same cosine of the holonomy angle, for finite c, s.
#pragma once

#include <cmath>

namespace tazmir::topo::planar {

/// A transport F^T * G between neighbouring frames: a rotation with cosine C and sine S.
struct Step {
  double c;
  double s;
};

/// The transport from the frame (cp, sp) to the frame (cn, sn), gauge-fixed exactly as
/// `d2_gauge_fix` does: the half-turn about e3 is taken when it scores strictly higher.
inline Step step_between(double cp, double sp, double cn, double sn) {
  const double d = cp * cn + sp * sn;  // e1 . e1 and e2 . e2 alike
  const double keep = (d + d) + 1.0;
  const double turn = (-d - d) + 1.0;
  const double sine = cp * sn - sp * cn;
  return turn > keep ? Step{-d, -sine} : Step{d, sine};
}

/// The same transport walked backwards: the gauge choice is symmetric, the sine changes sign.
inline Step reversed(Step step) { return Step{step.c, -step.s}; }

/// The product of two transports, A * B.
inline Step compose(Step a, Step b) { return Step{a.c * b.c - a.s * b.s, a.s * b.c + a.c * b.s}; }

/// Cosine of the holonomy angle of the loop r0 r1 r2 r3, multiplied ((r0 r1) r2) r3,
/// from the trace (C + C) + 1 exactly as for the full 3x3 holonomy, clamped to [-1, 1].
inline double loop_cosine(Step r0, Step r1, Step r2, Step r3) {
  const Step h = compose(compose(compose(r0, r1), r2), r3);
  const double c = (((h.c + h.c) + 1.0) + -1.0) * 0.5;
  return c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c);
}

/// The net turn of the loop r0 r1 r2 r3: the sum of each step's angle in (-pi, pi].
inline double loop_turn(Step r0, Step r1, Step r2, Step r3) {
  return ((std::atan2(r0.s, r0.c) + std::atan2(r1.s, r1.c)) + std::atan2(r2.s, r2.c)) +
         std::atan2(r3.s, r3.c);
}

}  // namespace tazmir::topo::planar
