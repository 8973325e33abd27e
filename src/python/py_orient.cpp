// Entry points of the orientation subsystem: structure tensors and nuclear ellipses.
#include "python/convert.hpp"
#include "python/entry_points.hpp"

namespace tazmir::py {

Ref compute_structure_tensor(PyObject* const* args) {
  const Array2DF64 image = to_array2d_f64(args[0], "image");
  const double sigma = to_f64(args[1], "sigma");
  (void)image;
  (void)sigma;
  not_implemented("compute_structure_tensor");
}

Ref compute_multiscale_structure_tensor(PyObject* const* args) {
  const Array2DF64 image = to_array2d_f64(args[0], "image");
  const std::vector<double> sigmas = to_f64_vec(args[1], "sigmas");
  (void)image;
  (void)sigmas;
  not_implemented("compute_multiscale_structure_tensor");
}

Ref fit_nuclear_ellipses(PyObject* const* args) {
  const Array2DI32 mask = to_array2d_i32(args[0], "nuclear_mask");
  (void)mask;
  not_implemented("fit_nuclear_ellipses");
}

}  // namespace tazmir::py
