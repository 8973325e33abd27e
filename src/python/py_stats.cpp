// Entry points of the statistics subsystem: correlation, Ripley's K, permutation test.
#include "python/convert.hpp"
#include "python/entry_points.hpp"

namespace tazmir::py {

Ref orientational_correlation(PyObject* const* args) {
  const Array2DF64 centroids = to_array2d_f64(args[0], "centroids");
  const Array1DF64 thetas = to_array1d_f64(args[1], "thetas");
  const std::uint32_t k = to_u32(args[2], "k");
  const double max_r = to_f64(args[3], "max_r");
  const std::uint64_t n_bins = to_u64(args[4], "n_bins");
  (void)centroids, (void)thetas.as_slice(), (void)k, (void)max_r, (void)n_bins;
  not_implemented("orientational_correlation");
}

Ref ripley_k(PyObject* const* args) {
  const Array2DF64 points = to_array2d_f64(args[0], "points");
  const std::array<double, 4> bbox = to_f64_quad(args[1], "bbox");
  const Array1DF64 r_values = to_array1d_f64(args[2], "r_values");
  (void)points, (void)bbox, (void)r_values.as_slice();
  not_implemented("ripley_k");
}

Ref permutation_test(PyObject* const* args) {
  const Array1DF64 values_a = to_array1d_f64(args[0], "values_a");
  const Array1DF64 values_b = to_array1d_f64(args[1], "values_b");
  const std::uint64_t n_permutations = to_u64(args[2], "n_permutations");
  const std::uint64_t seed = to_u64(args[3], "seed");
  (void)values_a.as_slice(), (void)values_b.as_slice(), (void)n_permutations, (void)seed;
  not_implemented("permutation_test");
}

}  // namespace tazmir::py
