// BoundaryContour operations in their fixed summation orders.
#include "core/contour.hpp"

#include <cmath>

namespace tazmir {

Result<BoundaryContour> BoundaryContour::from_points(std::vector<Point> points) {
  if (points.size() < min_points) {
    return TazmirError(error::ContourTooShort{points.size(), min_points});
  }
  return BoundaryContour(std::move(points));
}

double BoundaryContour::area() const {
  const std::size_t n = points_.size();
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point& p = points_[i];
    const Point& q = points_[i + 1 == n ? 0 : i + 1];
    const double forward = p.x * q.y;
    const double backward = p.y * q.x;
    s = s + (forward - backward);
  }
  return std::fabs(s * 0.5);
}

Point BoundaryContour::centroid() const {
  double sx = 0.0;
  double sy = 0.0;
  for (const Point& p : points_) {
    sx = sx + p.x;
    sy = sy + p.y;
  }
  const auto n = static_cast<double>(points_.size());
  return {sx / n, sy / n};
}

double BoundaryContour::perimeter() const {
  const std::size_t n = points_.size();
  double total = -0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point& p = points_[i];
    const Point& q = points_[i + 1 == n ? 0 : i + 1];
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    total = total + std::sqrt(dx * dx + dy * dy);
  }
  return total;
}

}  // namespace tazmir
