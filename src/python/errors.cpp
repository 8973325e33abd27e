// Exception classes and messages of the module frame.
#include "python/errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tazmir::py {

void raise(PyObject* type, std::string_view message) {
  Ref text = Ref::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  throw PythonError{};
}

void raise_error(const TazmirError& error) { raise(PyExc_ValueError, error.display()); }

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;  // kept for the life of the process
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "_native.PanicException",
        "An internal failure of the tazmir native core (a broken invariant).\n\n"
        "Derives from BaseException, not Exception, so that a bare `except Exception`\n"
        "does not swallow it.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

void set_panic_exception(std::string_view message) noexcept {
  try {
    PyObject* type = panic_exception_type();
    if (type == nullptr) throw PythonError{};
    Ref text = check(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    Ref args = check(PyTuple_Pack(1, text.get()));
    PyErr_SetObject(type, args.get());
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

void reword_argument_error(const char* name) noexcept {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type);
  Ref owned_value = Ref::steal(value);
  Ref owned_traceback = Ref::steal(traceback);
  if (type != PyExc_TypeError || value == nullptr) {  // a subclass passes unchanged
    PyErr_Restore(owned_type.release(), owned_value.release(), owned_traceback.release());
    return;
  }
  Ref message = Ref::steal(PyObject_Str(value));
  if (!message) return;
  Ref reworded = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
  if (!reworded) return;
  Ref exception = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, reworded.get()));
  if (!exception) return;
  if (PyObject* cause = PyException_GetCause(value)) {
    PyException_SetCause(exception.get(), cause);  // steals the new reference
  }
  PyErr_SetObject(PyExc_TypeError, exception.get());
}

}  // namespace tazmir::py
