// Python values in and out: argument kinds with their exact refusal messages, result builders.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/buffer.hpp"
#include "core/contour.hpp"
#include "python/errors.hpp"
#include "python/py_ref.hpp"

namespace tazmir::py {

// ---------------------------------------------------------------------------------------
// Arguments. Every function takes the parameter name and re-words a TypeError with it
// ("argument 'sigma': ..."); other exception classes pass unchanged. All throw PythonError.

double to_f64(PyObject* object, const char* name);
std::uint64_t to_u64(PyObject* object, const char* name);
std::uint32_t to_u32(PyObject* object, const char* name);
std::int32_t to_i32(PyObject* object, const char* name);

/// A borrowed, read-only 2-D NumPy array of any strides (float64 or int32).
template <class T>
class Array2D {
 public:
  std::size_t rows() const noexcept { return rows_; }
  std::size_t cols() const noexcept { return cols_; }
  /// Element (r, c) of the logical array; the caller keeps r < rows() and c < cols().
  T at(std::size_t r, std::size_t c) const noexcept {
    T value;
    std::memcpy(
        &value,
        base_ + static_cast<npy_intp_t>(r) * row_stride_ + static_cast<npy_intp_t>(c) * col_stride_,
        sizeof value);
    return value;
  }
  /// The values in logical row-major order (MemoryError when they cannot be held).
  std::vector<T> to_row_major() const;
  /// The array's own memory when it already is an aligned row-major block, else null.
  const T* row_major_block() const noexcept { return row_major_ ? reinterpret_cast<const T*>(base_) : nullptr; }

 private:
  using npy_intp_t = std::ptrdiff_t;
  template <class U>
  friend Array2D<U> to_array2d(PyObject*, const char*);
  Ref owner_;
  const char* base_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  npy_intp_t row_stride_ = 0;
  npy_intp_t col_stride_ = 0;
  bool row_major_ = false;
};

using Array2DF64 = Array2D<double>;
using Array2DI32 = Array2D<std::int32_t>;

template <class T>
Array2D<T> to_array2d(PyObject* object, const char* name);

inline Array2DF64 to_array2d_f64(PyObject* object, const char* name) {
  return to_array2d<double>(object, name);
}
inline Array2DI32 to_array2d_i32(PyObject* object, const char* name) {
  return to_array2d<std::int32_t>(object, name);
}

/// The (x, y) pair of every row, read through the strides so any layout gives the same
/// pairs; columns beyond the second are ignored. An array with rows but fewer than two
/// columns is the internal failure "ndarray: index out of bounds".
std::vector<Point> to_points(const Array2DF64& array);

/// A borrowed, read-only 1-D float64 NumPy array, read in place as one block.
class Array1DF64 {
 public:
  std::size_t size() const noexcept { return size_; }
  /// The values as a contiguous block; TypeError "The given array is not contiguous"
  /// for a strided array.
  std::span<const double> as_slice() const;

