// Shape index and convexity; the convex hull comes from a Graham scan.
#include "shape/morphometrics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/panic.hpp"

namespace tazmir::shape {

namespace {

constexpr double zero_area = 1e-15;

// One vertex of the working list with its sort key about the pivot. `order` is its
// position in the working list, so the unstable sort below keeps equal keys in that order.
struct HullCandidate {
  double theta;
  double distance2;
  std::size_t order;
  Point point;
};

bool before(const HullCandidate& a, const HullCandidate& b) {
  if (a.theta != b.theta) return a.theta < b.theta;
  if (a.distance2 != b.distance2) return a.distance2 < b.distance2;
  return a.order < b.order;
}

// The lowest vertex, the leftmost among equally low ones, the first among equal ones.
std::size_t pivot_index(const std::vector<Point>& points) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    const Point& p = points[i];
    const Point& b = points[best];
    if (p.y < b.y || (p.y == b.y && p.x < b.x)) best = i;
  }
  return best;
}

// Hull vertices counter-clockwise from the pivot; collinear vertices are dropped.
std::vector<Point> graham_hull(const std::vector<Point>& points) {
  std::vector<Point> working = points;
  std::swap(working[0], working[pivot_index(working)]);
  const Point pivot = working[0];

  std::vector<HullCandidate> candidates;
  candidates.reserve(working.size() - 1);
  for (std::size_t i = 1; i < working.size(); ++i) {
    const double dx = working[i].x - pivot.x;
    const double dy = working[i].y - pivot.y;
    const double theta = std::atan2(dy, dx);
    // A NaN angle has no place in the order: the sort cannot go on.
    if (std::isnan(theta)) panic_unwrap_none();
    candidates.push_back({theta, dx * dx + dy * dy, i, working[i]});
  }
  std::sort(candidates.begin(), candidates.end(), before);

  std::vector<Point> stack;
  stack.reserve(working.size());
  const auto visit = [&stack](const Point& q) {
    while (stack.size() >= 2) {
      const Point& b = stack[stack.size() - 1];
      const Point& a = stack[stack.size() - 2];
      const double cross = (b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x);
      if (cross > 0.0) break;
      stack.pop_back();  // right turn or collinear
    }
    stack.push_back(q);
  };
  visit(pivot);
  for (const HullCandidate& c : candidates) visit(c.point);
  return stack;
}

}  // namespace

double shape_index(const BoundaryContour& contour) {
  const double area = contour.area();
  if (area < zero_area) return 0.0;
  return contour.perimeter() / std::sqrt(area);
}

double convexity(const BoundaryContour& contour) {
  const double area = contour.area();
  // A hull of two vertices (all vertices on one line) cannot be a contour.
  const BoundaryContour hull = BoundaryContour::from_points(graham_hull(contour.points())).unwrap();
  const double hull_area = hull.area();
  if (hull_area < zero_area) return 0.0;
  return area / hull_area;
}

}  // namespace tazmir::shape
