// All descriptors of one outline, each from its own module.
#include "shape/descriptors.hpp"

#include "shape/fourier.hpp"
#include "shape/katic_shape.hpp"
#include "shape/minkowski.hpp"
#include "shape/morphometrics.hpp"

namespace tazmir::shape {

ShapeDescriptors describe_shape(const BoundaryContour& contour) {
  ShapeDescriptors d{};
  d.area = minkowski_w0(contour);
  d.perimeter = minkowski_w1(contour);
  const Elongation e = elongation_from_w1_tensor(minkowski_w1_tensor(contour));
  d.elongation = e.elongation;
  d.elongation_angle = e.angle;
  d.shape_index = shape_index(contour);
  d.convexity = convexity(contour);
  d.shape_katic = katic_shape_spectrum(contour);
  d.fourier_spectrum = fourier_spectrum(contour);
  return d;
}

}  // namespace tazmir::shape
