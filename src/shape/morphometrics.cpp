// Shape index and convexity; the convex hull comes from a Graham scan.
#include "shape/morphometrics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "core/panic.hpp"
#include "shape/edges.hpp"

namespace tazmir::shape {

namespace {

// A vertex other than the pivot and its polar angle about the pivot.
struct PolarKey {
  double theta;
  std::size_t vertex;
};

// The order of the sort: by angle; equal angles nearer first; equal in both, by position
// in the working list (the vertices with the pivot swapped to the front), which is what a
// stable sort of that list gives. The tie keys are rare, so they are worked out on demand.
class PolarOrder {
 public:
  PolarOrder(const std::vector<Point>& points, std::size_t pivot)
      : points_(points), pivot_(pivot), origin_(points[pivot]) {}

  bool operator()(const PolarKey& a, const PolarKey& b) const {
    if (a.theta != b.theta) return a.theta < b.theta;
    const double da = distance2(a.vertex);
    const double db = distance2(b.vertex);
    if (da != db) return da < db;
    return position(a.vertex) < position(b.vertex);
  }

 private:
  double distance2(std::size_t i) const {
    const double dx = points_[i].x - origin_.x;
    const double dy = points_[i].y - origin_.y;
    return dx * dx + dy * dy;
  }
  // The pivot and vertex 0 trade places in the working list.
  std::size_t position(std::size_t i) const { return i == 0 ? pivot_ : i; }

  const std::vector<Point>& points_;
  std::size_t pivot_;
  Point origin_;
};

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

// Every vertex but the pivot, taken around the outline starting after the pivot and
// walking the way the polar angle grows, so that a convex outline comes out sorted.
std::vector<PolarKey> polar_keys(const std::vector<Point>& points, std::size_t pivot,
                                 const PolarOrder& order) {
  const std::size_t n = points.size();
  const Point origin = points[pivot];
  std::vector<PolarKey> keys;
  keys.reserve(n - 1);
  for (std::size_t step = 1; step < n; ++step) {
    const std::size_t i = (pivot + step) % n;
    const double theta = std::atan2(points[i].y - origin.y, points[i].x - origin.x);
    // A NaN angle has no place in the order: the sort cannot go on.
    if (std::isnan(theta)) panic_unwrap_none();
    keys.push_back({theta, i});
  }
  if (order(keys.back(), keys.front())) std::reverse(keys.begin(), keys.end());  // clockwise
  return keys;
}

// Insertion sort finishes an almost sorted list in linear time; once it has moved more
// elements than a few per vertex the general sort takes over, so the cost stays n log n.
void sort_polar(std::vector<PolarKey>& keys, const PolarOrder& order) {
  std::size_t moves_left = 8 * keys.size() + 16;
  for (std::size_t i = 1; i < keys.size(); ++i) {
    const PolarKey current = keys[i];
    std::size_t j = i;
    while (j > 0 && order(current, keys[j - 1])) {
      keys[j] = keys[j - 1];
      --j;
      if (--moves_left == 0) {
        keys[j] = current;
        std::sort(keys.begin(), keys.end(), order);
        return;
      }
    }
    keys[j] = current;
  }
}

// Hull vertices counter-clockwise from the pivot; collinear vertices are dropped.
std::vector<Point> graham_hull(const std::vector<Point>& points) {
  const std::size_t pivot = pivot_index(points);
  const PolarOrder order(points, pivot);
  std::vector<PolarKey> keys = polar_keys(points, pivot, order);
  sort_polar(keys, order);

  std::vector<Point> stack;
  stack.reserve(points.size());
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
  visit(points[pivot]);
  for (const PolarKey& key : keys) visit(points[key.vertex]);
  return stack;
}

}  // namespace

double shape_index_of(double area, double perimeter) {
  if (area < zero_threshold) return 0.0;
  return perimeter / std::sqrt(area);
}

double convexity(const BoundaryContour& contour) {
  const double area = contour.area();
  // A hull of two vertices (all vertices on one line) cannot be a contour.
  const BoundaryContour hull = BoundaryContour::from_points(graham_hull(contour.points())).unwrap();
  const double hull_area = hull.area();
  if (hull_area < zero_threshold) return 0.0;
  return area / hull_area;
}

}  // namespace tazmir::shape
