// Entry points of the shape subsystem: analyze_shape, analyze_shapes_batch.
#include <vector>

#include "core/contour.hpp"
#include "python/convert.hpp"
#include "python/frame.hpp"
#include "shape/descriptors.hpp"

namespace tazmir::py {

namespace {

// All descriptors are computed before the first Python object is made.
Ref analyze_contour(const Array2DF64& array) {
  const BoundaryContour contour = value_or_raise(BoundaryContour::from_points(to_points(array)));
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

Ref analyze_shape(const Args& args) {
  const Array2DF64 contour = to_array2d_f64(args[0]);
  return analyze_contour(contour);
}

Ref analyze_shapes_batch(const Args& args) {
  // Every item is converted before any is measured; the first failing contour ends the
  // call with its own error and the dicts built so far are dropped.
  const std::vector<Array2DF64> contours = to_array2d_f64_vec(args[0]);
  ListBuilder results;
  for (const Array2DF64& contour : contours) results.append(analyze_contour(contour));
  return results.finish();
}

constexpr const char* analyze_shape_params[] = {"contour_xy"};
constexpr const char* analyze_shapes_batch_params[] = {"contours"};

const FunctionEntry functions[] = {
    define_function(
        "analyze_shape", analyze_shape_params,
        "Analyze a single cell boundary contour.\n`contour_xy`: Nx2 numpy array of boundary "
        "points (x, y) in physical units.\n\nReturns a dict with all shape measurements.",
        analyze_shape),
    define_function("analyze_shapes_batch", analyze_shapes_batch_params,
                    "Batch analyze multiple cell boundary contours.\n`contours`: list of Nx2 numpy "
                    "arrays.\n\nReturns list of dicts.",
                    analyze_shapes_batch),
};

}  // namespace

const std::span<const FunctionEntry> shape_functions = functions;

}  // namespace tazmir::py
