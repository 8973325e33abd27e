// Kernel bindings of the spatial statistics: the pair sums of Ripley's K.
#define PY_ARRAY_UNIQUE_SYMBOL tazmir_kernels_ARRAY_API
#define NO_IMPORT_ARRAY
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include "kernels/kernels.hpp"

#include <numpy/arrayobject.h>

#include <cmath>

#include "stats/translation_pairs.hpp"

namespace tazmir::kernels {

PyObject* translation_pair_sums(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 6, "translation_pair_sums")) return nullptr;
  PyObject* x = require_array(args[0], NPY_DOUBLE, 1, "x");
  PyObject* y = x ? require_array(args[1], NPY_DOUBLE, 1, "y") : nullptr;
  PyObject* radii = y ? require_array(args[5], NPY_DOUBLE, 1, "radii") : nullptr;
  if (radii == nullptr) return nullptr;
  double width = 0.0;
  double height = 0.0;
  double cell = 0.0;
  if (!as_double(args[2], width) || !as_double(args[3], height) || !as_double(args[4], cell)) {
    return nullptr;
  }
  auto* x_array = reinterpret_cast<PyArrayObject*>(x);
  auto* radii_array = reinterpret_cast<PyArrayObject*>(radii);
  const npy_intp n = PyArray_DIM(x_array, 0);
  const npy_intp n_radii = PyArray_DIM(radii_array, 0);
  if (PyArray_DIM(reinterpret_cast<PyArrayObject*>(y), 0) != n) {
    PyErr_SetString(PyExc_ValueError, "x and y must have one length");
    return nullptr;
  }
  const auto* r = static_cast<const double*>(PyArray_DATA(radii_array));
  if (n_radii == 0 || !(r[n_radii - 1] > 0.0) || !std::isfinite(r[n_radii - 1]) ||
      !(width > 0.0 && height > 0.0 && std::isfinite(width) && std::isfinite(height))) {
    PyErr_SetString(PyExc_ValueError,
                    "radii must end with a positive finite radius and the window be positive");
    return nullptr;
  }
  if (!(cell >= r[n_radii - 1]) || !std::isfinite(cell)) {
    PyErr_SetString(PyExc_ValueError, "cell must be finite and at least the largest radius");
    return nullptr;
  }
  npy_intp shape[1] = {n_radii};
  py::Ref out = py::Ref::steal(PyArray_ZEROS(1, shape, NPY_DOUBLE, 0));
  if (!out) return nullptr;
  auto* sums = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  const auto* xs = static_cast<const double*>(PyArray_DATA(x_array));
  const auto* ys = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(y)));
  if (run_released([&] {
        stats::translation_pair_sums(xs, ys, static_cast<std::size_t>(n), width, height, cell,
                                     r, static_cast<std::size_t>(n_radii), sums);
      })) {
    return out.release();
  }
  return nullptr;
}

}  // namespace tazmir::kernels
