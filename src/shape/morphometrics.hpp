// Contour morphometrics: the shape index and the convexity (solidity) of a cell outline.
#pragma once

#include "core/contour.hpp"

namespace tazmir::shape {

/// Perimeter over the square root of the area (a square gives 4); 0.0 for an area
/// below 1e-15.
double shape_index_of(double area, double perimeter);

/// Area over the area of the convex hull (Graham scan from the lowest-then-leftmost
/// vertex); 0.0 for a hull area below 1e-15. An outline on one straight line, or one with
/// a NaN coordinate, is an internal failure.
double convexity(const BoundaryContour& contour);

}  // namespace tazmir::shape
