// `tazmir._kernels`: the method table and the array guard shared by the kernel bindings.
#define PY_ARRAY_UNIQUE_SYMBOL tazmir_kernels_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include "kernels/kernels.hpp"

#include <numpy/arrayobject.h>

namespace tazmir::kernels {

PyObject* require_array(PyObject* object, int type_num, int ndim, const char* what) {
  if (!PyArray_Check(object)) {
    PyErr_Format(PyExc_TypeError, "%s must be a NumPy array", what);
    return nullptr;
  }
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_TYPE(array) != type_num || PyArray_NDIM(array) != ndim ||
      !PyArray_IS_C_CONTIGUOUS(array) || !PyArray_ISALIGNED(array)) {
    PyErr_Format(PyExc_ValueError, "%s must be a C-contiguous %d-D array of %s", what, ndim,
                 PyArray_DescrFromType(type_num)->typeobj->tp_name);
    return nullptr;
  }
  return object;
}

namespace {

PyMethodDef methods[] = {
    {"nematic_block_means", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                                nematic_block_means)),
     METH_FASTCALL,
     "nematic_block_means(theta, weight, mask, step)\n--\n\n"
     "Block means of (w cos 2theta, w sin 2theta, w, inside) over step x step blocks.\n"
     "theta, weight: C-contiguous float64 images; mask: uint8 image or None."},
    {"gaussian_blur_stack", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                                gaussian_blur_stack)),
     METH_FASTCALL,
     "gaussian_blur_stack(stack, sigma)\n--\n\n"
     "Gaussian smoothing of each image of a C-contiguous (n, rows, cols) float64 stack,\n"
     "truncated at four standard deviations, zero beyond the border."},
    {"annulus_sectors", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                            annulus_sectors)),
     METH_FASTCALL,
     "annulus_sectors(theta, weight, row, col, edges, sectors)\n--\n\n"
     "Sums of (w cos 2theta, w sin 2theta) per ring edges[i] <= r < edges[i+1] around\n"
     "(row, col) and per angular sector: an (n_rings, sectors, 2) float64 array."},
    {"translation_pair_sums", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                                  translation_pair_sums)),
     METH_FASTCALL,
     "translation_pair_sums(x, y, width, height, cell, radii)\n--\n\n"
     "Translation-corrected weights of the point pairs closer than radii[-1], summed per\n"
     "radius slot (the first radius at or above each distance). Points from the window's\n"
     "corner, sorted by their cell of side cell >= radii[-1]."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_kernels",
    "Compute kernels of the tazmir analysis package (not a public API).", 0, methods,
    nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace tazmir::kernels

PyMODINIT_FUNC PyInit__kernels() {
  import_array();
  return PyModule_Create(&tazmir::kernels::module_def);
}
