// Row steps shared by the structure-tensor forms.
#include "orient/tensor_rows.hpp"

#include "orient/blur_rows.hpp"
#include "orient/eigen_rows.hpp"

namespace tazmir::orient {

void product_row(const FieldView& field, std::size_t r, double* gx, double* gy,
                 double* const products[3]) {
  scharr_row(field, r, gx, gy);
  for (std::size_t c = 0; c < field.width; ++c) {
    products[0][c] = gx[c] * gx[c];
    products[1][c] = gx[c] * gy[c];
    products[2][c] = gy[c] * gy[c];
  }
}

void across_row(const FieldView& field, std::size_t r, const std::vector<double>& g,
                std::size_t radius, double* scratch, double* const out[3]) {
  const std::size_t w = field.width;
  double* gx = scratch;
  double* gy = gx + w;
  double* const products[3] = {gy + w, gy + 2 * w, gy + 3 * w};
  product_row(field, r, gx, gy, products);
  blur_row_horizontal(RowTriple{{products[0], products[1], products[2]}, {out[0], out[1], out[2]}},
                      w, g.data(), radius);
}

void eigen_row(const double* sxx, const double* sxy, const double* syy, std::size_t width,
               std::size_t offset, const TensorTargets& targets) {
  tensor_eigen_row(sxx, sxy, syy, width, targets.theta + offset, targets.coherence + offset,
                   targets.lambda1 == nullptr ? nullptr : targets.lambda1 + offset,
                   targets.lambda2 == nullptr ? nullptr : targets.lambda2 + offset);
}

}  // namespace tazmir::orient
