// BoundaryContour: the closed boundary polygon of one cell (last point joins the first).
#pragma once

#include <vector>

#include "core/error.hpp"

namespace tazmir {

struct Point {
  double x;
  double y;
};

class BoundaryContour {
 public:
  static constexpr std::uint64_t min_points = 3;

  /// The contour, or ContourTooShort { n, min: 3 } for fewer than three points.
  static Result<BoundaryContour> from_points(std::vector<Point> points);

  const std::vector<Point>& points() const noexcept { return points_; }
  std::size_t size() const noexcept { return points_.size(); }

  /// Unsigned shoelace area |s * 0.5|, s summed from 0.0 over i = 0 .. n-1.
  double area() const;
  /// Plain mean of the vertices (not the area-weighted centroid).
  Point centroid() const;
  /// Sum of edge lengths from -0.0, the closing edge last.
  double perimeter() const;

 private:
  explicit BoundaryContour(std::vector<Point> points) : points_(std::move(points)) {}
  std::vector<Point> points_;
};

}  // namespace tazmir
