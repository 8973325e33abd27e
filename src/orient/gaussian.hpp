// Gaussian smoothing of three tensor components with one truncated, zero-extended kernel.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "core/field.hpp"

namespace tazmir::orient {

/// Scales below this are not smoothed: the fields are copied unchanged (NaN is smoothed).
inline bool skips_smoothing(double sigma) { return sigma < 0.5; }

/// R = ceil(4 sigma) saturated into an unsigned 64-bit integer (negative and NaN give 0).
std::size_t gaussian_radius(double sigma);

/// The 2R + 1 normalised weights g[k] = e_k / S with e_k = exp((-d * d) / ((sigma + sigma) *
/// sigma)), d = k - R, and S summed from 0.0 in increasing k. A kernel that cannot be held
/// is an internal failure.
std::vector<double> gaussian_kernel(double sigma, std::size_t radius);

/// Smooths f1, f2 and f3 (sized by f1) with the kernel of `sigma`: horizontal pass, then
/// vertical pass, terms outside the image left out without renormalising. sigma < 0.5
/// returns copies. Width 0 (when smoothing) and f2 or f3 shorter than f1 are internal
/// failures.
std::array<ImageField, 3> gaussian_blur_triple(const ImageField& f1, const ImageField& f2,
                                               const ImageField& f3, double sigma);

}  // namespace tazmir::orient
