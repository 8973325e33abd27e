// The bodies of the fourteen module functions, one binding file per subsystem.
#pragma once

#include "python/py_ref.hpp"

namespace tazmir::py {

// py_shape.cpp
Ref analyze_shape(PyObject* const* args);
Ref analyze_shapes_batch(PyObject* const* args);
// py_orient.cpp
Ref compute_structure_tensor(PyObject* const* args);
Ref compute_multiscale_structure_tensor(PyObject* const* args);
Ref fit_nuclear_ellipses(PyObject* const* args);
// py_topo.cpp
Ref detect_defects(PyObject* const* args);
Ref validate_poincare_hopf(PyObject* const* args);
Ref compute_persistence(PyObject* const* args);
// py_stats.cpp
Ref orientational_correlation(PyObject* const* args);
Ref ripley_k(PyObject* const* args);
Ref permutation_test(PyObject* const* args);
// py_theory.cpp
Ref frank_energy(PyObject* const* args);
Ref estimate_ldg_params(PyObject* const* args);
Ref build_fenwold_params(PyObject* const* args);

}  // namespace tazmir::py
