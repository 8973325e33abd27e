// Topological defects of a director-angle grid, found by the holonomy scan.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tazmir::topo {

/// One reported plaquette as a defect.
struct Defect {
  std::array<double, 2> position{};  ///< (row + 0.5, col + 0.5), the plaquette's centre
  double charge = 0.0;               ///< +1/k or -1/k
  double angle = 0.0;                ///< holonomy angle in radians
};

/// Finds the plaquettes of the nx-by-ny grid `thetas` (point (i, j) at i * ny + j) around
/// which the lifted director phi = (theta * k) * 0.5 makes an odd number of half-turns,
/// with holonomy angle strictly above `threshold`, in scan order (rows, then columns).
///
/// The charge sign is the sense of the winding: +1/k when phi turns by +pi going
/// (i, j) -> (i, j+1) -> (i+1, j+1) -> (i+1, j), that is from the column axis towards the
/// row axis, and -1/k when it turns by -pi.
std::vector<Defect> detect_defects(std::span<const double> thetas, std::size_t nx,
                                   std::size_t ny, std::uint32_t k, double threshold);

}  // namespace tazmir::topo
