// Row-major grids of 64-bit floats (images, gradients, tensor components, maps): owned and viewed.
#pragma once

#include <cstddef>
#include <vector>

#include "core/panic.hpp"

namespace tazmir {

struct ImageField {
  std::vector<double> data;  ///< row-major; value at (row r, column c) is data[r * width + c]
  std::size_t width = 0;     ///< number of columns
  std::size_t height = 0;    ///< number of rows

  ImageField() = default;

  /// Takes ownership of `data`; an internal failure unless data.size() == width * height.
  ImageField(std::vector<double> values, std::size_t columns, std::size_t rows,
             SourceLocation where = SourceLocation::current());

  /// width * height zeros; an impossible size is an internal failure.
  static ImageField zeros(std::size_t columns, std::size_t rows,
                          SourceLocation where = SourceLocation::current());

  double at(std::size_t row, std::size_t col) const { return data[row * width + col]; }
  double* row(std::size_t r) { return data.data() + r * width; }
  const double* row(std::size_t r) const { return data.data() + r * width; }
};

/// A read-only row-major grid: an ImageField's values or a block owned elsewhere.
struct FieldView {
  const double* data = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;

  FieldView() = default;
  FieldView(const double* values, std::size_t columns, std::size_t rows)
      : data(values), width(columns), height(rows) {}
  FieldView(const ImageField& field)  // NOLINT: every field can be viewed
      : data(field.data.data()), width(field.width), height(field.height) {}
  const double* row(std::size_t r) const { return data + r * width; }
};

}  // namespace tazmir
