// The call frame of every module function: argument binding, body, exception mapping.
#pragma once

#include <cstddef>
#include <span>

#include "python/py_ref.hpp"

namespace tazmir::py {

/// The most parameters a module function has: the size of the argument buffer of a call.
inline constexpr std::size_t max_params = 8;

/// The bound arguments of one call, in parameter order.
class Args {
 public:
  Args(PyObject* const* values, std::span<const char* const> names) noexcept
      : values_(values), names_(names) {}
  Arg operator[](std::size_t i) const noexcept { return {values_[i], names_[i]}; }

 private:
  PyObject* const* values_;
  std::span<const char* const> names_;
};

/// A body receives its bound arguments and returns the result.
using Body = Ref (*)(const Args& args);

/// One module function: its name, parameters, description (the docstring after the text
/// signature, which is made from the name and parameters) and body.
struct FunctionEntry {
  const char* name;
  std::span<const char* const> params;
  const char* description;
  Body body;
};

/// Declares a module function; its parameters must fit the argument buffer.
template <std::size_t N>
constexpr FunctionEntry define_function(const char* name, const char* const (&params)[N],
                                        const char* description, Body body) {
  static_assert(N <= max_params, "raise max_params to the largest parameter count");
  return {name, params, description, body};
}

/// The function tables of the binding files, one per subsystem (py_*.cpp); module.cpp
/// registers them in this order, which is the order of __all__.
extern const std::span<const FunctionEntry> shape_functions;
extern const std::span<const FunctionEntry> orient_functions;
extern const std::span<const FunctionEntry> topo_functions;
extern const std::span<const FunctionEntry> stats_functions;
extern const std::span<const FunctionEntry> theory_functions;

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
