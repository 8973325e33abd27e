// Entry points of the orientation subsystem: structure tensors and nuclear ellipses.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "orient/buffer.hpp"
#include "orient/cell_orientation.hpp"
#include "orient/gradient.hpp"
#include "orient/multiscale.hpp"
#include "orient/structure_tensor.hpp"
#include "python/convert.hpp"
#include "python/entry_points.hpp"
#include "python/numpy_api.hpp"

namespace tazmir::py {

namespace {

using orient::Buffer;

constexpr const char* buffer_capsule_name = "tazmir.orient.buffer";

void free_buffer_capsule(PyObject* capsule) {
  std::free(PyCapsule_GetPointer(capsule, buffer_capsule_name));
}

// A new (rows, cols) float64 array that takes over `values` without copying them; an image
// without rows gives shape (0, 0).
Ref adopt_array2d(Buffer values, std::size_t rows, std::size_t cols) {
  if (rows == 0 || cols == 0 || values.data() == nullptr) {
    return new_array2d(nullptr, rows, rows == 0 ? 0 : cols);
  }
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  Ref array = check(PyArray_SimpleNewFromData(2, dims, NPY_FLOAT64, values.data()));
  Ref capsule = check(PyCapsule_New(values.data(), buffer_capsule_name, free_buffer_capsule));
  values.release();  // the capsule frees it from now on
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()) !=
      0) {
    throw PythonError{};
  }
  return array;
}

// Result arrays of the image's shape, computed before any Python object is made.
struct OrientationMaps {
  Buffer theta;
  Buffer coherence;
};

OrientationMaps orientation_maps(const ImageField& field, double sigma,
                                 orient::TensorWorkspace& workspace) {
  orient::check_row_chunks(field.width);
  const std::size_t area = checked_area(field.width, field.height);
  OrientationMaps maps{Buffer::uninitialized(area), Buffer::uninitialized(area)};
  orient::structure_tensor_into(field, sigma,
                                orient::TensorTargets{maps.theta.data(), maps.coherence.data()},
                                workspace);
  return maps;
}

}  // namespace

Ref compute_structure_tensor(PyObject* const* args) {
  const Array2DF64 image = to_array2d_f64(args[0], "image");
  const double sigma = to_f64(args[1], "sigma");
  const ImageField field(image.to_row_major(), image.cols(), image.rows());
  orient::TensorWorkspace workspace;
  OrientationMaps maps = orientation_maps(field, sigma, workspace);
  DictBuilder result;
  result.set("theta", adopt_array2d(std::move(maps.theta), image.rows(), image.cols()));
  result.set("coherence", adopt_array2d(std::move(maps.coherence), image.rows(), image.cols()));
  return result.finish();
}

Ref compute_multiscale_structure_tensor(PyObject* const* args) {
  const Array2DF64 image = to_array2d_f64(args[0], "image");
  const std::vector<double> sigmas = to_f64_vec(args[1], "sigmas");
  const std::size_t rows = image.rows();
  const std::size_t cols = image.cols();
  const ImageField field(image.to_row_major(), cols, rows);

  std::vector<OrientationMaps> scales;
  scales.reserve(sigmas.size());
  {
    orient::TensorWorkspace workspace;  // shared by the scales, released before the maps
    for (const double sigma : sigmas) scales.push_back(orientation_maps(field, sigma, workspace));
  }
  // No scale at all: every pixel keeps the "no scale wins" values, sigma 0.0 and
  // coherence -1.0, so the maps still have the image's shape.
  const std::size_t area = checked_area(cols, rows);
  Buffer best_sigma = Buffer::uninitialized(area);
  Buffer best_coherence = Buffer::uninitialized(area);
  std::vector<const double*> coherences;
  for (const OrientationMaps& maps : scales) coherences.push_back(maps.coherence.data());
  orient::select_optimal_scale(sigmas, coherences, area, best_sigma.data(),
                               best_coherence.data());

  DictBuilder result;
  result.set("sigmas", new_float_list(sigmas));
  result.set("optimal_sigma", adopt_array2d(std::move(best_sigma), rows, cols));
  result.set("max_coherence", adopt_array2d(std::move(best_coherence), rows, cols));
  ListBuilder per_scale;
  for (std::size_t s = 0; s < scales.size(); ++s) {
    DictBuilder entry;
    entry.set("sigma", new_float(sigmas[s]));
    entry.set("theta", adopt_array2d(std::move(scales[s].theta), rows, cols));
    entry.set("coherence", adopt_array2d(std::move(scales[s].coherence), rows, cols));
    per_scale.append(entry.finish());
  }
  result.set("scale_results", per_scale.finish());
  return result.finish();
}

Ref fit_nuclear_ellipses(PyObject* const* args) {
  const Array2DI32 mask = to_array2d_i32(args[0], "nuclear_mask");
  const std::vector<orient::LabelledEllipse> fits = orient::fit_nuclear_ellipses(
      mask.rows(), mask.cols(), [&](std::size_t r, std::size_t c) { return mask.at(r, c); });
  ListBuilder result;
  for (const orient::LabelledEllipse& fit : fits) {
    const orient::NuclearEllipse& e = fit.ellipse;
    DictBuilder entry;
    entry.set("label", new_int(static_cast<std::int64_t>(fit.label)));
    entry.set("aspect_ratio", new_float(e.aspect_ratio));
    entry.set("angle", new_float(e.angle));
    entry.set("semi_major", new_float(e.semi_major));
    entry.set("semi_minor", new_float(e.semi_minor));
    entry.set("centroid_row", new_float(e.centroid.first));
    entry.set("centroid_col", new_float(e.centroid.second));
    result.append(entry.finish());
  }
  return result.finish();
}

}  // namespace tazmir::py
