// Turning computation errors and internal failures into Python exceptions.
#pragma once

#include <string_view>

#include "core/error.hpp"
#include "python/py_ref.hpp"

namespace tazmir::py {

/// Sets `type` with `message` as the current exception and throws PythonError.
[[noreturn]] void raise(PyObject* type, std::string_view message);

/// Raises a TazmirError as ValueError carrying its Display text.
[[noreturn]] void raise_error(const TazmirError& error);

/// The value of `result`, or its error raised as ValueError.
template <class T>
T value_or_raise(Result<T>&& result) {
  if (!result.ok()) raise_error(result.error());
  return std::move(result).value();
}

/// The PanicException class (directly below BaseException), created on first use.
PyObject* panic_exception_type();

/// Sets PanicException(message) as the current exception. Never throws: a failure here
/// aborts the process, since nothing could report it.
void set_panic_exception(std::string_view message) noexcept;

/// If the current exception is exactly a TypeError, replaces it by
/// TypeError("argument '{name}': {message}"), keeping its __cause__.
void reword_argument_error(const char* name) noexcept;

}  // namespace tazmir::py
