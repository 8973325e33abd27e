// Fourier spectrum of the radial function of a boundary, sampled at its vertices.
#pragma once

#include <array>

#include "core/contour.hpp"

namespace tazmir::shape {

/// The angular modes reported, in this order (there is no mode 5).
inline constexpr std::array<int, 5> fourier_modes = {1, 2, 3, 4, 6};

/// |a_m| / |a_0| for m = 1, 2, 3, 4, 6, the radius r(phi) taken about the vertex mean at
/// every vertex with equal weight; zeros when the mean radius is below 1e-15.
std::array<double, 5> fourier_spectrum(const BoundaryContour& contour);

}  // namespace tazmir::shape
