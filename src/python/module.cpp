// Module creation: the function table, registration in order, the one-interpreter rule.
#define TAZMIR_IMPORT_ARRAY
#include "python/numpy_api.hpp"

#include <array>
#include <atomic>
#include <cstdint>

#include "core/panic.hpp"
#include "python/entry_points.hpp"
#include "python/errors.hpp"
#include "python/frame.hpp"

namespace tazmir::py {

namespace {

constexpr const char* analyze_shape_params[] = {"contour_xy"};
constexpr const char* analyze_shapes_batch_params[] = {"contours"};
constexpr const char* compute_structure_tensor_params[] = {"image", "sigma"};
constexpr const char* compute_multiscale_params[] = {"image", "sigmas"};
constexpr const char* fit_nuclear_ellipses_params[] = {"nuclear_mask"};
constexpr const char* detect_defects_params[] = {"thetas", "nx", "ny", "k", "threshold"};
constexpr const char* validate_poincare_hopf_params[] = {"charges", "euler_characteristic",
                                                         "tolerance"};
constexpr const char* compute_persistence_params[] = {"vertices", "edges", "triangles"};
constexpr const char* orientational_correlation_params[] = {"centroids", "thetas", "k", "max_r",
                                                            "n_bins"};
constexpr const char* ripley_k_params[] = {"points", "bbox", "r_values"};
constexpr const char* permutation_test_params[] = {"values_a", "values_b", "n_permutations",
                                                   "seed"};
constexpr const char* frank_energy_params[] = {"thetas", "nx", "ny", "dx"};
constexpr const char* estimate_ldg_params_params[] = {"s_values", "correlation_length",
                                                      "pixel_size"};
constexpr const char* build_fenwold_params_params[] = {
    "a", "b", "c", "k_elastic", "splay", "bend", "n_defects", "image_area_um2"};

// Registration order is the order of __all__.
const std::array<FunctionEntry, 14> functions = {{
    {"analyze_shape", analyze_shape_params,
     "analyze_shape(contour_xy)\n--\n\nAnalyze a single cell boundary contour.\n`contour_xy`: "
     "Nx2 numpy array of boundary points (x, y) in physical units.\n\nReturns a dict with all "
     "shape measurements.",
     analyze_shape},
    {"analyze_shapes_batch", analyze_shapes_batch_params,
     "analyze_shapes_batch(contours)\n--\n\nBatch analyze multiple cell boundary "
     "contours.\n`contours`: list of Nx2 numpy arrays.\n\nReturns list of dicts.",
     analyze_shapes_batch},
    {"compute_structure_tensor", compute_structure_tensor_params,
     "compute_structure_tensor(image, sigma)\n--\n\nCompute structure tensor at a single "
     "scale.\nReturns dict with \"theta\", \"coherence\" as 2D numpy arrays.",
     compute_structure_tensor},
    {"compute_multiscale_structure_tensor", compute_multiscale_params,
     "compute_multiscale_structure_tensor(image, sigmas)\n--\n\nCompute multiscale structure "
     "tensor.\nReturns dict with \"scales\" (list of sigma values) and per-scale "
     "theta/coherence.",
     compute_multiscale_structure_tensor},
    {"fit_nuclear_ellipses", fit_nuclear_ellipses_params,
     "fit_nuclear_ellipses(nuclear_mask)\n--\n\nFit nuclear ellipses from a labeled "
     "mask.\n`nuclear_mask`: 2D array where each pixel is a cell label (0 = "
     "background).\nReturns list of dicts with aspect_ratio, angle, centroid_row, "
     "centroid_col.",
     fit_nuclear_ellipses},
    {"detect_defects", detect_defects_params,
     "detect_defects(thetas, nx, ny, k, threshold)\n--\n\nDetect topological defects on a 2D "
     "grid of director angles.\n\n`thetas`: flat row-major array of director angles, shape (ny "
     "* nx).\n`nx`, `ny`: grid dimensions.\n`k`: k-atic symmetry order (2 for nematic, 1 for "
     "polar, 6 for hexatic).\n`threshold`: minimum holonomy angle to classify as a "
     "defect.\n\nReturns list of dicts with \"position\" ([row, col]), \"charge\", \"angle\".",
     detect_defects},
    {"validate_poincare_hopf", validate_poincare_hopf_params,
     "validate_poincare_hopf(charges, euler_characteristic, tolerance)\n--\n\nValidate the "
     "Poincare-Hopf theorem: sum of defect charges should equal\nthe Euler "
     "characteristic.\n\n`charges`: list of defect charges.\n`euler_characteristic`: expected "
     "chi (1 for disk, 0 for torus, 2 for sphere).\n`tolerance`: how close the sum must "
     "be.\n\nReturns dict with \"charge_sum\", \"euler_characteristic\", \"is_valid\".",
     validate_poincare_hopf},
    {"compute_persistence", compute_persistence_params,
     "compute_persistence(vertices, edges, triangles)\n--\n\nCompute persistent homology of a "
     "simplicial complex filtration.\n\n`vertices`: list of (vertex_index, filtration_value) "
     "tuples.\n`edges`: list of (v0, v1, filtration_value) tuples.\n`triangles`: list of (v0, "
     "v1, v2, filtration_value) tuples.\n\nReturns list of dicts with \"birth\", \"death\", "
     "\"dimension\".",
     compute_persistence},
    {"orientational_correlation", orientational_correlation_params,
     "orientational_correlation(centroids, thetas, k, max_r, n_bins)\n--\n\nCompute the "
     "orientational correlation function G_k(r).\n\n`centroids`: Nx2 numpy array of cell "
     "centroid positions.\n`thetas`: 1D array of per-cell director angles.\n`k`: k-atic "
     "symmetry order.\n`max_r`: maximum distance to compute.\n`n_bins`: number of distance "
     "bins.\n\nReturns dict with \"r_bins\", \"g_values\", \"counts\", "
     "\"correlation_length\".",
     orientational_correlation},
    {"ripley_k", ripley_k_params,
     "ripley_k(points, bbox, r_values)\n--\n\nCompute Ripley's K-function for a 2D point "
     "pattern.\n\n`points`: Nx2 numpy array of point positions.\n`bbox`: [x_min, y_min, x_max, "
     "y_max] bounding box.\n`r_values`: 1D array of distances at which to evaluate "
     "K.\n\nReturns dict with \"r_values\", \"k_values\", \"l_values\".",
     ripley_k},
    {"permutation_test", permutation_test_params,
     "permutation_test(values_a, values_b, n_permutations, seed)\n--\n\nTwo-sample "
     "permutation test using difference of means.\n\n`values_a`: 1D array of measurements "
     "from condition A.\n`values_b`: 1D array of measurements from condition "
     "B.\n`n_permutations`: number of random permutations.\n`seed`: random seed for "
     "reproducibility.\n\nReturns dict with \"observed\", \"p_value\", \"n_permutations\".",
     permutation_test},
    {"frank_energy", frank_energy_params,
     "frank_energy(thetas, nx, ny, dx)\n--\n\nCompute Frank elastic energy from a 2D director "
     "field.\n\n`thetas`: flat row-major array of director angles, shape (ny * nx).\n`nx`, "
     "`ny`: grid dimensions.\n`dx`: grid spacing in physical units.\n\nReturns dict with "
     "\"splay\", \"bend\", \"ratio\".",
     frank_energy},
    {"estimate_ldg_params", estimate_ldg_params_params,
     "estimate_ldg_params(s_values, correlation_length, pixel_size)\n--\n\nEstimate "
     "Landau-de Gennes parameters from the scalar order parameter distribution.\n\n`s_values`: "
     "1D array of per-cell scalar order parameter |psi_2|.\n`correlation_length`: xi from "
     "G_2(r) exponential decay fit (in pixels).\n`pixel_size`: um per pixel.\n\nReturns dict "
     "with \"a\", \"b\", \"c\", \"k_elastic\".",
     estimate_ldg_params},
    {"build_fenwold_params", build_fenwold_params_params,
     "build_fenwold_params(a, b, c, k_elastic, splay, bend, n_defects, "
     "image_area_um2)\n--\n\nBuild a fenwold-compatible parameter set from analysis "
     "results.\n\nAccepts individual parameters directly:\n  `a`, `b`, `c`, `k_elastic`: LdG "
     "parameters.\n  `splay`, `bend`: Frank energy components.\n  `n_defects`: number of "
     "detected defects.\n  `image_area_um2`: total image area in um^2.\n\nReturns dict with "
     "all fenwold parameters, plus a \"json\" key with the serialized form.",
     build_fenwold_params},
}};

template <std::size_t I>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) {
  return call_function(functions[I], args, nargs, kwnames);
}

template <std::size_t... I>
constexpr std::array<PyMethodDef, sizeof...(I)> make_method_defs(std::index_sequence<I...>) {
  return {{PyMethodDef{functions[I].name,
                       reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<I>)),
                       METH_FASTCALL | METH_KEYWORDS, functions[I].doc}...}};
}