 private:
  friend Array1DF64 to_array1d_f64(PyObject*, const char*);
  Ref owner_;
  std::size_t size_ = 0;
  mutable std::vector<double> aligned_copy_;  // only for a misaligned buffer
};

Array1DF64 to_array1d_f64(PyObject* object, const char* name);

/// Any sequence but str, each item a float.
std::vector<double> to_f64_vec(PyObject* object, const char* name);

/// A sequence of length exactly 4, items read by index.
std::array<double, 4> to_f64_quad(PyObject* object, const char* name);

/// A sequence of 2-D float64 arrays.
std::vector<Array2DF64> to_array2d_f64_vec(PyObject* object, const char* name);

// The same conversions of a bound argument, named by its parameter.
inline double to_f64(Arg arg) { return to_f64(arg.object, arg.name); }
inline std::uint64_t to_u64(Arg arg) { return to_u64(arg.object, arg.name); }
inline std::uint32_t to_u32(Arg arg) { return to_u32(arg.object, arg.name); }
inline std::int32_t to_i32(Arg arg) { return to_i32(arg.object, arg.name); }
inline Array2DF64 to_array2d_f64(Arg arg) { return to_array2d<double>(arg.object, arg.name); }
inline Array2DI32 to_array2d_i32(Arg arg) { return to_array2d<std::int32_t>(arg.object, arg.name); }
inline Array1DF64 to_array1d_f64(Arg arg) { return to_array1d_f64(arg.object, arg.name); }
inline std::vector<double> to_f64_vec(Arg arg) { return to_f64_vec(arg.object, arg.name); }
inline std::array<double, 4> to_f64_quad(Arg arg) { return to_f64_quad(arg.object, arg.name); }
inline std::vector<Array2DF64> to_array2d_f64_vec(Arg arg) {
  return to_array2d_f64_vec(arg.object, arg.name);
}

namespace detail {
template <class T>
T convert_scalar(PyObject* object, const char* name) {
  if constexpr (std::is_same_v<T, double>)
    return to_f64(object, name);
  else if constexpr (std::is_same_v<T, std::uint64_t>)
    return to_u64(object, name);
  else if constexpr (std::is_same_v<T, std::uint32_t>)
    return to_u32(object, name);
  else
    return to_i32(object, name);
}
void check_sequence(PyObject* object, bool refuse_str, const char* name);
Ref iterate(PyObject* object, const char* name);
Ref next_item(PyObject* iterator, const char* name);  // null at the end
void check_tuple(PyObject* item, std::size_t length, const char* name);
}  // namespace detail

namespace detail {
template <class... T, std::size_t... I>
std::tuple<T...> convert_tuple(PyObject* item, const char* name, std::index_sequence<I...>) {
  // Braced initialisation converts the elements strictly left to right.
  return std::tuple<T...>{convert_scalar<T>(PyTuple_GET_ITEM(item, I), name)...};
}
}  // namespace detail

/// A sequence of tuples of exactly sizeof...(T) elements, each converted by its kind.
template <class... T>
std::vector<std::tuple<T...>> to_tuple_vec(PyObject* object, const char* name) {
  detail::check_sequence(object, true, name);
  Ref iterator = detail::iterate(object, name);
  std::vector<std::tuple<T...>> values;
  while (Ref item = detail::next_item(iterator.get(), name)) {
    detail::check_tuple(item.get(), sizeof...(T), name);
    values.push_back(
        detail::convert_tuple<T...>(item.get(), name, std::index_sequence_for<T...>{}));
  }
  return values;
}
template <class... T>
std::vector<std::tuple<T...>> to_tuple_vec(Arg arg) {
  return to_tuple_vec<T...>(arg.object, arg.name);
}

// ---------------------------------------------------------------------------------------
// Results: new objects, built on the calling thread after the computation.

Ref new_float(double value);
Ref new_int(std::uint64_t value);
Ref new_int(std::int64_t value);
Ref new_bool(bool value);
Ref new_str(std::string_view text);
Ref new_float_list(std::span<const double> values);
/// A new C-contiguous float64 array of shape (n,).
Ref new_array1d(std::span<const double> values);
/// A new C-contiguous float64 array of shape (rows, cols) from row-major values.
Ref new_array2d(const double* values, std::size_t rows, std::size_t cols);
/// A new (rows, cols) float64 array that takes over `values` without copying them; an image
/// without rows gives shape (0, 0).
Ref adopt_array2d(Buffer values, std::size_t rows, std::size_t cols);

/// Builds a dict by successive insertions (its iteration order is the insertion order).
class DictBuilder {
 public:
  DictBuilder();
  void set(const char* key, Ref value);
  Ref finish() { return std::move(dict_); }

 private:
  Ref dict_;
};

/// Builds a list by appending items in order.
class ListBuilder {
 public:
  ListBuilder();
  void append(Ref item);
  Ref finish() { return std::move(list_); }

 private:
  Ref list_;
};

}  // namespace tazmir::py
