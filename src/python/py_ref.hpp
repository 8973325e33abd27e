// Ref: the one owner of Python references in the binding layer; PythonError for unwinding.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tazmir::py {

/// Thrown once a Python exception has been set; the module frame turns it into a null return.
struct PythonError {};

/// One bound argument of a module function (borrowed) with its parameter name, which
/// conversion messages quote.
struct Arg {
  PyObject* object;
  const char* name;
};

/// Owns one strong reference (or none). Copy is deleted; move transfers ownership.
class Ref {
 public:
  Ref() noexcept = default;
  /// Takes over a new reference (which may be null).
  static Ref steal(PyObject* object) noexcept { return Ref(object); }
  /// Adds a reference of its own to a borrowed one.
  static Ref borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  /// Gives up ownership: the caller now owns the reference.
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit Ref(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

/// Takes over a new reference from a C API call; a null result means an exception is set.
inline Ref check(PyObject* object) {
  if (object == nullptr) throw PythonError{};
  return Ref::steal(object);
}

}  // namespace tazmir::py
