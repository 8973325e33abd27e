"""Benchmark: analyze_shapes_batch against Shapely 2 on random star-shaped cell outlines.

tazmir computes all eight descriptors of every outline; Shapely computes only the area,
the boundary length and the convex-hull area, with its vectorised functions, building the
polygons included. Both see the same 10,000 outlines of 64 vertices in the same run.

Run from the repository root with a Python that has numpy and shapely installed:

    PYTHONPATH=build/dev python benchmarks/bench_shape.py [--contours N] [--vertices M]
"""

from __future__ import annotations

import argparse
import os
import time

# Idle BLAS worker threads spin on a shared two-core machine; nothing here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
import shapely  # noqa: E402

import _native  # noqa: E402


def star_shaped_contours(count: int, vertices: int, seed: int = 20261206) -> np.ndarray:
    """(count, vertices, 2) outlines: sorted random angles, random radii in [0.5, 1.5)."""
    rng = np.random.default_rng(seed)
    angles = np.sort(rng.uniform(0.0, 2.0 * np.pi, size=(count, vertices)), axis=1)
    radii = rng.uniform(0.5, 1.5, size=(count, vertices))
    centres = rng.uniform(-100.0, 100.0, size=(count, 1, 2))
    xy = np.stack([radii * np.cos(angles), radii * np.sin(angles)], axis=-1)
    return np.ascontiguousarray(xy + centres)


def run_tazmir(contours: list[np.ndarray]) -> list[dict]:
    return _native.analyze_shapes_batch(contours)


def run_shapely(coords: np.ndarray) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    polygons = shapely.polygons(coords)  # rings are closed by Shapely
    return (
        shapely.area(polygons),
        shapely.length(polygons),
        shapely.area(shapely.convex_hull(polygons)),
    )


def timed(fn, *args) -> tuple[float, float]:
    """Wall-clock and CPU seconds of one call (CPU time is less disturbed by other users)."""
    wall, cpu = time.perf_counter(), time.process_time()
    fn(*args)
    return time.perf_counter() - wall, time.process_time() - cpu


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--contours", type=int, default=10_000)
    parser.add_argument("--vertices", type=int, default=64)
    parser.add_argument("--repeats", type=int, default=7)
    args = parser.parse_args()

    coords = star_shaped_contours(args.contours, args.vertices)
    contours = list(coords)

    # Same polygons, same answers where the two overlap (the shoelace sum loses a few
    # digits to the offset centres, whatever the order it is summed in).
    ours = run_tazmir(contours)
    area, length, hull_area = run_shapely(coords)
    np.testing.assert_allclose([d["area"] for d in ours], area, rtol=1e-9)
    np.testing.assert_allclose([d["perimeter"] for d in ours], length, rtol=1e-9)
    np.testing.assert_allclose([d["convexity"] for d in ours], area / hull_area, rtol=1e-9)

    # Alternate the two so that both meet the same load on a shared machine; keep the best.
    ours, theirs = [], []
    for _ in range(args.repeats):
        ours.append(timed(run_tazmir, contours))
        theirs.append(timed(run_shapely, coords))
    wall_ours, cpu_ours = min(t[0] for t in ours), min(t[1] for t in ours)
    wall_shapely, cpu_shapely = min(t[0] for t in theirs), min(t[1] for t in theirs)

    per = 1e6 / args.contours
    print(f"{args.contours} star-shaped contours of {args.vertices} vertices, "
          f"best of {args.repeats} (wall / CPU)")
    print(f"  tazmir analyze_shapes_batch (8 descriptors): {wall_ours * per:6.2f} / "
          f"{cpu_ours * per:6.2f} us per contour")
    print(f"  shapely area + length + hull area         : {wall_shapely * per:6.2f} / "
          f"{cpu_shapely * per:6.2f} us per contour")
    print(f"  ratio tazmir / shapely: {wall_ours / wall_shapely:.3f} wall, "
          f"{cpu_ours / cpu_shapely:.3f} CPU")


if __name__ == "__main__":
    main()
