// Module creation: the binding files' function tables registered in order, the
// one-interpreter rule.
#define TAZMIR_IMPORT_ARRAY
#include "python/numpy_api.hpp"  // first: Python.h precedes the standard headers

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "core/panic.hpp"
#include "python/errors.hpp"
#include "python/frame.hpp"

namespace tazmir::py {

namespace {

// The binding files' tables joined in registration order, which is the order of __all__.
constexpr std::size_t function_count = 14;
const FunctionEntry* registry[function_count] = {};
// The interpreter keeps pointers into these for the life of the process.
std::array<PyMethodDef, function_count> method_defs{};
std::array<std::string, function_count> docstrings;

template <std::size_t I>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return call_function(*registry[I], args, nargs, kwnames);
}

template <std::size_t... I>
std::array<PyCFunction, sizeof...(I)> make_entries(std::index_sequence<I...>) {
  return {reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<I>))...};
}

const std::array<PyCFunction, function_count> entries =
    make_entries(std::make_index_sequence<function_count>{});

// "name(p1, p2)\n--\n\n" then the description: the interpreter reads the text signature
// from the docstring's first line.
std::string docstring(const FunctionEntry& fn) {
  std::string text = std::string(fn.name) + "(";
  for (std::size_t i = 0; i < fn.params.size(); ++i) {
    if (i > 0) text += ", ";
    text += fn.params[i];
  }
  return text + ")\n--\n\n" + fn.description;
}

void fill_method_defs() {
  std::size_t next = 0;
  for (const std::span<const FunctionEntry> table :
       {shape_functions, orient_functions, topo_functions, stats_functions, theory_functions}) {
    for (const FunctionEntry& fn : table) {
      if (next == function_count) panic("more module functions than function_count");
      registry[next] = &fn;
      docstrings[next] = docstring(fn);
      method_defs[next] = PyMethodDef{fn.name, entries[next], METH_FASTCALL | METH_KEYWORDS,
                                      docstrings[next].c_str()};
      ++next;
    }
  }
  if (next != function_count) panic("fewer module functions than function_count");
}

Ref register_functions(Ref module) {
  Ref module_name = check(PyUnicode_FromString("_native"));
  for (PyMethodDef& def : method_defs) {
    Ref function = check(PyCMethod_New(&def, module.get(), module_name.get(), nullptr));
    Ref name = check(PyObject_GetAttrString(function.get(), "__name__"));
    Ref all = Ref::steal(PyObject_GetAttrString(module.get(), "__all__"));
    if (!all) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
      PyErr_Clear();
      all = check(PyList_New(0));
      if (PyObject_SetAttrString(module.get(), "__all__", all.get()) != 0) throw PythonError{};
    }
    if (!PyList_Check(all.get()) || PyList_Append(all.get(), name.get()) != 0) {
      PyErr_Clear();
      panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module.get(), name.get(), function.get()) != 0) throw PythonError{};
  }
  // Callers catch internal failures by name; the class is not part of __all__.
  PyObject* panic_type = panic_exception_type();
  if (panic_type == nullptr) throw PythonError{};
  Py_INCREF(panic_type);
  if (PyModule_AddObject(module.get(), "PanicException", panic_type) != 0) {
    Py_DECREF(panic_type);
    throw PythonError{};
  }
  return module;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "tazmir native extension module.",
    0,        // no per-module state
    nullptr,  // functions are registered by the initializer, in table order
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> first_interpreter{-1};
PyObject* module_cell = nullptr;  // filled once, under the interpreter lock

Ref initialize() {
  PyInterpreterState* state = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(state);
  if (id == -1 && PyErr_Occurred()) throw PythonError{};
  std::int64_t expected = -1;
  if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    raise(PyExc_ImportError,
          "_native does not support sub-interpreters: it was already initialized by another "
          "interpreter in this process");
  }
  if (module_cell != nullptr) return Ref::borrow(module_cell);
  if (_import_array() < 0) throw PythonError{};
  fill_method_defs();
  Ref module = register_functions(check(PyModule_Create2(&module_def, PYTHON_API_VERSION)));
  module_cell = Ref::borrow(module.get()).release();
  return module;
}

}  // namespace

}  // namespace tazmir::py

PyMODINIT_FUNC PyInit__native() {
  return tazmir::py::run_frame([] { return tazmir::py::initialize(); });
}
