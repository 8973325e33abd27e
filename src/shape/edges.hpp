// Boundary edges of an outline, with the length below which an edge counts as zero.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "core/contour.hpp"

namespace tazmir::shape {

/// Lengths, areas and radii below this count as zero throughout the shape descriptors.
inline constexpr double zero_threshold = 1e-15;

struct Edge {
  double ex;      ///< x extent, next vertex minus this one
  double ey;      ///< y extent
  double length;  ///< sqrt(ex * ex + ey * ey)
};

/// Edge i of the closed outline: from vertex i to vertex i + 1 (the last joins the first).
inline Edge edge_at(const std::vector<Point>& v, std::size_t i) {
  const Point& p = v[i];
  const Point& q = v[i + 1 == v.size() ? 0 : i + 1];
  const double ex = q.x - p.x;
  const double ey = q.y - p.y;
  return {ex, ey, std::sqrt(ex * ex + ey * ey)};
}

}  // namespace tazmir::shape
