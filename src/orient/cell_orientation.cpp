// Moment ellipse of a pixel set: centroid, population second moments, closed-form axes.
#include "orient/cell_orientation.hpp"

#include <cmath>
#include <numbers>

namespace tazmir::orient {

std::optional<NuclearEllipse> ellipse_from_moments(const MomentSums& sums) {
  if (sums.count < 3) return std::nullopt;
  const auto n = static_cast<double>(sums.count);
  const double mu_rr = sums.sum_rr / n;
  const double mu_cc = sums.sum_cc / n;
  const double mu_rc = sums.sum_rc / n;
  const double t = mu_rr + mu_cc;
  const double d = mu_rr - mu_cc;
  const double s = std::sqrt(4.0 * mu_rc * mu_rc + d * d);
  const double lambda1 = (t + s) / 2.0;
  const double lambda2 = (t - s) / 2.0;
  const double lambda_max = lambda1 >= lambda2 ? lambda1 : lambda2;
  const double lambda_min = lambda1 >= lambda2 ? lambda2 : lambda1;
  if (lambda_min < 1e-15) return std::nullopt;
  double angle = 0.5 * std::atan2(2.0 * mu_rc, mu_rr - mu_cc);
  if (angle < 0.0) angle = angle + std::numbers::pi;
  if (angle >= std::numbers::pi) angle = angle - std::numbers::pi;
  const double semi_major = 2.0 * std::sqrt(lambda_max);
  const double semi_minor = 2.0 * std::sqrt(lambda_min);
  return NuclearEllipse{semi_major / semi_minor, angle, semi_major, semi_minor,
                        {sums.mean_row, sums.mean_col}};
}

}  // namespace tazmir::orient
