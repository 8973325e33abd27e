// Entry points of the continuum-theory subsystem: Frank energy, LdG estimates, fenwold set.
#include "python/convert.hpp"
#include "python/entry_points.hpp"

namespace tazmir::py {

Ref frank_energy(PyObject* const* args) {
  const Array1DF64 thetas = to_array1d_f64(args[0], "thetas");
  const std::uint64_t nx = to_u64(args[1], "nx");
  const std::uint64_t ny = to_u64(args[2], "ny");
  const double dx = to_f64(args[3], "dx");
  (void)thetas.as_slice(), (void)nx, (void)ny, (void)dx;
  not_implemented("frank_energy");
}

Ref estimate_ldg_params(PyObject* const* args) {
  const Array1DF64 s_values = to_array1d_f64(args[0], "s_values");
  const double correlation_length = to_f64(args[1], "correlation_length");
  const double pixel_size = to_f64(args[2], "pixel_size");
  (void)s_values.as_slice(), (void)correlation_length, (void)pixel_size;
  not_implemented("estimate_ldg_params");
}

Ref build_fenwold_params(PyObject* const* args) {
  const double a = to_f64(args[0], "a");
  const double b = to_f64(args[1], "b");
  const double c = to_f64(args[2], "c");
  const double k_elastic = to_f64(args[3], "k_elastic");
  const double splay = to_f64(args[4], "splay");
  const double bend = to_f64(args[5], "bend");
  const std::uint64_t n_defects = to_u64(args[6], "n_defects");
  const double image_area_um2 = to_f64(args[7], "image_area_um2");
  (void)a, (void)b, (void)c, (void)k_elastic, (void)splay, (void)bend, (void)n_defects,
      (void)image_area_um2;
  not_implemented("build_fenwold_params");
}

}  // namespace tazmir::py
