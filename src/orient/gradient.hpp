// Scharr derivatives of an image along its columns (x) and rows (y).
#pragma once

#include <cstddef>
#include <utility>

#include "core/field.hpp"

namespace tazmir::orient {

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
