// Row kernels of the streamed defect scan: lifted frames, transports and plaquette cosines
// for one pair of grid rows, laid out as plain arrays so that they vectorise.
#pragma once

#include <cstddef>

namespace tazmir::topo::planar {

/// Cosine and sine of the lifted angle (theta * k) * 0.5 of `n` grid values.
void lift_row(const double* theta, std::size_t n, double k, double* cos_out, double* sin_out);

/// Transports (c, s) from frame (cp, sp)[j] to frame (cn, sn)[j], for j in [0, n), exactly as
/// `step_between` computes them.
void steps_between(const double* cp, const double* sp, const double* cn, const double* sn,
                   std::size_t n, double* c_out, double* s_out);

/// Cosine of the holonomy angle of the plaquettes j in [0, n) between two grid rows, from the
/// transports along the top row (tc, ts), along the bottom row (bc, bs) and down between them
/// (dc, ds; n + 1 of them), exactly as `loop_cosine` computes it.
void plaquette_cosines(const double* tc, const double* ts, const double* bc, const double* bs,
                       const double* dc, const double* ds, std::size_t n, double* out);

}  // namespace tazmir::topo::planar
