// Structure tensor at several scales and the per-pixel choice of the most coherent scale.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "core/field.hpp"
#include "orient/structure_tensor.hpp"

namespace tazmir::orient {

/// One (sigma, result) pair per requested scale, in the order given, duplicates kept.
struct MultiscaleResult {
  std::vector<std::pair<double, StructureTensorResult>> scales;
};

/// The structure tensor at every scale of `sigmas`, each exactly as computed on its own.
MultiscaleResult multiscale_structure_tensor(const ImageField& field,
                                             std::span<const double> sigmas);

/// (optimal-sigma map, maximum-coherence map), sized by the first pair's theta field; no
/// pairs give two 0 x 0 fields. A coherence field shorter than the first theta field is an
/// internal failure.
std::pair<ImageField, ImageField> optimal_scale_map(
    const std::vector<std::pair<double, StructureTensorResult>>& results);

/// The per-pixel selection behind `optimal_scale_map`: for each of `count` pixels the first
/// scale with the strictly greatest coherence (NaN never wins); sigma 0.0 and coherence -1.0
/// where no scale wins.
void select_optimal_scale(std::span<const double> sigmas,
                          std::span<const double* const> coherences, std::size_t count,
                          double* best_sigma, double* best_coherence);

}  // namespace tazmir::orient
