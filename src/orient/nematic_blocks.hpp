// Block sums of the coherence-weighted nematic tensor: the first step of coarse-graining.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tazmir::orient {

/// A row-major orientation field to coarse-grain: director angles (radians), their weights
/// (the structure-tensor coherence) and an optional mask (non-zero = analysed; null = all).
struct NematicFieldView {
  const double* theta = nullptr;
  const double* weight = nullptr;
  const std::uint8_t* mask = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
};

/// Means over square blocks of `step` pixels of (w cos 2θ, w sin 2θ, w, inside), where w is
/// the weight times the mask and `inside` the mask itself. Writes (rows / step) x
/// (cols / step) x 4 values to `out`; trailing pixels that fill no whole block are left out.
/// Block rows run on the worker pool; each block is summed in one fixed order, so results do
/// not depend on the thread count.
void nematic_block_means(const NematicFieldView& field, std::size_t step, double* out);

/// cos 2θ and sin 2θ to within a few units in the last place, by a short polynomial after
/// reduction to [-pi/4, pi/4]: the block loop spends its time here, and glibc's exact sin and
/// cos would cost several times the structure tensor's own budget.
void cos_sin_doubled(double theta, double& cos2, double& sin2);

}  // namespace tazmir::orient
