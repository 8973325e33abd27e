// Entry points of the orientation subsystem: structure tensors and nuclear ellipses.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/pool.hpp"
#include "core/buffer.hpp"
#include "orient/cell_orientation.hpp"
#include "orient/gradient.hpp"
#include "orient/multiscale.hpp"
#include "orient/structure_tensor.hpp"
#include "python/convert.hpp"
#include "python/frame.hpp"

namespace tazmir::py {

namespace {

// Result arrays of the image's shape, computed before any Python object is made.
struct OrientationMaps {
  Buffer theta;
  Buffer coherence;
};

OrientationMaps orientation_maps(const FieldView& field, double sigma,
                                 orient::TensorWorkspace& workspace) {
  orient::check_row_chunks(field.width);
  const std::size_t area = checked_area(field.width, field.height);
  OrientationMaps maps{Buffer::uninitialized(area), Buffer::uninitialized(area)};
  orient::structure_tensor_into(
      field, sigma, orient::TensorTargets{maps.theta.data(), maps.coherence.data()}, workspace);
  return maps;
}

// The image's values in row-major order, read through its strides. The copy runs on the
// pool like the stages after it; workers only read the array's memory, which the call keeps
// alive and unchanged (it holds the interpreter lock throughout).
Buffer row_major_copy(const Array2DF64& image) {
  const std::size_t rows = image.rows();
  const std::size_t cols = image.cols();
  Buffer values = Buffer::uninitialized(checked_area(rows, cols));
  double* out = values.data();
  const std::size_t grain = std::max<std::size_t>(1, 8192 / std::max<std::size_t>(cols, 1));
  parallel_for(0, cols == 0 ? 0 : rows, grain, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t r = lo; r < hi; ++r) {
      for (std::size_t c = 0; c < cols; ++c) out[r * cols + c] = image.at(r, c);
    }
  });
  return values;
}

// The image as a row-major grid. An aligned C-ordered array already is one and is read in
// place (the call only reads it, exactly as it would read a copy); any other layout is
// copied into `copy` first.
FieldView image_field(const Array2DF64& image, Buffer& copy) {
  if (const double* block = image.row_major_block()) return {block, image.cols(), image.rows()};
  copy = row_major_copy(image);
  return {copy.data(), image.cols(), image.rows()};
}

Ref compute_structure_tensor(const Args& args) {
  const Array2DF64 image = to_array2d_f64(args[0]);
  const double sigma = to_f64(args[1]);
  Buffer copy;
  const FieldView field = image_field(image, copy);
  orient::TensorWorkspace workspace;
  OrientationMaps maps = orientation_maps(field, sigma, workspace);
  DictBuilder result;
  result.set("theta", adopt_array2d(std::move(maps.theta), image.rows(), image.cols()));
  result.set("coherence", adopt_array2d(std::move(maps.coherence), image.rows(), image.cols()));
  return result.finish();
}

Ref compute_multiscale_structure_tensor(const Args& args) {
  const Array2DF64 image = to_array2d_f64(args[0]);
  const std::vector<double> sigmas = to_f64_vec(args[1]);
  const std::size_t rows = image.rows();
  const std::size_t cols = image.cols();
  Buffer copy;
  const FieldView field = image_field(image, copy);

  if (!sigmas.empty()) orient::check_row_chunks(cols);
  std::vector<OrientationMaps> scales;
  std::vector<orient::TensorTargets> targets;
  for (std::size_t s = 0; s < sigmas.size(); ++s) {
    const std::size_t area = checked_area(cols, rows);
    scales.push_back({Buffer::uninitialized(area), Buffer::uninitialized(area)});
    targets.push_back({scales.back().theta.data(), scales.back().coherence.data()});
  }
  {
    orient::TensorWorkspace workspace;  // released before the maps are built
    orient::structure_tensors_into(field, sigmas, targets, workspace);
  }
  // No scale at all: every pixel keeps the "no scale wins" values, sigma 0.0 and
  // coherence -1.0, so the maps still have the image's shape.
  const std::size_t area = checked_area(cols, rows);
  Buffer best_sigma = Buffer::uninitialized(area);
  Buffer best_coherence = Buffer::uninitialized(area);
  std::vector<const double*> coherences;
  for (const OrientationMaps& maps : scales) coherences.push_back(maps.coherence.data());
  orient::select_optimal_scale(sigmas, coherences, area, best_sigma.data(), best_coherence.data());

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

Ref fit_nuclear_ellipses(const Args& args) {
  const Array2DI32 mask = to_array2d_i32(args[0]);
  // The owned copy also turns an enormous zero-strided view into a MemoryError up front
  // instead of an endless scan of its logical pixels.
  const std::vector<std::int32_t> labels = mask.to_row_major();
  const std::size_t cols = mask.cols();
  const std::vector<orient::LabelledEllipse> fits = orient::fit_nuclear_ellipses(
      mask.rows(), cols, [&](std::size_t r, std::size_t c) { return labels[r * cols + c]; });
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

constexpr const char* compute_structure_tensor_params[] = {"image", "sigma"};
constexpr const char* compute_multiscale_structure_tensor_params[] = {"image", "sigmas"};
constexpr const char* fit_nuclear_ellipses_params[] = {"nuclear_mask"};

const FunctionEntry functions[] = {
    define_function("compute_structure_tensor", compute_structure_tensor_params,
                    "Compute structure tensor at a single scale.\nReturns dict with \"theta\", "
                    "\"coherence\" as 2D numpy arrays.",
                    compute_structure_tensor),
    define_function(
        "compute_multiscale_structure_tensor", compute_multiscale_structure_tensor_params,
        "Compute multiscale structure tensor.\nReturns dict with \"scales\" (list of sigma "
        "values) and per-scale theta/coherence.",
        compute_multiscale_structure_tensor),
    define_function(
        "fit_nuclear_ellipses", fit_nuclear_ellipses_params,
        "Fit nuclear ellipses from a labeled mask.\n`nuclear_mask`: 2D array where each "
        "pixel is a cell label (0 = background).\nReturns list of dicts with aspect_ratio, "
        "angle, centroid_row, centroid_col.",
        fit_nuclear_ellipses),
};

}  // namespace

const std::span<const FunctionEntry> orient_functions = functions;

}  // namespace tazmir::py
