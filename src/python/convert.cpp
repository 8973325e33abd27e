// Argument conversions and result builders.
#include "python/convert.hpp"

#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/panic.hpp"
#include "python/numpy_api.hpp"

namespace tazmir::py {

namespace {

// Runs one conversion step; a TypeError it raises is re-worded with the parameter name.
[[noreturn]] void fail_argument(const char* name) {
  reword_argument_error(name);
  throw PythonError{};
}

std::string type_qualname(PyObject* object) {
  Ref qualname = Ref::steal(PyObject_GetAttrString(
      reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
  if (qualname && PyUnicode_Check(qualname.get())) {
    if (const char* text = PyUnicode_AsUTF8(qualname.get())) return text;
  }
  PyErr_Clear();
  return Py_TYPE(object)->tp_name;
}

[[noreturn]] void refuse_conversion(PyObject* object, const char* target, const char* name) {
  const std::string message =
      "'" + type_qualname(object) + "' object cannot be converted to '" + target + "'";
  PyErr_SetString(PyExc_TypeError, message.c_str());
  fail_argument(name);
}

// The interpreter's integer-index protocol, then the C long range (as for every narrow kind).
template <class T>
T to_narrow_int(PyObject* object, const char* name) {
  Ref index = Ref::steal(PyNumber_Index(object));
  if (!index) fail_argument(name);
  const long value = PyLong_AsLong(index.get());
  if (value == -1 && PyErr_Occurred()) fail_argument(name);
  if (value < static_cast<long>(std::numeric_limits<T>::min()) ||
      value > static_cast<long>(std::numeric_limits<T>::max())) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    fail_argument(name);
  }
  return static_cast<T>(value);
}

PyArrayObject* accept_array(PyObject* object, int ndim, int type_number, const char* name) {
  if (!PyArray_Check(object)) refuse_conversion(object, "PyArray<T, D>", name);
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_NDIM(array) != ndim) refuse_conversion(object, "PyArray<T, D>", name);
  PyArray_Descr* wanted = PyArray_DescrFromType(type_number);
  const bool same = PyArray_EquivTypes(PyArray_DESCR(array), wanted) != 0;
  Py_DECREF(wanted);
  if (!same) refuse_conversion(object, "PyArray<T, D>", name);
  return array;
}

template <class T>
constexpr int numpy_type_number() {
  return std::is_same_v<T, double> ? NPY_FLOAT64 : NPY_INT32;
}

}  // namespace

double to_f64(PyObject* object, const char* name) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) fail_argument(name);
  return value;
}

std::uint64_t to_u64(PyObject* object, const char* name) {
  Ref index = Ref::steal(PyNumber_Index(object));
  if (!index) fail_argument(name);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) fail_argument(name);
  return value;
}

std::uint32_t to_u32(PyObject* object, const char* name) {
  return to_narrow_int<std::uint32_t>(object, name);
}

std::int32_t to_i32(PyObject* object, const char* name) {
  return to_narrow_int<std::int32_t>(object, name);
}

template <class T>
Array2D<T> to_array2d(PyObject* object, const char* name) {
  PyArrayObject* array = accept_array(object, 2, numpy_type_number<T>(), name);
  Array2D<T> view;
  view.owner_ = Ref::borrow(object);
  view.base_ = static_cast<const char*>(PyArray_DATA(array));
  view.rows_ = static_cast<std::size_t>(PyArray_DIM(array, 0));
  view.cols_ = static_cast<std::size_t>(PyArray_DIM(array, 1));
  view.row_stride_ = PyArray_STRIDE(array, 0);
  view.col_stride_ = PyArray_STRIDE(array, 1);
  view.row_major_ = PyArray_IS_C_CONTIGUOUS(array) && PyArray_ISALIGNED(array);
  return view;
}

template Array2D<double> to_array2d<double>(PyObject*, const char*);
template Array2D<std::int32_t> to_array2d<std::int32_t>(PyObject*, const char*);

