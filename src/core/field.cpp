// ImageField construction with its length invariant.
#include "core/field.hpp"

#include <string>

namespace tazmir {

ImageField::ImageField(std::vector<double> values, std::size_t columns, std::size_t rows,
                       SourceLocation where)
    : data(std::move(values)), width(columns), height(rows) {
  // The product wraps like the unsigned multiplication it is; only equality matters here.
  const std::size_t expected = columns * rows;
  if (data.size() != expected) {
    panic_assert_eq(std::to_string(data.size()), std::to_string(expected),
                    "data length must equal width * height", where);
  }
}

ImageField ImageField::zeros(std::size_t columns, std::size_t rows, SourceLocation where) {
  ImageField field;
  field.data = alloc_zeros(checked_area(columns, rows, where), where);
  field.width = columns;
  field.height = rows;
  return field;
}

}  // namespace tazmir
