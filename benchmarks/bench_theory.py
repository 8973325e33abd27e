"""Frank energy of a large director grid against the vectorised NumPy version.

Run: PYTHONPATH=build/dev python benchmarks/bench_theory.py [--size N] [--repeat R]
Prints the best time of each and the ratio NumPy / native, measured in the same run.
"""

import argparse

import numpy as np

import _native
from timing import best_times, peak_bytes


def frank_energy_numpy(thetas, nx, ny, dx):
    """What a user would write: cos and sin of the whole grid, then shifted slices."""
    t = thetas[: nx * ny].reshape(ny, nx)
    c, s = np.cos(t), np.sin(t)
    h = dx + dx
    dcx = (c[1:-1, 2:] - c[1:-1, :-2]) / h
    dsx = (s[1:-1, 2:] - s[1:-1, :-2]) / h
    dcy = (c[2:, 1:-1] - c[:-2, 1:-1]) / h
    dsy = (s[2:, 1:-1] - s[:-2, 1:-1]) / h
    splay = float(np.sum((dcx + dsy) ** 2)) * (dx * dx)
    bend = float(np.sum((dsx - dcy) ** 2)) * (dx * dx)
    return {"splay": splay, "bend": bend, "ratio": splay / bend if bend > 1e-15 else np.inf}




def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    n = args.size
    rng = np.random.default_rng(0)
    # A smooth field with noise, angles in a few turns, as an orientation map gives.
    y, x = np.mgrid[0:n, 0:n]
    thetas = (np.sin(x / 97.0) + np.cos(y / 61.0) + rng.normal(0, 0.2, (n, n))).ravel()

    native = _native.frank_energy(thetas, n, n, 0.5)
    reference = frank_energy_numpy(thetas, n, n, 0.5)
    for key in ("splay", "bend"):
        assert abs(native[key] - reference[key]) <= 1e-9 * abs(reference[key]), key

    t_native, t_numpy = best_times(
        [lambda: _native.frank_energy(thetas, n, n, 0.5),
         lambda: frank_energy_numpy(thetas, n, n, 0.5)],
        args.repeat,
    )
    # NumPy reports its buffers to tracemalloc; the native scratch is three rows.
    mib = 1 << 20
    numpy_peak = peak_bytes(lambda: frank_energy_numpy(thetas, n, n, 0.5)) / mib
    print(f"frank_energy {n}x{n}: native {t_native * 1e3:.1f} ms, "
          f"numpy {t_numpy * 1e3:.1f} ms, ratio {t_numpy / t_native:.2f}x "
          f"(numpy peak {numpy_peak:.0f} MiB, grid {thetas.nbytes / mib:.0f} MiB)")


if __name__ == "__main__":
    main()
