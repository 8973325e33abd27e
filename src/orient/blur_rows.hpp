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

/// Vertical pass for one output row: out_i[c] = 0.0 + sum over j < count of
/// g[j] * in_i[j * stride + c], added in increasing j. The caller picks the rows that lie in
/// the image (in_i points at the first, g at its weight).
void blur_rows_vertical(const RowTriple& rows, std::size_t width, std::size_t stride,
                        const double* g, std::size_t count);

/// Restricts the row kernels to the SSE2 path (tests compare it with the AVX2 path).
void use_portable_blur_for_testing(bool portable);

}  // namespace tazmir::orient
