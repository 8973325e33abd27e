// Eigen-analysis of a row of smoothed tensors, the arithmetic part vectorised.
#pragma once

#include <cstddef>

namespace tazmir::orient {

/// For each of `count` pixels, what `tensor_eigen(sxx[i], sxy[i], syy[i])` gives: theta and
/// coherence always, lambda1 and lambda2 when their targets are not null. The square roots,
/// divisions and selections run several pixels at a time (each an exactly rounded IEEE
/// operation, so nothing changes); atan2 is the C library's, one pixel at a time.
void tensor_eigen_row(const double* sxx, const double* sxy, const double* syy,
                      std::size_t count, double* theta, double* coherence, double* lambda1,
                      double* lambda2);

/// Runs the row kernel with 1 or 2 lanes, or 0 for the processor's choice (tests compare
/// the builds).
void use_eigen_lanes_for_testing(int lanes);

}  // namespace tazmir::orient
