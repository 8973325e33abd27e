"""Splay–bend anisotropy of +1/2 defects: its cost beside the structure tensor, and ε recovered
on planted defects.

Run: python benchmarks/bench_anisotropy.py [--seeds 3]

Measured in this one run, so the ratios hold on a shared machine:

- the structure tensor of a 2048 x 2048 image (`_native.compute_structure_tensor`), the
  yardstick of the analysis chain;
- solving the table of +1/2 profiles afresh (`tazmir.elasticity.profile_table`, once per
  process), over the structure tensor;
- one defect's fit (`tazmir.elasticity.defect_anisotropy`) on a planted director field with
  rings of 28-85 px and of 60-300 px, over the structure tensor, and the share of it spent
  reading the rings' sectors (the compiled annulus kernel, twice per fit, on the pixel
  lattice the fit uses);
- ε recovered by `tazmir.analyze_image` on planted anisotropic defects
  (`tazmir.synthetic.anisotropic_defect_tissue`, 192 x 192) for each ε: mean and largest
  error, the mean error in units of the reported ``anisotropy_err``, the share within 2.5
  of it, and the median time of the fit inside the analysis.
"""

from __future__ import annotations

import argparse
import math
import time

import numpy as np

import _native
from timing import best_seconds
import tazmir
import tazmir.analysis
from tazmir import elasticity
from tazmir.elasticity import N_SECTORS, defect_anisotropy, profile_table, splay_bend_profile
from tazmir.synthetic import anisotropic_defect_tissue



def planted_field(epsilon: float, size: int = 640) -> np.ndarray:
    """Director angles following the profile around (330, 310), tail along 1 rad, with
    0.1 rad of noise."""
    y, x = np.mgrid[:size, :size]
    theta = splay_bend_profile(np.arctan2(y - 330.0, x - 310.0), epsilon, 1.0)
    return theta + np.random.default_rng(1).normal(0.0, 0.1, theta.shape)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=3, help="planted tissues per ε")
    args = parser.parse_args()

    image = np.random.default_rng(0).normal(1000.0, 100.0, (2048, 2048))
    tensor = best_seconds(lambda: _native.compute_structure_tensor(image, 2.0), 3)
    print(f"structure tensor, 2048 x 2048:       {tensor * 1e3:8.1f} ms")
    profile_table()  # the first call also pays for imports and allocations
    table = best_seconds(profile_table.__wrapped__, 5)
    print(f"profile table, solved afresh:        {table * 1e3:8.1f} ms"
          f"  = {table / tensor:.3f} x the structure tensor")

    theta = planted_field(0.3)
    weight = np.ones_like(theta)
    for inner, outer in ((28.0, 85.0), (60.0, 300.0)):
        edges = np.linspace(inner, outer, 5)
        fit = best_seconds(
            lambda: defect_anisotropy(theta, weight, 332.0, 308.0, 1.15, edges), 10)
        step = elasticity._lattice_step(edges)  # as the fit reads them
        sectors = best_seconds(lambda: elasticity._sector_sums(
            theta, weight, 332.0, 308.0, edges, N_SECTORS, step), 10)
        print(f"one fit, rings {inner:.0f}-{outer:.0f} px:          {fit * 1e3:8.2f} ms"
              f"  = {fit / tensor:.3f} x the structure tensor;"
              f" reading the sectors {2 * sectors / fit:.0%} of it")

    fits: list[float] = []
    fitter = tazmir.analysis.defect_anisotropy

    def timed(*fit_args):
        start = time.perf_counter()
        result = fitter(*fit_args)
        fits.append(time.perf_counter() - start)
        return result

    tazmir.analysis.defect_anisotropy = timed
    print("\nplanted ε   defects  mean |err|  max |err|  mean |err|/err  within 2.5 err")
    errors, scaled = [], []
    for epsilon in (-0.6, -0.3, 0.0, 0.3, 0.6):
        found = []
        for seed in range(1, args.seeds + 1):
            tissue = anisotropic_defect_tissue(192, epsilon=epsilon, angle_rad=1.7 * seed,
                                               seed=seed)
            result = tazmir.analyze_image(tissue.image, pixel_size_um=0.5)
            found += [d for d in result.defects if d.charge == 0.5 and d.anisotropy is not None
                      and math.hypot(d.row_px - 96, d.col_px - 96) < 12]
        err = np.array([abs(d.anisotropy - epsilon) for d in found])
        z = err / np.array([d.anisotropy_err for d in found])
        errors += list(err)
        scaled += list(z)
        print(f"{epsilon:+9.1f}  {len(found):7d}  {err.mean():10.4f}  {err.max():9.4f}"
              f"  {z.mean():14.2f}  {np.mean(z <= 2.5):14.0%}")
    tazmir.analysis.defect_anisotropy = fitter
    errors_all, scaled_all = np.array(errors), np.array(scaled)
    print(f"{'all':>9}  {errors_all.size:7d}  {errors_all.mean():10.4f}  {errors_all.max():9.4f}"
          f"  {scaled_all.mean():14.2f}  {np.mean(scaled_all <= 2.5):14.0%}")
    print(f"fit inside the analysis: median {np.median(fits) * 1e3:.2f} ms"
          f" = {np.median(fits) / tensor:.3f} x the structure tensor")


if __name__ == "__main__":
    main()
