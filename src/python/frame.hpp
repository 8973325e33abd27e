// The call frame of every module function: argument binding, body, exception mapping.
#pragma once

#include <cstddef>
#include <span>

#include "python/py_ref.hpp"

namespace tazmir::py {

/// A body receives its bound arguments (borrowed, in parameter order) and returns the result.
using Body = Ref (*)(PyObject* const* args);

/// The static description of one module function.
struct FunctionEntry {
  const char* name;
  std::span<const char* const> params;
  const char* doc;  // "name(params)\n--\n\n" then the description
  Body body;
};

/// Binds positional and keyword arguments to the parameters in `slots` (one per parameter),
/// raising TypeError with the interpreter-style messages. Returns false with the error set.
bool bind_arguments(const FunctionEntry& fn, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);

/// Runs `body` and hands its result to the interpreter: PythonError as the exception already
/// set, an internal failure as PanicException (after its stderr diagnostic).
template <class F>
PyObject* run_frame(F&& body) noexcept;

PyObject* call_function(const FunctionEntry& fn, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept;

/// Converts the exception in flight (inside a catch block) into the Python exception.
void set_exception_from_current() noexcept;

template <class F>
PyObject* run_frame(F&& body) noexcept {
  try {
    return body().release();
  } catch (...) {
    set_exception_from_current();
    return nullptr;
  }
}

}  // namespace tazmir::py
