// Pair sums of Ripley's K with the translation edge correction, found in a grid of cells.
#pragma once

#include <cstddef>

namespace tazmir::stats {

/// For every unordered pair i < j of the n points (x, y), measured from the window's corner
/// in a window of `width` x `height`, at distance d <= radii[n_radii - 1]: adds the weight
/// width·height / ((width - |dx|)(height - |dy|)) to sums[s], s the first index with
/// radii[s] >= d (radii ascending). The points must come sorted by their cell of side
/// `cell` (at least the largest radius; row-major, cells counted from the smallest
/// coordinates), so that each cell is one run. Points are taken in fixed chunks whose sums are added in order, so
/// the result does not depend on the number of threads. `sums` holds n_radii values.
void translation_pair_sums(const double* x, const double* y, std::size_t n, double width,
                           double height, double cell, const double* radii,
                           std::size_t n_radii, double* sums);

}  // namespace tazmir::stats
