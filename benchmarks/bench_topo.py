"""Topology benchmarks: our calls against the tools a user would otherwise reach for.

Run with the module on the path and the peers installed in a venv of your own:

    PYTHONPATH=build/dev /tmp/bench-topo/bin/python benchmarks/bench_topo.py

* ``detect_defects`` on a 2048 x 2048 director grid against a vectorised NumPy
  plaquette winding-number computation;
* ``compute_persistence`` on the lower-star filtration of the Delaunay triangulation of
  100,000 random points (passed as lists of tuples) against GUDHI's ``SimplexTree``.

Each timing is the best of a few repeats, measured in the same run; the ratio is
peer time / our time (above 1 means we are faster).
"""

from __future__ import annotations

import argparse
import os
import time

# BLAS worker threads left spinning by SciPy would steal the cores from both contenders.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import _native  # noqa: E402


def best_time(fn, repeat):
    best = float("inf")
    result = None
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


# --- defects -------------------------------------------------------------------------------


def director_field(n, n_defects, k, rng):
    """Director angles around random +-1/k point defects, plus a little noise."""
    rows, cols = np.meshgrid(np.arange(n), np.arange(n), indexing="ij")
    theta = np.zeros((n, n))
    for _ in range(n_defects):
        r0, c0 = rng.uniform(0, n - 1, 2).round() + 0.5
        sign = rng.choice([-1.0, 1.0])
        theta += sign / k * np.arctan2(rows - r0, cols - c0)
    theta += rng.normal(0.0, 0.05, theta.shape)
    return theta


def numpy_winding(theta, k):
    """Plaquette winding numbers, the way a NumPy user writes them: wrap each director
    difference into [-pi/k, pi/k), sum around (i, j) -> (i, j+1) -> (i+1, j+1) -> (i+1, j)."""
    period = 2.0 * np.pi / k

    def wrap(d):
        return (d + period / 2) % period - period / 2

    total = wrap(theta[:-1, 1:] - theta[:-1, :-1])
    total += wrap(theta[1:, 1:] - theta[:-1, 1:])
    total += wrap(theta[1:, :-1] - theta[1:, 1:])
    total += wrap(theta[:-1, :-1] - theta[1:, :-1])
    charge = total / (2.0 * np.pi)
    rows, cols = np.nonzero(np.abs(charge) > 0.5 / k)
    return rows, cols, charge[rows, cols]


def bench_defects(n, repeat, rng):
    k = 2
    theta = director_field(n, 40, k, rng)
    flat = np.ascontiguousarray(theta.ravel())
    ours_t, ours = best_time(lambda: _native.detect_defects(flat, n, n, k, 0.5), repeat)
    peer_t, (rows, cols, charge) = best_time(lambda: numpy_winding(theta, k), repeat)
    got = sorted((int(d["position"][0]), int(d["position"][1]), d["charge"]) for d in ours)
    want = sorted(zip(rows.tolist(), cols.tolist(), np.round(charge * k).astype(int) / k))
    agree = "agree" if got == want else f"DIFFER ({len(got)} vs {len(want)})"
    print(f"detect_defects {n}x{n}: ours {ours_t * 1e3:.1f} ms, numpy {peer_t * 1e3:.1f} ms, "
          f"ratio {peer_t / ours_t:.2f}x; {len(ours)} defects, results {agree}")


# --- persistence ---------------------------------------------------------------------------


def lower_star_delaunay(n_points, rng):
    from scipy.spatial import Delaunay

    points = rng.random((n_points, 2))
    values = rng.random(n_points)
    tri = np.sort(Delaunay(points).simplices, axis=1)
    edges = np.unique(np.concatenate([tri[:, [0, 1]], tri[:, [1, 2]], tri[:, [0, 2]]]), axis=0)
    edge_values = np.maximum(values[edges[:, 0]], values[edges[:, 1]])
    tri_values = np.maximum(np.maximum(values[tri[:, 0]], values[tri[:, 1]]), values[tri[:, 2]])
    return values, edges, edge_values, tri, tri_values


def gudhi_persistence(values, edges, edge_values, tri, tri_values):
    import gudhi

    st = gudhi.SimplexTree()
    st.insert_batch(np.arange(len(values))[None, :], values)
    st.insert_batch(edges.T, edge_values)
    st.insert_batch(tri.T, tri_values)
    st.compute_persistence(homology_coeff_field=2, min_persistence=0.0)
    return st, st.persistence_pairs()


def bench_persistence(n_points, repeat, rng):
    values, edges, edge_values, tri, tri_values = lower_star_delaunay(n_points, rng)
    vertex_list = list(zip(range(len(values)), values.tolist()))
    edge_list = list(zip(edges[:, 0].tolist(), edges[:, 1].tolist(), edge_values.tolist()))
    tri_list = list(zip(tri[:, 0].tolist(), tri[:, 1].tolist(), tri[:, 2].tolist(),
                        tri_values.tolist()))
    n_simplices = len(vertex_list) + len(edge_list) + len(tri_list)
    ours_t, ours = best_time(
        lambda: _native.compute_persistence(vertex_list, edge_list, tri_list), repeat)
    peer_t, (st, _) = best_time(
        lambda: gudhi_persistence(values, edges, edge_values, tri, tri_values), repeat)
    got = sorted((p["dimension"], p["birth"], p["death"]) for p in ours)
    want = sorted((dim, b, d) for dim, (b, d) in st.persistence() if d - b > 1e-15)
    agree = "agree" if got == want else f"DIFFER ({len(got)} vs {len(want)} pairs)"
    print(f"compute_persistence {n_simplices} simplices: ours {ours_t * 1e3:.1f} ms "
          f"({ours_t / n_simplices * 1e9:.0f} ns/simplex), gudhi {peer_t * 1e3:.1f} ms "
          f"({peer_t / n_simplices * 1e9:.0f} ns/simplex), ratio {peer_t / ours_t:.2f}x; "
          f"{len(ours)} pairs, results {agree}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--grid", type=int, default=2048)
    parser.add_argument("--points", type=int, default=100_000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--seed", type=int, default=6)
    args = parser.parse_args()
    rng = np.random.default_rng(args.seed)
    bench_defects(args.grid, args.repeat, rng)
    bench_persistence(args.points, args.repeat, rng)


if __name__ == "__main__":
    main()
