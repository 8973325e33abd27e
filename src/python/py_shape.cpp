// Entry points of the shape subsystem: analyze_shape, analyze_shapes_batch.
#include "python/convert.hpp"
#include "python/entry_points.hpp"

namespace tazmir::py {

Ref analyze_shape(PyObject* const* args) {
  const Array2DF64 contour = to_array2d_f64(args[0], "contour_xy");
  (void)contour;
  not_implemented("analyze_shape");
}

Ref analyze_shapes_batch(PyObject* const* args) {
  const std::vector<Array2DF64> contours = to_array2d_f64_vec(args[0], "contours");
  (void)contours;
  not_implemented("analyze_shapes_batch");
}

}  // namespace tazmir::py
