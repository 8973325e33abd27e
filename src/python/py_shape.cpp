// Entry points of the shape subsystem: analyze_shape, analyze_shapes_batch.
#include <vector>

#include "core/contour.hpp"
#include "core/panic.hpp"
#include "python/convert.hpp"
#include "python/entry_points.hpp"
#include "shape/descriptors.hpp"

namespace tazmir::py {

namespace {

// Row i is vertex (x, y) = ([i, 0], [i, 1]); further columns are ignored. An array without
// a second column fails on its first row, before the number of rows is looked at.
std::vector<Point> read_vertices(const Array2DF64& array) {
  const std::size_t rows = array.rows();
  if (rows != 0 && array.cols() < 2) panic("ndarray: index out of bounds");
  std::vector<Point> points(rows);
  for (std::size_t r = 0; r < rows; ++r) points[r] = {array.at(r, 0), array.at(r, 1)};
  return points;
}

// All descriptors are computed before the first Python object is made.
Ref analyze_contour(const Array2DF64& array) {
  const BoundaryContour contour = value_or_raise(BoundaryContour::from_points(read_vertices(array)));
  const shape::ShapeDescriptors d = shape::describe_shape(contour);

  DictBuilder result;
  result.set("area", new_float(d.area));
  result.set("perimeter", new_float(d.perimeter));
  result.set("elongation", new_float(d.elongation));
  result.set("elongation_angle", new_float(d.elongation_angle));
  result.set("shape_index", new_float(d.shape_index));
  result.set("convexity", new_float(d.convexity));
  result.set("shape_katic", new_array1d(d.shape_katic));
  result.set("fourier_spectrum", new_array1d(d.fourier_spectrum));
  return result.finish();
}

}  // namespace

Ref analyze_shape(PyObject* const* args) {
  const Array2DF64 contour = to_array2d_f64(args[0], "contour_xy");
  return analyze_contour(contour);
}

Ref analyze_shapes_batch(PyObject* const* args) {
  // Every item is converted before any is measured; the first failing contour ends the
  // call with its own error and the dicts built so far are dropped.
  const std::vector<Array2DF64> contours = to_array2d_f64_vec(args[0], "contours");
  ListBuilder results;
  for (const Array2DF64& contour : contours) results.append(analyze_contour(contour));
  return results.finish();
}

}  // namespace tazmir::py
