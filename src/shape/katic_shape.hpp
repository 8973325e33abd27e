// k-atic shape spectrum: length-weighted k-fold order of a boundary's edge orientations.
#pragma once

#include <array>

#include "core/contour.hpp"

namespace tazmir::shape {

/// The orders reported, in this order: polar, nematic, tetratic, hexatic.
inline constexpr std::array<int, 4> katic_orders = {1, 2, 4, 6};

/// [q1, q2, q4, q6], each in [0, 1]; edges shorter than 1e-15 are skipped, and a boundary
/// with a total kept length below 1e-15 gives zeros.
std::array<double, 4> katic_shape_spectrum(const BoundaryContour& contour);

}  // namespace tazmir::shape
