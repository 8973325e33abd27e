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

// One vertex with its sort key about the pivot. `order` is its position in the working
// list (the vertices with the pivot swapped to the front), so that sorting by the whole
// key keeps vertices of equal angle and distance in working-list order, as a stable sort.
struct HullCandidate {
  double theta;
  double distance2;
  std::size_t order;
  Point point;
};

inline bool before(const HullCandidate& a, const HullCandidate& b) {
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

// Every vertex but the pivot, taken around the outline starting after the pivot and
// walking the way the polar angle grows: a star-shaped outline comes out already sorted.
std::vector<HullCandidate> candidates_about(const std::vector<Point>& points,
                                            std::size_t pivot) {
  const std::size_t n = points.size();
  const Point origin = points[pivot];
  std::vector<HullCandidate> candidates;
  candidates.reserve(n - 1);
  for (std::size_t step = 1; step < n; ++step) {
    const std::size_t i = (pivot + step) % n;
    const double dx = points[i].x - origin.x;
    const double dy = points[i].y - origin.y;
    const double theta = std::atan2(dy, dx);
    // A NaN angle has no place in the order: the sort cannot go on.
    if (std::isnan(theta)) panic_unwrap_none();
    const std::size_t order = i == 0 ? pivot : i;  // the pivot and vertex 0 trade places
    candidates.push_back({theta, dx * dx + dy * dy, order, points[i]});
  }
  if (before(candidates.back(), candidates.front())) {
    std::reverse(candidates.begin(), candidates.end());  // a clockwise outline
  }
  return candidates;
}

// Insertion sort finishes an almost sorted list in linear time; once it has moved more
// elements than a few per vertex the general sort takes over, so the cost stays n log n.
void sort_candidates(std::vector<HullCandidate>& candidates) {
  std::size_t moves_left = 4 * candidates.size() + 16;
  for (std::size_t i = 1; i < candidates.size(); ++i) {
    const HullCandidate current = candidates[i];
    std::size_t j = i;
    while (j > 0 && before(current, candidates[j - 1])) {
      candidates[j] = candidates[j - 1];
      --j;
      if (--moves_left == 0) {
        candidates[j] = current;
        std::sort(candidates.begin(), candidates.end(), before);
        return;
      }
    }
    candidates[j] = current;
  }
}

// Hull vertices counter-clockwise from the pivot; collinear vertices are dropped.
std::vector<Point> graham_hull(const std::vector<Point>& points) {
  const std::size_t pivot = pivot_index(points);
  std::vector<HullCandidate> candidates = candidates_about(points, pivot);
  sort_candidates(candidates);

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
  for (const HullCandidate& c : candidates) visit(c.point);
  return stack;
}

}  // namespace

double shape_index(const BoundaryContour& contour) {
  return shape_index_of(contour.area(), contour.perimeter());
}

double shape_index_of(double area, double perimeter) {
  if (area < zero_area) return 0.0;
  return perimeter / std::sqrt(area);
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
