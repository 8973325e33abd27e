// Landau-de Gennes free-energy coefficients estimated from measured nematic order.
#pragma once

#include <span>

namespace tazmir::theory {

/// Quadratic, cubic and quartic Landau coefficients and the elastic constant.
struct LdgParams {
  double a;
  double b;
  double c;
  double k_elastic;
};

/// Coefficients from per-cell order parameters S = |psi_2|: a = -2 <S^2>, b = 0, c = 1,
/// and k_elastic = |a| xi^2 with xi = `correlation_length` * `pixel_size` in micrometres.
/// An empty `s_values` gives all four 0.0.
LdgParams estimate_ldg_params(std::span<const double> s_values, double correlation_length,
                              double pixel_size);

}  // namespace tazmir::theory
