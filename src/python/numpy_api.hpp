// NumPy C API access shared by the binding translation units (one API table per module).
#pragma once

#include "python/py_ref.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL tazmir_ARRAY_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#ifndef TAZMIR_IMPORT_ARRAY
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