template <class T>
std::vector<T> Array2D<T>::to_row_major() const {
  std::vector<T> values;
  try {
    values.resize(rows_ * cols_);  // NumPy guarantees the element count fits
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    throw PythonError{};
  } catch (const std::length_error&) {
    PyErr_NoMemory();
    throw PythonError{};
  }
  T* out = values.data();
  for (std::size_t r = 0; r < rows_; ++r) {
    for (std::size_t c = 0; c < cols_; ++c) *out++ = at(r, c);
  }
  return values;
}

template class Array2D<double>;
template class Array2D<std::int32_t>;

std::vector<Point> to_points(const Array2DF64& array) {
  const std::size_t rows = array.rows();
  // An array without a second column fails on its first row, before its rows are counted.
  if (rows != 0 && array.cols() < 2) panic("ndarray: index out of bounds");
  std::vector<Point> points(rows);
  for (std::size_t r = 0; r < rows; ++r) points[r] = {array.at(r, 0), array.at(r, 1)};
  return points;
}

Array1DF64 to_array1d_f64(PyObject* object, const char* name) {
  PyArrayObject* array = accept_array(object, 1, NPY_FLOAT64, name);
  Array1DF64 view;
  view.owner_ = Ref::borrow(object);
  view.size_ = static_cast<std::size_t>(PyArray_DIM(array, 0));
  return view;
}

std::span<const double> Array1DF64::as_slice() const {
  auto* array = reinterpret_cast<PyArrayObject*>(owner_.get());
  const bool contiguous = size_ <= 1 || PyArray_STRIDE(array, 0) == sizeof(double);
  if (!contiguous) raise(PyExc_TypeError, "The given array is not contiguous");
  const auto* data = static_cast<const double*>(PyArray_DATA(array));
  if (size_ != 0 && !PyArray_ISALIGNED(array)) {
    aligned_copy_.resize(size_);
    std::memcpy(aligned_copy_.data(), PyArray_DATA(array), size_ * sizeof(double));
    return {aligned_copy_.data(), size_};
  }
  return {data, size_};
}

namespace detail {

void check_sequence(PyObject* object, bool refuse_str, const char* name) {
  if (refuse_str && PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    fail_argument(name);
  }
  if (!PySequence_Check(object)) refuse_conversion(object, "Sequence", name);
}

Ref iterate(PyObject* object, const char* name) {
  Ref iterator = Ref::steal(PyObject_GetIter(object));
  if (!iterator) fail_argument(name);
  return iterator;
}

Ref next_item(PyObject* iterator, const char* name) {
  Ref item = Ref::steal(PyIter_Next(iterator));
  if (!item && PyErr_Occurred()) fail_argument(name);
  return item;
}

void check_tuple(PyObject* item, std::size_t length, const char* name) {
  if (!PyTuple_Check(item)) refuse_conversion(item, "PyTuple", name);
  const auto got = static_cast<std::size_t>(PyTuple_GET_SIZE(item));
  if (got != length) {
    const std::string message = "expected tuple of length " + std::to_string(length) +
                                ", but got tuple of length " + std::to_string(got);
    PyErr_SetString(PyExc_ValueError, message.c_str());
    fail_argument(name);
  }
}

}  // namespace detail

std::vector<double> to_f64_vec(PyObject* object, const char* name) {
  detail::check_sequence(object, true, name);
  Ref iterator = detail::iterate(object, name);
  std::vector<double> values;
  while (Ref item = detail::next_item(iterator.get(), name)) {
    values.push_back(to_f64(item.get(), name));
  }
  return values;
}

