// The sign-flip gauge fix: a frame and its half-turns about each axis describe one director.
#include "topo/frame_field.hpp"

#include <limits>

namespace tazmir::topo {

int d2_gauge_pattern(const Frame& reference, const Frame& frame) {
  const double d0 = dot3(&reference[0], &frame[0]);
  const double d1 = dot3(&reference[3], &frame[3]);
  const double d2 = dot3(&reference[6], &frame[6]);
  // Scores of the patterns (+,+,+), (-,-,+), (-,+,-), (+,-,-), each in this exact grouping.
  const double scores[4] = {(d0 + d1) + d2, (-d1 - d0) + d2, (d1 - d0) - d2, (d0 - d1) - d2};
  int best = 0;
  double best_score = -std::numeric_limits<double>::infinity();
  for (int p = 0; p < 4; ++p) {
    if (scores[p] > best_score) {  // strict: ties keep the earlier pattern, NaN never wins
      best = p;
      best_score = scores[p];
    }
  }
  return best;
}

Frame d2_gauge_fix(const Frame& reference, const Frame& frame) {
  static constexpr double signs[4][3] = {{1, 1, 1}, {-1, -1, 1}, {-1, 1, -1}, {1, -1, -1}};
  const double* s = signs[d2_gauge_pattern(reference, frame)];
  Frame fixed = frame;
  for (int axis = 0; axis < 3; ++axis) {
    for (int r = 0; r < 3; ++r) fixed[static_cast<std::size_t>(3 * axis + r)] *= s[axis];
  }
  return fixed;
}

}  // namespace tazmir::topo
