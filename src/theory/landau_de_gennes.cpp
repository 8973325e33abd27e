// Landau-de Gennes coefficients: the quadratic term carries <S^2>, xi fixes the elastic constant.
#include "theory/landau_de_gennes.hpp"

#include <cmath>

namespace tazmir::theory {

LdgParams estimate_ldg_params(std::span<const double> s_values, double correlation_length,
                              double pixel_size) {
  if (s_values.empty()) return {0.0, 0.0, 0.0, 0.0};
  // Sequential sum in index order from -0.0 (a square is never -0.0, so any value resets it).
  double sum_sq = -0.0;
  for (const double s : s_values) sum_sq += s * s;
  const double mean_sq = sum_sq / static_cast<double>(s_values.size());
  const double a = mean_sq * -2.0;
  const double xi_um = correlation_length * pixel_size;
  return {a, 0.0, 1.0, std::fabs(a) * (xi_um * xi_um)};
}

}  // namespace tazmir::theory
