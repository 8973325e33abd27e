// Argument binding and the mapping of failures onto Python exceptions.
#include "python/frame.hpp"

#include <new>
#include <string>

#include "core/panic.hpp"
#include "python/errors.hpp"

namespace tazmir::py {

namespace {

bool fail(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return false;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string join_missing(const std::string* names, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
    text += "'" + names[i] + "'";
  }
  return text;
}

}  // namespace

bool bind_arguments(const FunctionEntry& fn, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
  const std::size_t n = fn.params.size();
  const std::string function = std::string(fn.name) + "()";
  const auto given = static_cast<std::size_t>(nargs);
  if (given > n) {
    return fail(function + " takes " + std::to_string(n) + " positional arguments but " +
                std::to_string(given) + (given == 1 ? " was" : " were") + " given");
  }
  for (std::size_t i = 0; i < n; ++i) slots[i] = i < given ? args[i] : nullptr;

  const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    std::size_t slot = n;
    for (std::size_t i = 0; i < n; ++i) {
      if (PyUnicode_CompareWithASCIIString(key, fn.params[i]) == 0) {
        slot = i;
        break;
      }
    }
    if (slot == n) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", function.c_str(),
                   key);
      return false;
    }
    if (slots[slot] != nullptr) {
      return fail(function + " got multiple values for argument '" + fn.params[slot] + "'");
    }
    slots[slot] = args[nargs + k];
  }

  std::string missing[max_params];
  std::size_t count = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (slots[i] == nullptr) missing[count++] = fn.params[i];
  }
  if (count != 0) {
    return fail(function + " missing " + std::to_string(count) + " required positional " +
                (count == 1 ? "argument" : "arguments") + ": " + join_missing(missing, count));
  }
  return true;
}

void set_exception_from_current() noexcept {
  try {
    throw;
  } catch (const PythonError&) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "error return without exception set");
    }
  } catch (const Panic& failure) {
    set_panic_exception(failure.message());  // its diagnostic was written when raised
  } catch (const std::bad_alloc&) {
    const char* text = "memory allocation failed";
    write_panic_diagnostic(text, SourceLocation::current());
    set_panic_exception(text);
  } catch (const std::exception& failure) {
    write_panic_diagnostic(failure.what(), SourceLocation::current());
    set_panic_exception(failure.what());
  } catch (...) {
    const char* text = "internal failure without a message";
    write_panic_diagnostic(text, SourceLocation::current());
    set_panic_exception(text);
  }
}

PyObject* call_function(const FunctionEntry& fn, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  PyObject* slots[max_params];
  if (!bind_arguments(fn, args, nargs, kwnames, slots)) return nullptr;
  return run_frame([&] { return fn.body(Args(slots, fn.params)); });
}

}  // namespace tazmir::py
