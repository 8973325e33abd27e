// Entry points of the topology subsystem: defects, Poincare-Hopf check, persistence.
#include <vector>

#include "python/convert.hpp"
#include "python/frame.hpp"
#include "topo/defects.hpp"
#include "topo/persistence.hpp"
#include "topo/poincare_hopf.hpp"

namespace tazmir::py {

namespace {

Ref detect_defects(const Args& args) {
  const Array1DF64 thetas = to_array1d_f64(args[0]);
  const std::uint64_t nx = to_u64(args[1]);
  const std::uint64_t ny = to_u64(args[2]);
  const std::uint32_t k = to_u32(args[3]);
  const double threshold = to_f64(args[4]);
  const std::vector<topo::Defect> defects =
      topo::detect_defects(thetas.as_slice(), nx, ny, k, threshold);
  ListBuilder list;
  for (const topo::Defect& defect : defects) {
    DictBuilder dict;
    dict.set("position", new_float_list(defect.position));
    dict.set("charge", new_float(defect.charge));
    dict.set("angle", new_float(defect.angle));
    list.append(dict.finish());
  }
  return list.finish();
}

Ref validate_poincare_hopf(const Args& args) {
  const std::vector<double> charges = to_f64_vec(args[0]);
  const std::int32_t chi = to_i32(args[1]);
  const double tolerance = to_f64(args[2]);
  std::vector<topo::Defect> defects(charges.size());
  for (std::size_t i = 0; i < charges.size(); ++i) defects[i] = {{0.0, 0.0}, charges[i], 0.0};
  const topo::PoincareHopfResult result = topo::validate_poincare_hopf(defects, chi, tolerance);
  DictBuilder dict;
  dict.set("charge_sum", new_float(result.charge_sum));
  dict.set("euler_characteristic", new_int(static_cast<std::int64_t>(result.euler_characteristic)));
  dict.set("is_valid", new_bool(result.is_valid));
  return dict.finish();
}

Ref compute_persistence(const Args& args) {
  const auto vertices = to_tuple_vec<std::uint64_t, double>(args[0]);
  const auto edges = to_tuple_vec<std::uint64_t, std::uint64_t, double>(args[1]);
  const auto triangles = to_tuple_vec<std::uint64_t, std::uint64_t, std::uint64_t, double>(args[2]);
  std::vector<topo::VertexItem> vertex_items(vertices.size());
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    vertex_items[i] = {std::get<0>(vertices[i]), std::get<1>(vertices[i])};
  }
  std::vector<topo::EdgeItem> edge_items(edges.size());
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const auto& [v0, v1, value] = edges[i];
    edge_items[i] = {v0, v1, value};
  }
  std::vector<topo::TriangleItem> triangle_items(triangles.size());
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    const auto& [v0, v1, v2, value] = triangles[i];
    triangle_items[i] = {v0, v1, v2, value};
  }
  const std::vector<topo::PersistencePair> pairs =
      value_or_raise(topo::compute_persistence(vertex_items, edge_items, triangle_items));
  ListBuilder list;
  for (const topo::PersistencePair& pair : pairs) {
    DictBuilder dict;
    dict.set("birth", new_float(pair.birth));
    dict.set("death", new_float(pair.death));
    dict.set("dimension", new_int(static_cast<std::uint64_t>(pair.dimension)));
    dict.set("persistence", new_float(pair.death - pair.birth));
    list.append(dict.finish());
  }
  return list.finish();
}

constexpr const char* detect_defects_params[] = {"thetas", "nx", "ny", "k", "threshold"};
constexpr const char* validate_poincare_hopf_params[] = {"charges", "euler_characteristic",
                                                         "tolerance"};
constexpr const char* compute_persistence_params[] = {"vertices", "edges", "triangles"};

const FunctionEntry functions[] = {
    define_function(
        "detect_defects", detect_defects_params,
        "Detect topological defects on a 2D grid of director angles.\n\n`thetas`: flat "
        "row-major array of director angles, shape (ny * nx).\n`nx`, `ny`: grid dimensions.\n"
        "`k`: k-atic symmetry order (2 for nematic, 1 for polar, 6 for hexatic).\n"
        "`threshold`: minimum holonomy angle to classify as a defect.\n\nReturns list of "
        "dicts with \"position\" ([row, col]), \"charge\", \"angle\".",
        detect_defects),
    define_function(
        "validate_poincare_hopf", validate_poincare_hopf_params,
        "Validate the Poincare-Hopf theorem: sum of defect charges should equal\nthe Euler "
        "characteristic.\n\n`charges`: list of defect charges.\n`euler_characteristic`: "
        "expected chi (1 for disk, 0 for torus, 2 for sphere).\n`tolerance`: how close the "
        "sum must be.\n\nReturns dict with \"charge_sum\", \"euler_characteristic\", "
        "\"is_valid\".",
        validate_poincare_hopf),
    define_function(
        "compute_persistence", compute_persistence_params,
        "Compute persistent homology of a simplicial complex filtration.\n\n`vertices`: list "
        "of (vertex_index, filtration_value) tuples.\n`edges`: list of (v0, v1, "
        "filtration_value) tuples.\n`triangles`: list of (v0, v1, v2, filtration_value) "
        "tuples.\n\nReturns list of dicts with \"birth\", \"death\", \"dimension\".",
        compute_persistence),
};

}  // namespace

const std::span<const FunctionEntry> topo_functions = functions;

}  // namespace tazmir::py
