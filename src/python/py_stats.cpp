// Entry points of the statistics subsystem: correlation, Ripley's K, permutation test.
#include <vector>

#include "python/convert.hpp"
#include "python/frame.hpp"
#include "stats/correlation.hpp"
#include "stats/permutation.hpp"
#include "stats/ripley.hpp"

namespace tazmir::py {

namespace {

Ref orientational_correlation(const Args& args) {
  const Array2DF64 centroids = to_array2d_f64(args[0]);
  const Array1DF64 thetas = to_array1d_f64(args[1]);
  const std::uint32_t k = to_u32(args[2]);
  const double max_r = to_f64(args[3]);
  const std::uint64_t n_bins = to_u64(args[4]);

  const std::vector<Point> pairs = to_points(centroids);
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

Ref ripley_k(const Args& args) {
  const Array2DF64 points = to_array2d_f64(args[0]);
  const std::array<double, 4> bbox = to_f64_quad(args[1]);
  const Array1DF64 r_values = to_array1d_f64(args[2]);

  const std::vector<Point> pairs = to_points(points);
  const stats::RipleyResult result = stats::ripley_k(pairs, bbox, r_values.as_slice());

  DictBuilder dict;
  dict.set("r_values", new_array1d(result.r_values));
  dict.set("k_values", new_array1d(result.k_values));
  dict.set("l_values", new_array1d(result.l_values));
  return dict.finish();
}

Ref permutation_test(const Args& args) {
  const Array1DF64 values_a = to_array1d_f64(args[0]);
  const Array1DF64 values_b = to_array1d_f64(args[1]);
  const std::uint64_t n_permutations = to_u64(args[2]);
  const std::uint64_t seed = to_u64(args[3]);

  const std::span<const double> a = values_a.as_slice();
  const std::span<const double> b = values_b.as_slice();
  const stats::PermutationResult result = stats::permutation_test(a, b, n_permutations, seed);

  DictBuilder dict;
  dict.set("observed", new_float(result.observed));
  dict.set("p_value", new_float(result.p_value));
  dict.set("n_permutations", new_int(result.n_permutations));
  return dict.finish();
}

constexpr const char* orientational_correlation_params[] = {"centroids", "thetas", "k", "max_r",
                                                            "n_bins"};
constexpr const char* ripley_k_params[] = {"points", "bbox", "r_values"};
constexpr const char* permutation_test_params[] = {"values_a", "values_b", "n_permutations",
                                                   "seed"};

const FunctionEntry functions[] = {
    define_function(
        "orientational_correlation", orientational_correlation_params,
        "Compute the orientational correlation function G_k(r).\n\n`centroids`: Nx2 numpy "
        "array of cell centroid positions.\n`thetas`: 1D array of per-cell director angles.\n"
        "`k`: k-atic symmetry order.\n`max_r`: maximum distance to compute.\n`n_bins`: "
        "number of distance bins.\n\nReturns dict with \"r_bins\", \"g_values\", \"counts\", "
        "\"correlation_length\".",
        orientational_correlation),
    define_function(
        "ripley_k", ripley_k_params,
        "Compute Ripley's K-function for a 2D point pattern.\n\n`points`: Nx2 numpy array of "
        "point positions.\n`bbox`: [x_min, y_min, x_max, y_max] bounding box.\n`r_values`: "
        "1D array of distances at which to evaluate K.\n\nReturns dict with \"r_values\", "
        "\"k_values\", \"l_values\".",
        ripley_k),
    define_function(
        "permutation_test", permutation_test_params,
        "Two-sample permutation test using difference of means.\n\n`values_a`: 1D array of "
        "measurements from condition A.\n`values_b`: 1D array of measurements from condition "
        "B.\n`n_permutations`: number of random permutations.\n`seed`: random seed for "
        "reproducibility.\n\nReturns dict with \"observed\", \"p_value\", \"n_permutations\".",
        permutation_test),
};

}  // namespace

const std::span<const FunctionEntry> stats_functions = functions;

}  // namespace tazmir::py
