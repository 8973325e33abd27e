// The Poincare-Hopf check: the defect charges should add up to the Euler characteristic.
#pragma once

#include <cstdint>
#include <span>

#include "topo/defects.hpp"

namespace tazmir::topo {

struct PoincareHopfResult {
  double charge_sum = -0.0;
  std::int32_t euler_characteristic = 0;
  bool is_valid = false;
};

/// Sums the charges from -0.0 in order and reports whether tolerance > |sum - chi| (strictly;
/// a NaN on either side gives false). Never fails.
PoincareHopfResult validate_poincare_hopf(std::span<const Defect> defects,
                                          std::int32_t euler_characteristic, double tolerance);

}  // namespace tazmir::topo
