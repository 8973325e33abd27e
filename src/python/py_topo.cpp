// Entry points of the topology subsystem: defects, Poincare-Hopf check, persistence.
#include "python/convert.hpp"
#include "python/entry_points.hpp"

namespace tazmir::py {

Ref detect_defects(PyObject* const* args) {
  const Array1DF64 thetas = to_array1d_f64(args[0], "thetas");
  const std::uint64_t nx = to_u64(args[1], "nx");
  const std::uint64_t ny = to_u64(args[2], "ny");
  const std::uint32_t k = to_u32(args[3], "k");
  const double threshold = to_f64(args[4], "threshold");
  (void)thetas.as_slice();
  (void)nx, (void)ny, (void)k, (void)threshold;
  not_implemented("detect_defects");
}

Ref validate_poincare_hopf(PyObject* const* args) {
  const std::vector<double> charges = to_f64_vec(args[0], "charges");
  const std::int32_t chi = to_i32(args[1], "euler_characteristic");
  const double tolerance = to_f64(args[2], "tolerance");
  (void)charges, (void)chi, (void)tolerance;
  not_implemented("validate_poincare_hopf");
}

Ref compute_persistence(PyObject* const* args) {
  const auto vertices = to_tuple_vec<std::uint64_t, double>(args[0], "vertices");
  const auto edges = to_tuple_vec<std::uint64_t, std::uint64_t, double>(args[1], "edges");
  const auto triangles =
      to_tuple_vec<std::uint64_t, std::uint64_t, std::uint64_t, double>(args[2], "triangles");
  (void)vertices, (void)edges, (void)triangles;
  not_implemented("compute_persistence");
}

}  // namespace tazmir::py