std::array<double, 4> to_f64_quad(PyObject* object, const char* name) {
  detail::check_sequence(object, false, name);
  const Py_ssize_t length = PySequence_Size(object);
  if (length == -1) fail_argument(name);
  if (length != 4) {
    const std::string message =
        "expected a sequence of length 4 (got " + std::to_string(length) + ")";
    PyErr_SetString(PyExc_ValueError, message.c_str());
    fail_argument(name);
  }
  std::array<double, 4> values{};
  for (Py_ssize_t i = 0; i < 4; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(object, i));
    if (!item) fail_argument(name);
    values[static_cast<std::size_t>(i)] = to_f64(item.get(), name);
  }
  return values;
}

std::vector<Array2DF64> to_array2d_f64_vec(PyObject* object, const char* name) {
  detail::check_sequence(object, true, name);
  Ref iterator = detail::iterate(object, name);
  std::vector<Array2DF64> values;
  while (Ref item = detail::next_item(iterator.get(), name)) {
    values.push_back(to_array2d_f64(item.get(), name));
  }
  return values;
}

Ref new_float(double value) { return check(PyFloat_FromDouble(value)); }
Ref new_int(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)); }
Ref new_int(std::int64_t value) { return check(PyLong_FromLongLong(value)); }
Ref new_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

Ref new_str(std::string_view text) {
  return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref new_float_list(std::span<const double> values) {
  Ref list = check(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), new_float(values[i]).release());
  }
  return list;
}

Ref new_array1d(std::span<const double> values) {
  npy_intp dims[1] = {static_cast<npy_intp>(values.size())};
  Ref array = check(PyArray_SimpleNew(1, dims, NPY_FLOAT64));
  if (!values.empty()) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), values.data(),
                values.size() * sizeof(double));
  }
  return array;
}

Ref new_array2d(const double* values, std::size_t rows, std::size_t cols) {
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  Ref array = check(PyArray_SimpleNew(2, dims, NPY_FLOAT64));
  if (rows * cols != 0) {
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), values,
                rows * cols * sizeof(double));
  }
  return array;
}

namespace {

constexpr const char* buffer_capsule_name = "tazmir.orient.buffer";

void free_buffer_capsule(PyObject* capsule) {
  std::free(PyCapsule_GetPointer(capsule, buffer_capsule_name));
}

}  // namespace

Ref adopt_array2d(Buffer values, std::size_t rows, std::size_t cols) {
  if (rows == 0 || cols == 0 || values.data() == nullptr) {
    return new_array2d(nullptr, rows, rows == 0 ? 0 : cols);
  }
  npy_intp dims[2] = {static_cast<npy_intp>(rows), static_cast<npy_intp>(cols)};
  Ref array = check(PyArray_SimpleNewFromData(2, dims, NPY_FLOAT64, values.data()));
  Ref capsule = check(PyCapsule_New(values.data(), buffer_capsule_name, free_buffer_capsule));
  values.release();  // the capsule frees it from now on
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), capsule.release()) !=
      0) {
    throw PythonError{};
  }
  return array;
}

DictBuilder::DictBuilder() : dict_(check(PyDict_New())) {}

namespace {

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

// Result dicts reuse a handful of keys millions of times (one dict per persistence pair):
// each key text becomes one interned str for the life of the process, hashed once.
PyObject* interned_key(const char* key) {
  static std::unordered_map<std::string, PyObject*, KeyHash, std::equal_to<>> keys;  // GIL-guarded
  const std::string_view text(key);
  if (const auto found = keys.find(text); found != keys.end()) return found->second;
  PyObject* interned = PyUnicode_InternFromString(key);
  if (interned == nullptr) throw PythonError{};
  keys.emplace(std::string(text), interned);
  return interned;
}

}  // namespace

void DictBuilder::set(const char* key, Ref value) {
  if (PyDict_SetItem(dict_.get(), interned_key(key), value.get()) != 0) throw PythonError{};
}

ListBuilder::ListBuilder() : list_(check(PyList_New(0))) {}

void ListBuilder::append(Ref item) {
  if (PyList_Append(list_.get(), item.get()) != 0) throw PythonError{};
}

}  // namespace tazmir::py
