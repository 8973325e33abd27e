"""Defect detection against planted ground truth, and its cost beside the structure tensor.

Run: python benchmarks/bench_defect_accuracy.py [--size 512] [--seeds 2] [--quick]

Fibrous textures with many +-1/2 defects at random places (tazmir.synthetic.fibrous_texture)
are analysed at several noise strengths and defect densities. For each condition it prints
precision, recall, the median position error (px) and the median orientation error
(degrees) of the default analysis (scales read off the image) and of the previous pipeline
(8 px block averages of the raw structure tensor, winding of every plaquette), side by side.
Then: a texture with an empty quarter (background noise only), and the time of the robust
detection against the structure tensor on a 2048 x 2048 image, measured in the same run.
"""

from __future__ import annotations

import argparse
import math
import sys
import time
from pathlib import Path

import numpy as np

import _native
import tazmir
from tazmir.defects import find_defects, smooth_blocks, valid_region
from tazmir.grid import grid_to_pixels
from tazmir.scales import choose_scales
from tazmir.synthetic import fibrous_texture, synthetic_tissue

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from conftest import match_defects as match  # noqa: E402  (one matching rule for both)


class Found:
    """A detection of the previous pipeline, shaped like tazmir.Defect for matching."""

    def __init__(self, row: float, col: float, charge: float) -> None:
        self.row_px, self.col_px, self.charge, self.angle_rad = row, col, charge, math.nan


def previous_pipeline(image: np.ndarray, step: int = 8) -> list[Found]:
    """Coherence-weighted nematic tensor averaged over 8 px blocks, every plaquette's
    winding counted: no smoothing, no region, no pair removal."""
    field = _native.compute_structure_tensor(image, 2.0)
    rows, cols = image.shape[0] // step, image.shape[1] // step

    def blocks(values: np.ndarray) -> np.ndarray:
        cut = values[: rows * step, : cols * step]
        return cut.reshape(rows, step, cols, step).mean(axis=(1, 3))

    doubled, weight = 2.0 * field["theta"], field["coherence"]
    director = np.mod(0.5 * np.arctan2(blocks(weight * np.sin(doubled)),
                                       blocks(weight * np.cos(doubled))), math.pi)
    hits = _native.detect_defects(np.ascontiguousarray(director).ravel(), rows, cols, 2,
                                  0.5 * math.pi)
    return [Found(*grid_to_pixels(h["position"], step), h["charge"]) for h in hits]


def scores(found, planted) -> tuple[float, float, float, float]:
    precision, recall, position, angle = match(found, planted)
    median = lambda v: float(np.median(v)) if len(v) else math.nan  # noqa: E731
    return precision, recall, median(position), median(angle)


def accuracy(size: int, seeds: int, noises, spacings) -> None:
    print(f"{size} x {size} px, {seeds} textures per condition; "
          "precision / recall / median position error (px) / median angle error (deg)")
    print(f"{'noise':>5} {'spacing':>7} {'defects':>7} | {'default':^29} | {'previous':^22}")
    for noise in noises:
        for spacing in spacings:
            new, old, count = [], [], 0
            for seed in range(seeds):
                n = int(0.5 * (size / spacing) ** 2)
                texture = fibrous_texture(size, n_defects=n, min_spacing_px=spacing,
                                          noise=noise, seed=seed)
                count += len(texture.defects)
                result = tazmir.analyze_image(texture.image, pixel_size_um=1.0)
                new.append(scores(result.defects, texture.defects))
                old.append(scores(previous_pipeline(texture.image), texture.defects))
            # The previous pipeline gives no orientation: its angle column stays out.
            a, b = np.nanmean(new, axis=0), np.mean(np.array(old)[:, :3], axis=0)
            print(f"{noise:5.2f} {spacing:7d} {count:7d} | {a[0]:5.3f} {a[1]:5.3f} {a[2]:5.2f} "
                  f"{a[3]:6.2f}     | {b[0]:5.3f} {b[1]:5.3f} {b[2]:5.2f}")


def empty_quarter(size: int) -> None:
    rng = np.random.default_rng(0)
    for label, make in (
        ("tissue", lambda: synthetic_tissue(size, n_outlined=0, seed=1).image),
        ("fibres", lambda: fibrous_texture(size, n_defects=int(0.08 * (size / 32) ** 2),
                                           seed=1).image),
    ):
        image = make()
        half = size // 2
        image[half:, half:] = image.mean() + rng.normal(0.0, 0.3 * image.std(), (half, half))
        new = tazmir.analyze_image(image, pixel_size_um=1.0).defects
        old = previous_pipeline(image)
        inside = lambda ds: sum(d.row_px >= half and d.col_px >= half for d in ds)  # noqa: E731
        print(f"empty quarter ({label}, {size} px): default {len(new)} defects, "
              f"{inside(new)} in the empty part; previous {len(old)}, {inside(old)} there")


def cost(size: int, repeat: int) -> None:
    image = synthetic_tissue(size, n_outlined=0, seed=1).image
    best: dict[str, float] = {}

    def timed(name: str, fn):
        start = time.perf_counter()
        out = fn()
        best[name] = min(best.get(name, math.inf), time.perf_counter() - start)
        return out

    for _ in range(repeat):
        field = timed("structure tensor", lambda: _native.compute_structure_tensor(image, 2.0))
        scales, _, blocks = timed("automatic scales", lambda: choose_scales(
            image, 2.0, "auto", "auto", lambda s: field))
        step, core = scales.grid_step, scales.core_radius_px

        def robust():
            # What detection adds once the scales are known: the block pass over the pixels,
            # smoothing, the valid region and the defects.
            from tazmir.scales import choose_scales as again

            _, _, b = again(image, 2.0, core, step, lambda s: field)
            coarse = smooth_blocks(b, step, core)
            return find_defects(coarse, core, valid_region(coarse, core / step))

        timed("robust detection", robust)
    st = best["structure tensor"]
    print(f"{size} x {size} px (best of {repeat}): structure tensor {st * 1e3:.0f} ms")
    for name in ("robust detection", "automatic scales"):
        print(f"  {name:18s} {best[name] * 1e3:6.0f} ms = {best[name] / st:.2f}x the structure "
              "tensor")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=512)
    parser.add_argument("--seeds", type=int, default=2)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="one noise level, one density")
    args = parser.parse_args()
    noises = (0.3,) if args.quick else (0.2, 0.4, 0.8, 1.2)
    spacings = (48,) if args.quick else (64, 48, 32)
    accuracy(args.size, args.seeds, noises, spacings)
    empty_quarter(args.size)
    cost(2048, args.repeat)


if __name__ == "__main__":
    main()
