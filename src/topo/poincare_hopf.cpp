// The Poincare-Hopf check of a set of defect charges.
#include "topo/poincare_hopf.hpp"

#include <cmath>

namespace tazmir::topo {

PoincareHopfResult validate_poincare_hopf(std::span<const Defect> defects,
                                          std::int32_t euler_characteristic, double tolerance) {
  double sum = -0.0;  // an empty set of charges sums to -0.0
  for (const Defect& defect : defects) sum += defect.charge;
  const double deviation = std::fabs(sum - static_cast<double>(euler_characteristic));
  return PoincareHopfResult{sum, euler_characteristic, tolerance > deviation};
}

}  // namespace tazmir::topo
