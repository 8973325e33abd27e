// Entry points of the statistics subsystem: correlation, Ripley's K, permutation test.
#include <vector>

#include "core/panic.hpp"
#include "python/convert.hpp"
#include "python/entry_points.hpp"
#include "stats/correlation.hpp"
#include "stats/permutation.hpp"
#include "stats/ripley.hpp"

namespace tazmir::py {

namespace {

// The (x, y) pair of every row, read through the strides so any layout gives the same
// pairs; columns beyond the second are ignored.
std::vector<Point> point_pairs(const Array2DF64& array) {
  if (array.rows() != 0 && array.cols() < 2) panic("ndarray: index out of bounds");
  std::vector<Point> points(array.rows());
  for (std::size_t r = 0; r < array.rows(); ++r) points[r] = {array.at(r, 0), array.at(r, 1)};
  return points;
}

}  // namespace

Ref orientational_correlation(PyObject* const* args) {
  const Array2DF64 centroids = to_array2d_f64(args[0], "centroids");
  const Array1DF64 thetas = to_array1d_f64(args[1], "thetas");
  const std::uint32_t k = to_u32(args[2], "k");
  const double max_r = to_f64(args[3], "max_r");
  const std::uint64_t n_bins = to_u64(args[4], "n_bins");

  const std::vector<Point> pairs = point_pairs(centroids);
  const stats::CorrelationResult result =
      stats::orientational_correlation(pairs, thetas.as_slice(), k, n_bins, max_r);

  const std::vector<double> counts(result.counts.begin(), result.counts.end());
  DictBuilder dict;
  dict.set("r_bins", new_array1d(result.r_bins));
  dict.set("g_values", new_array1d(result.g_values));
  dict.set("counts", new_array1d(counts));
  dict.set("correlation_length", new_float(result.correlation_length));
  return dict.finish();
}

Ref ripley_k(PyObject* const* args) {
  const Array2DF64 points = to_array2d_f64(args[0], "points");
  const std::array<double, 4> bbox = to_f64_quad(args[1], "bbox");
  const Array1DF64 r_values = to_array1d_f64(args[2], "r_values");

  const std::vector<Point> pairs = point_pairs(points);
  const stats::RipleyResult result = stats::ripley_k(pairs, bbox, r_values.as_slice());

  DictBuilder dict;
  dict.set("r_values", new_array1d(result.r_values));
  dict.set("k_values", new_array1d(result.k_values));
  dict.set("l_values", new_array1d(result.l_values));
  return dict.finish();
}

Ref permutation_test(PyObject* const* args) {
  const Array1DF64 values_a = to_array1d_f64(args[0], "values_a");
  const Array1DF64 values_b = to_array1d_f64(args[1], "values_b");
  const std::uint64_t n_permutations = to_u64(args[2], "n_permutations");
  const std::uint64_t seed = to_u64(args[3], "seed");

  const std::span<const double> a = values_a.as_slice();
  const std::span<const double> b = values_b.as_slice();
  const stats::PermutationResult result = stats::permutation_test(a, b, n_permutations, seed);

  DictBuilder dict;
  dict.set("observed", new_float(result.observed));
  dict.set("p_value", new_float(result.p_value));
  dict.set("n_permutations", new_int(result.n_permutations));
  return dict.finish();
}

}  // namespace tazmir::py