// The interpreter keeps pointers into these entries for the life of the process.
std::array<PyMethodDef, functions.size()> method_defs =
    make_method_defs(std::make_index_sequence<functions.size()>{});

Ref register_functions(Ref module) {
  Ref module_name = check(PyUnicode_FromString("_native"));
  for (PyMethodDef& def : method_defs) {
    Ref function = check(PyCMethod_New(&def, module.get(), module_name.get(), nullptr));
    Ref name = check(PyObject_GetAttrString(function.get(), "__name__"));
    Ref all = Ref::steal(PyObject_GetAttrString(module.get(), "__all__"));
    if (!all) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
      PyErr_Clear();
      all = check(PyList_New(0));
      if (PyObject_SetAttrString(module.get(), "__all__", all.get()) != 0) throw PythonError{};
    }
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), name.get()) != 0) {
      PyErr_Clear();
      panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module.get(), name.get(), function.get()) != 0) throw PythonError{};
  }
  // Callers catch internal failures by name; the class is not part of __all__.
  PyObject* panic_type = panic_exception_type();
  if (panic_type == nullptr) throw PythonError{};
  Py_INCREF(panic_type);
  if (PyModule_AddObject(module.get(), "PanicException", panic_type) != 0) {
    Py_DECREF(panic_type);
    throw PythonError{};
  }
  return module;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "tazmir native extension module.",
    0,        // no per-module state
    nullptr,  // functions are registered by the initializer, in table order
    nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> first_interpreter{-1};
PyObject* module_cell = nullptr;  // filled once, under the interpreter lock

Ref initialize() {
  PyInterpreterState* state = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(state);
  if (id == -1 && PyErr_Occurred()) throw PythonError{};
  std::int64_t expected = -1;
  if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    raise(PyExc_ImportError,
          "_native does not support sub-interpreters: it was already initialized by another "
          "interpreter in this process");
  }
  if (module_cell != nullptr) return Ref::borrow(module_cell);
  if (_import_array() < 0) throw PythonError{};
  Ref module = register_functions(check(PyModule_Create2(&module_def, PYTHON_API_VERSION)));
  module_cell = Ref::borrow(module.get()).release();
  return module;
}

}  // namespace

}  // namespace tazmir::py

PyMODINIT_FUNC PyInit__native() {
  return tazmir::py::run_frame([] { return tazmir::py::initialize(); });
}
