// Kernel bindings of the orientation field: coarse-graining the nematic tensor, and its
// sums by ring and sector around a defect.
#define PY_ARRAY_UNIQUE_SYMBOL tazmir_kernels_ARRAY_API
#define NO_IMPORT_ARRAY
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include "kernels/kernels.hpp"

#include <numpy/arrayobject.h>


#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "orient/annulus_sectors.hpp"
#include "orient/gaussian.hpp"
#include "orient/nematic_blocks.hpp"

namespace tazmir::kernels {

namespace {

const double* doubles(PyObject* array) {
  return static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array)));
}

npy_intp dim(PyObject* array, int axis) {
  return PyArray_DIM(reinterpret_cast<PyArrayObject*>(array), axis);
}

}  // namespace

PyObject* nematic_block_means(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 4, "nematic_block_means")) return nullptr;
  PyObject* theta = require_array(args[0], NPY_DOUBLE, 2, "theta");
  PyObject* weight = theta ? require_array(args[1], NPY_DOUBLE, 2, "weight") : nullptr;
  if (weight == nullptr) return nullptr;
  PyObject* mask = nullptr;
  if (args[2] != Py_None && !(mask = require_array(args[2], NPY_UINT8, 2, "mask"))) {
    return nullptr;
  }
  const npy_intp rows = dim(theta, 0);
  const npy_intp cols = dim(theta, 1);
  if (dim(weight, 0) != rows || dim(weight, 1) != cols ||
      (mask && (dim(mask, 0) != rows || dim(mask, 1) != cols))) {
    PyErr_SetString(PyExc_ValueError, "theta, weight and mask must have one shape");
    return nullptr;
  }
  const long long step = PyLong_AsLongLong(args[3]);
  if (step == -1 && PyErr_Occurred()) return nullptr;
  if (step < 1) {
    PyErr_SetString(PyExc_ValueError, "step must be at least 1");
    return nullptr;
  }
  npy_intp shape[3] = {rows / step, cols / step, 4};
  py::Ref out = py::Ref::steal(PyArray_ZEROS(3, shape, NPY_DOUBLE, 0));
  if (!out) return nullptr;
  orient::NematicFieldView field;
  field.theta = doubles(theta);
  field.weight = doubles(weight);
  field.mask = mask ? static_cast<const std::uint8_t*>(
                          PyArray_DATA(reinterpret_cast<PyArrayObject*>(mask)))
                    : nullptr;
  field.rows = static_cast<std::size_t>(rows);
  field.cols = static_cast<std::size_t>(cols);
  auto* target =
      static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  if (run_released([&] {
        orient::nematic_block_means(field, static_cast<std::size_t>(step), target);
      })) {
    return out.release();
  }
  return nullptr;
}

PyObject* gaussian_blur_stack(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 2, "gaussian_blur_stack")) return nullptr;
  PyObject* stack = require_array(args[0], NPY_DOUBLE, 3, "stack");
  if (stack == nullptr) return nullptr;
  double sigma = 0.0;
  if (!as_double(args[1], sigma)) return nullptr;
  if (!(sigma >= 0.0 && sigma <= 1e6)) {
    PyErr_SetString(PyExc_ValueError, "sigma must be a finite number from 0 to 1e6");
    return nullptr;
  }
  const auto count = static_cast<std::size_t>(dim(stack, 0));
  const auto rows = static_cast<std::size_t>(dim(stack, 1));
  const auto cols = static_cast<std::size_t>(dim(stack, 2));
  npy_intp shape[3] = {dim(stack, 0), dim(stack, 1), dim(stack, 2)};
  py::Ref out = py::Ref::steal(PyArray_ZEROS(3, shape, NPY_DOUBLE, 0));
  if (!out) return nullptr;
  const double* source = doubles(stack);
  auto* target =
      static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  if (count == 0 || rows == 0 || cols == 0) return out.release();
  const std::size_t plane = rows * cols;
  if (run_released([&] {
        // Three planes at a time through the structure tensor's own separable blur.
        for (std::size_t first = 0; first < count; first += 3) {
          std::array<ImageField, 3> in;
          for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t p = std::min(first + i, count - 1);
            in[i] = ImageField(std::vector<double>(source + p * plane, source + (p + 1) * plane),
                               cols, rows);
          }
          const auto smooth = orient::gaussian_blur_triple(in[0], in[1], in[2], sigma);
          for (std::size_t i = 0; i < 3 && first + i < count; ++i) {
            std::copy(smooth[i].data.begin(), smooth[i].data.end(),
                      target + (first + i) * plane);
          }
        }
      })) {
    return out.release();
  }
  return nullptr;
}

}  // namespace tazmir::kernels

namespace tazmir::kernels {

PyObject* annulus_sectors(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!takes(nargs, 6, "annulus_sectors")) return nullptr;
  PyObject* theta = require_array(args[0], NPY_DOUBLE, 2, "theta");
  PyObject* weight = theta ? require_array(args[1], NPY_DOUBLE, 2, "weight") : nullptr;
  PyObject* edges = weight ? require_array(args[4], NPY_DOUBLE, 1, "edges") : nullptr;
  if (edges == nullptr) return nullptr;
  const npy_intp rows = dim(theta, 0);
  const npy_intp cols = dim(theta, 1);
  if (dim(weight, 0) != rows || dim(weight, 1) != cols) {
    PyErr_SetString(PyExc_ValueError, "theta and weight must have one shape");
    return nullptr;
  }
  double row = 0.0;
  double col = 0.0;
  if (!as_double(args[2], row) || !as_double(args[3], col)) return nullptr;
  const long long sectors = PyLong_AsLongLong(args[5]);
  if (sectors == -1 && PyErr_Occurred()) return nullptr;
  const npy_intp n_edges = dim(edges, 0);
  const double* edge = doubles(edges);
  bool increasing = n_edges >= 2 && edge[0] >= 0.0 && std::isfinite(edge[n_edges - 1]);
  for (npy_intp i = 1; increasing && i < n_edges; ++i) increasing = edge[i] > edge[i - 1];
  if (!increasing || !std::isfinite(row) || !std::isfinite(col) || sectors < 1 ||
      sectors > 1000000) {
    PyErr_SetString(PyExc_ValueError,
                    "annulus_sectors needs a finite centre, at least two increasing finite "
                    "non-negative edges and 1 to 1e6 sectors");
    return nullptr;
  }
  npy_intp shape[3] = {n_edges - 1, static_cast<npy_intp>(sectors), 2};
  py::Ref out = py::Ref::steal(PyArray_ZEROS(3, shape, NPY_DOUBLE, 0));
  if (!out) return nullptr;
  auto* target =
      static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
  if (run_released([&] {
        orient::annulus_sectors(doubles(theta), doubles(weight), static_cast<std::size_t>(rows),
                                static_cast<std::size_t>(cols), row, col, edge,
                                static_cast<std::size_t>(n_edges),
                                static_cast<std::size_t>(sectors), target);
      })) {
    return out.release();
  }
  return nullptr;
}

}  // namespace tazmir::kernels
