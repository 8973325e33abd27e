// Entry points of the shape subsystem: analyze_shape, analyze_shapes_batch.
#include <array>
#include <vector>

#include "core/contour.hpp"
#include "core/panic.hpp"
#include "python/convert.hpp"
#include "python/frame.hpp"
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

// The keys of a result dict, in insertion order. They are made once per call, so that
// a batch does not build and hash the same eight strings for every contour.
class ResultKeys {
 public:
  static constexpr std::array<const char*, 8> names = {
      "area",        "perimeter", "elongation",  "elongation_angle",
      "shape_index", "convexity", "shape_katic", "fourier_spectrum"};

  ResultKeys() {
    for (std::size_t i = 0; i < names.size(); ++i) {
      keys_[i] = check(PyUnicode_InternFromString(names[i]));
    }
  }
  PyObject* operator[](std::size_t i) const { return keys_[i].get(); }

 private:
  std::array<Ref, names.size()> keys_;
};

// All descriptors are computed before the first Python object is made.
Ref analyze_contour(const Array2DF64& array, const ResultKeys& keys) {
  const BoundaryContour contour =
      value_or_raise(BoundaryContour::from_points(read_vertices(array)));
  const shape::ShapeDescriptors d = shape::describe_shape(contour);

  Ref result = check(PyDict_New());
  std::size_t next = 0;
  const auto insert = [&](Ref value) {
    if (PyDict_SetItem(result.get(), keys[next++], value.get()) != 0) throw PythonError{};
  };
  insert(new_float(d.area));
  insert(new_float(d.perimeter));
  insert(new_float(d.elongation));
  insert(new_float(d.elongation_angle));
  insert(new_float(d.shape_index));
  insert(new_float(d.convexity));
  insert(new_array1d(d.shape_katic));
  insert(new_array1d(d.fourier_spectrum));
  return result;
}

Ref analyze_shape(const Args& args) {
  const Array2DF64 contour = to_array2d_f64(args[0]);
  return analyze_contour(contour, ResultKeys());
}

Ref analyze_shapes_batch(const Args& args) {
  // Every item is converted before any is measured; the first failing contour ends the
  // call with its own error and the dicts built so far are dropped.
  const std::vector<Array2DF64> contours = to_array2d_f64_vec(args[0]);
  const ResultKeys keys;
  ListBuilder results;
  for (const Array2DF64& contour : contours) results.append(analyze_contour(contour, keys));
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
