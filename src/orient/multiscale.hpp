// The per-pixel choice of the most coherent of several structure-tensor scales.
#pragma once

#include <cstddef>
#include <span>

namespace tazmir::orient {

/// The per-pixel choice of the most coherent scale: for each of `count` pixels the first
/// scale with the strictly greatest coherence (NaN never wins); sigma 0.0 and coherence -1.0
/// where no scale wins.
void select_optimal_scale(std::span<const double> sigmas,
                          std::span<const double* const> coherences, std::size_t count,
                          double* best_sigma, double* best_coherence);

}  // namespace tazmir::orient
