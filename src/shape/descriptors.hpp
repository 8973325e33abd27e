// Every shape descriptor of one cell outline, computed together in a fixed order.
#pragma once

#include <array>

#include "core/contour.hpp"

namespace tazmir::shape {

/// The measurements of one outline, in the order they are reported.
struct ShapeDescriptors {
  double area;
  double perimeter;
  double elongation;
  double elongation_angle;
  double shape_index;
  double convexity;
  std::array<double, 4> shape_katic;       // q1, q2, q4, q6
  std::array<double, 5> fourier_spectrum;  // modes 1, 2, 3, 4, 6
};

/// Minkowski functionals and elongation, shape index, convexity, k-atic and Fourier
/// spectra, in that order. Fails internally where `convexity` does.
ShapeDescriptors describe_shape(const BoundaryContour& contour);

}  // namespace tazmir::shape
