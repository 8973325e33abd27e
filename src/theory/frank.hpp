// Frank elastic energy of a 2-D director field: splay, bend and their ratio.
#pragma once

#include <cstddef>
#include <span>

namespace tazmir::theory {

/// Splay and bend integrated over the interior of the grid, and splay / bend.
struct FrankEnergyResult {
  double splay;
  double bend;
  double ratio;
};

/// `splay` / `bend` when `bend` is above 1e-15, else +inf (also for a NaN `bend`).
double splay_bend_ratio(double splay, double bend);

/// Frank splay and bend energies of the director n = (cos theta, sin theta) read as `ny`
/// rows of `nx` angles (row j, column i at j * nx + i), by central differences over the
/// interior points, each squared derivative weighted by the cell area dx * dx.
/// A `thetas` too short for the interior reads ends in "index out of bounds" naming the
/// first read past its end.
FrankEnergyResult frank_energy(std::span<const double> thetas, std::size_t nx, std::size_t ny,
                               double dx);

}  // namespace tazmir::theory
