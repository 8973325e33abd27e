// The director around a point, sector by sector of concentric rings.
#pragma once

#include <cstddef>

namespace tazmir::orient {

/// Sums of (w cos 2θ, w sin 2θ) over the pixels of each ring edges[i] <= r < edges[i + 1]
/// (n_edges - 1 rings) around (row, col), split into `sectors` equal angular sectors of
/// φ = atan2(y - row, x - col) in [0, 2π), sector ⌊φ n / 2π⌋. Pixels are visited row by row
/// within the bounding box of the outermost ring, so every sum has one fixed order. `out`
/// holds (n_edges - 1) x sectors x 2 values.
void annulus_sectors(const double* theta, const double* weight, std::size_t rows,
                     std::size_t cols, double row, double col, const double* edges,
                     std::size_t n_edges, std::size_t sectors, double* out);

}  // namespace tazmir::orient
