// The package's own compute kernels, bound for Python as `tazmir._kernels`.
#pragma once

#include "python/py_ref.hpp"

#include <new>

namespace tazmir::kernels {

/// A C-contiguous, aligned array of the given NumPy type number and dimension count, or a
/// TypeError/ValueError naming `what` (the Python wrapper converts; this only guards).
PyObject* require_array(PyObject* object, int type_num, int ndim, const char* what);

/// Reads a Python number into `out`; false with the interpreter's error set if it is none.
inline bool as_double(PyObject* object, double& out) {
  out = PyFloat_AsDouble(object);
  return !(out == -1.0 && PyErr_Occurred());
}

/// Whether a kernel got its `expected` number of arguments; a TypeError naming it if not.
inline bool takes(Py_ssize_t nargs, Py_ssize_t expected, const char* name) {
  if (nargs == expected) return true;
  PyErr_Format(PyExc_TypeError, "%s takes %zd arguments", name, expected);
  return false;
}

/// Runs `body` without the interpreter lock (it must not touch Python objects). Returns false
/// with MemoryError or RuntimeError set when it threw.
template <class F>
bool run_released(F&& body) {
  int failure = 0;
  Py_BEGIN_ALLOW_THREADS
  try {
    body();
  } catch (const std::bad_alloc&) {
    failure = 1;
  } catch (...) {
    failure = 2;
  }
  Py_END_ALLOW_THREADS
  if (failure == 1) PyErr_NoMemory();
  if (failure == 2) PyErr_SetString(PyExc_RuntimeError, "internal failure in a tazmir kernel");
  return failure == 0;
}

// The kernels, one per entry of the method table (module.cpp documents their arguments).
PyObject* nematic_block_means(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* gaussian_blur_stack(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* annulus_sectors(PyObject* module, PyObject* const* args, Py_ssize_t nargs);
PyObject* translation_pair_sums(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace tazmir::kernels
