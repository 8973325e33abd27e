// Row kernels of the streamed defect scan, compiled for the baseline processor and, on x86,
// for AVX2 too, chosen at run time. Lanes do the same IEEE operations as the scalar code, with no contraction, so
// both versions give the same bits.
#include "topo/plaquette_rows.hpp"

#include "core/cpu.hpp"
#include "core/sincos.hpp"
#include "topo/planar_steps.hpp"

namespace tazmir::topo::planar {

namespace {

inline void steps_kernel(const double* __restrict cp, const double* __restrict sp,
                         const double* __restrict cn, const double* __restrict sn,
                         std::size_t n, double* __restrict c_out, double* __restrict s_out) {
  for (std::size_t j = 0; j < n; ++j) {
    const Step step = step_between(cp[j], sp[j], cn[j], sn[j]);
    c_out[j] = step.c;
    s_out[j] = step.s;
  }
}

inline void cosines_kernel(const double* __restrict tc, const double* __restrict ts,
                           const double* __restrict bc, const double* __restrict bs,
                           const double* __restrict dc, const double* __restrict ds,
                           std::size_t n, double* __restrict out) {
  // Loop (i, j) -> (i+1, j) -> (i+1, j+1) -> (i, j+1) -> (i, j): down, along the bottom,
  // up the next column, back along the top.
  for (std::size_t j = 0; j < n; ++j) {
    out[j] = loop_cosine(Step{dc[j], ds[j]}, Step{bc[j], bs[j]}, Step{dc[j + 1], -ds[j + 1]},
                         Step{tc[j], -ts[j]});
  }
}

#if TAZMIR_X86
TAZMIR_AVX2 void steps_avx2(const double* cp, const double* sp, const double* cn,
                            const double* sn, std::size_t n, double* c_out, double* s_out) {
  steps_kernel(cp, sp, cn, sn, n, c_out, s_out);
}

TAZMIR_AVX2 void cosines_avx2(const double* tc, const double* ts, const double* bc,
                              const double* bs, const double* dc, const double* ds,
                              std::size_t n, double* out) {
  cosines_kernel(tc, ts, bc, bs, dc, ds, n, out);
}
#endif

}  // namespace

void lift_row(const double* theta, std::size_t n, double k, double* cos_out, double* sin_out) {
  for (std::size_t j = 0; j < n; ++j) {
    const double phi = (theta[j] * k) * 0.5;
    sin_cos(phi, sin_out[j], cos_out[j]);
  }
}

void steps_between(const double* cp, const double* sp, const double* cn, const double* sn,
                   std::size_t n, double* c_out, double* s_out) {
#if TAZMIR_X86
  if (cpu_has_avx2()) return steps_avx2(cp, sp, cn, sn, n, c_out, s_out);
#endif
  steps_kernel(cp, sp, cn, sn, n, c_out, s_out);
}

void plaquette_cosines(const double* tc, const double* ts, const double* bc, const double* bs,
                       const double* dc, const double* ds, std::size_t n, double* out) {
#if TAZMIR_X86
  if (cpu_has_avx2()) return cosines_avx2(tc, ts, bc, bs, dc, ds, n, out);
#endif
  cosines_kernel(tc, ts, bc, bs, dc, ds, n, out);
}

}  // namespace tazmir::topo::planar
