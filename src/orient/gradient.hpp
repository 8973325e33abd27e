// Scharr derivatives of an image along its columns (x) and rows (y).
#pragma once

#include <cstddef>
#include <utility>

#include "core/field.hpp"

namespace tazmir::orient {

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

/// Rows are handed to the pool in chunks of the image width; a width of zero cannot be
/// chunked, which is the internal failure "chunk_size must not be zero".
void check_row_chunks(std::size_t width, SourceLocation where = SourceLocation::current());

/// Writes row `r` of gx and gy (width values each): the 3x3 Scharr sums times 1/32 at
/// interior pixels, 0.0 on the image border.
void scharr_row(const FieldView& field, std::size_t r, double* gx, double* gy);

/// (gx, gy): derivative along increasing column and along increasing row, each the size of
/// `field`, with 0.0 on the border. Width 0 is an internal failure.
std::pair<ImageField, ImageField> scharr_gradient(const ImageField& field);

}  // namespace tazmir::orient
