// Row kernels of the separable Gaussian blur, three fields at a time.
#pragma once

#include <cstddef>

namespace tazmir::orient {

/// Three rows processed together: one kernel read per term serves all three fields.
struct RowTriple {
  const double* in[3];
  double* out[3];
};

/// Horizontal pass over one row of `width` values with kernel g of 2R + 1 taps:
/// out_i[c] = sum over k = 0..2R of g[k] * in_i[c + k - R], only terms whose column lies in
/// the row, added in increasing k starting from 0.0. Columns at least R from both ends are
/// summed without range checks, several neighbouring outputs at once, each in the same order.
void blur_row_horizontal(const RowTriple& rows, std::size_t width, const double* g,
                         std::size_t radius);

/// The input rows of one vertical output row, for three fields: in[i][j] is the j-th row of
/// field i that lies inside the image.
struct ColumnTriple {
  const double* const* in[3];
  double* out[3];
};

/// Vertical pass of one field for `width` columns of one output row, starting at column
/// `first_col`: out[c] = 0.0 + sum over j < count of g[j] * in[j][first_col + c], added in
/// increasing j (g points at the weight of the first row).
void blur_column_vertical(const double* const* in, double* out, std::size_t first_col,
                          std::size_t width, const double* g, std::size_t count);

/// Vertical pass for `width` columns of one output row, starting at column `first_col`:
/// out_i[c] = 0.0 + sum over j < count of g[j] * in_i[j][first_col + c], added in
/// increasing j (g points at the weight of the first row).
void blur_rows_vertical(const ColumnTriple& rows, std::size_t first_col, std::size_t width,
                        const double* g, std::size_t count);

/// Restricts the row kernels to the baseline build (tests compare it with the AVX2 build).
void use_portable_blur_for_testing(bool portable);

}  // namespace tazmir::orient
