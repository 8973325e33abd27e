"""The package's intensive statistics against direct computations, measured in the same run.

    python benchmarks/bench_statistics.py

G_k(r) by FFT against the core's pair loop (`_native.orientational_correlation`) on the same
grid; Ripley's K by the cell grid against scipy's KD-tree pair search (scipy only here, for
the comparison); the time of a 10^5-point pattern and of its CSR envelope. Ratios above 1
mean the package is faster.
"""

import math
import time

import numpy as np
from scipy.spatial import cKDTree

import _native
from timing import best_seconds
from tazmir.correlation import director_correlation
from tazmir.spatial import default_radii, ripley, ripley_k



def correlation(side):
    rng = np.random.default_rng(0)
    theta = rng.uniform(0, math.pi, (side, side))
    y, x = np.mgrid[0:side, 0:side].astype(float)
    points = np.ascontiguousarray(np.column_stack([x.ravel(), y.ravel()]))
    n_bins = side // 2 - 1
    fft = best_seconds(lambda: director_correlation(theta, spacing_um=1.0))
    pairs = best_seconds(lambda: _native.orientational_correlation(
        points, theta.ravel(), 2, n_bins + 0.5, n_bins), repeat=1)
    print(f"G_2 on a {side} x {side} grid: FFT {fft * 1e3:8.1f} ms, pair loop "
          f"{pairs * 1e3:8.1f} ms, ratio {pairs / fft:7.1f}")


def kdtree_k(points, window, radii):
    x0, y0, x1, y1 = window
    a, b = x1 - x0, y1 - y0
    pairs = cKDTree(points).query_pairs(radii[-1], output_type="ndarray")
    d = points[pairs[:, 1]] - points[pairs[:, 0]]
    w = a * b / ((a - np.abs(d[:, 0])) * (b - np.abs(d[:, 1])))
    slot = np.searchsorted(radii, np.hypot(d[:, 0], d[:, 1]), side="left")
    n = len(points)
    return 2 * a * b / (n * (n - 1)) * np.cumsum(np.bincount(slot, w, radii.size + 1)[:-1])


def ripley_speed(n):
    rng = np.random.default_rng(1)
    window = (0.0, 0.0, 1000.0, 1000.0)
    points = rng.uniform(0, 1000, (n, 2))
    radii = default_radii(n, window)
    ours = best_seconds(lambda: ripley_k(points, window, radii))
    peer = best_seconds(lambda: kdtree_k(points, window, radii))
    assert np.allclose(ripley_k(points, window, radii), kdtree_k(points, window, radii))
    print(f"Ripley K of {n} points: cell grid {ours * 1e3:8.1f} ms, scipy KD-tree "
          f"{peer * 1e3:8.1f} ms, ratio {peer / ours:5.2f}")


if __name__ == "__main__":
    for side in (32, 64):
        correlation(side)
    for n in (10_000, 100_000):
        ripley_speed(n)
    points = np.random.default_rng(2).uniform(0, 1000, (100_000, 2))
    start = time.perf_counter()
    ripley(points, (0, 0, 1000, 1000), n_simulations=99)
    print(f"Ripley K with a 99-pattern envelope, 10^5 points: {time.perf_counter() - start:.1f} s")
