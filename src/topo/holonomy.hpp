// The holonomy scan: transport a frame once around every grid plaquette and report the
// plaquettes whose transport is not the identity.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/panic.hpp"
#include "topo/frame_field.hpp"

namespace tazmir::topo {

/// One plaquette whose holonomy turns by more than the threshold.
struct Disclination {
  std::size_t row = 0;  ///< i of the plaquette's first corner
  std::size_t col = 0;  ///< j of the plaquette's first corner
  Frame holonomy{};     ///< transport once around the plaquette, column by column
  double angle = 0.0;   ///< rotation angle of `holonomy` in [0, pi]
};

/// 3x3 product A * B with every entry summed as (p0 + p1) + p2.
Frame mat_mul(const Frame& a, const Frame& b);

/// 3x3 product A^T * B: entry (r, c) is column r of A dotted with column c of B.
Frame mat_tmul(const Frame& a, const Frame& b);

/// Holonomy of the loop F0 -> F1 -> F2 -> F3 -> F0, each corner gauge-fixed against the
/// raw previous one.
Frame plaquette_holonomy(const Frame& f0, const Frame& f1, const Frame& f2, const Frame& f3);

/// Cosine of a holonomy's rotation angle, ((trace + -1) * 0.5), clamped to [-1, 1]
/// (NaN stays NaN).
double rotation_cosine(double h00, double h11, double h22);

/// Scans the plaquettes of an nx-by-ny frame field (frame of point (i, j) at i * ny + j),
/// rows then columns, and returns those whose angle is strictly above `threshold`.
/// A frame count other than nx * ny is an internal failure.
std::vector<Disclination> scan_disclinations(std::span<const Frame> frames, std::size_t nx,
                                             std::size_t ny, double threshold);

/// The length assertion shared by every reader of a director grid:
/// "frames.len() must equal nx * ny".
void check_grid_length(std::size_t len, std::size_t nx, std::size_t ny,
                       SourceLocation where = SourceLocation::current());

}  // namespace tazmir::topo
