"""Statistics timings against the libraries a user would otherwise reach for.

Run with the built module on the path and the peers installed, for example:
    PYTHONPATH=build/dev /tmp/bench-stats/bin/python benchmarks/bench_stats.py
Each line prints the best of several runs for tazmir and the peer, measured in this run,
and the ratio peer / tazmir (above 1 means tazmir is faster).
"""

import argparse
import math
import warnings

import numpy as np
import scipy.stats
from scipy.spatial.distance import pdist

import _native
from timing import best_times, peak_bytes




def report(label, ours, peer, peer_name, target):
    ratio = peer / ours
    verdict = "ok" if ratio >= target else "BELOW TARGET"
    print(f"{label:<44} tazmir {ours * 1e3:8.2f} ms   {peer_name:<12} {peer * 1e3:9.2f} ms"
          f"   ratio {ratio:6.2f}x (target {target}x: {verdict})")


def bench_permutation(repeat):
    rng = np.random.default_rng(0)
    a, b = rng.normal(0.0, 1.0, 200), rng.normal(0.2, 1.0, 200)

    def statistic(x, y, axis):
        return np.mean(x, axis=axis) - np.mean(y, axis=axis)

    def peer():
        return scipy.stats.permutation_test(
            (a, b), statistic, permutation_type="independent", vectorized=True,
            n_resamples=9999, alternative="two-sided", rng=1,
        )

    def ours():
        return _native.permutation_test(a, b, 9999, 1)

    t_ours, t_peer = best_times([ours, peer], repeat)
    report("permutation_test 2 x 200 values, 9,999 perms", t_ours, t_peer, "scipy", 5)


def bench_ripley(repeat):
    from astropy.stats import RipleysKEstimator
    from pointpats.distance_statistics import k as pointpats_k

    radii = np.linspace(0.005, 0.25, 50)
    for n in (2000, 5000):
        points = np.random.default_rng(n).uniform(0.0, 1.0, (n, 2))
        estimator = RipleysKEstimator(area=1.0, x_min=0.0, y_min=0.0, x_max=1.0, y_max=1.0)

        def ours():
            return _native.ripley_k(points, [0.0, 0.0, 1.0, 1.0], radii)

        def astropy():
            return estimator.evaluate(points, radii, mode="none")

        def pointpats():
            return pointpats_k(points, support=radii)

        t_ours, t_astropy, t_pointpats = best_times([ours, astropy, pointpats], repeat)
        report(f"ripley_k n={n}, 50 distances", t_ours, t_astropy, "astropy", 2)
        report(f"ripley_k n={n}, 50 distances", t_ours, t_pointpats, "pointpats", 2)
        print(f"{'':<44} peak Python-side memory: tazmir {peak_bytes(ours) / 1e6:.2f} MB, "
              f"astropy {peak_bytes(astropy) / 1e6:.1f} MB")


def numpy_correlation(centroids, thetas, k, max_r, n_bins):
    """The pdist + bincount version of G_k(r) a user would write."""
    n = len(centroids)
    distances = pdist(centroids)
    i, j = np.triu_indices(n, 1)
    width = max_r / n_bins
    counted = (distances < max_r) & (distances >= 1e-15)
    bins = (distances[counted] / width).astype(np.int64)
    in_range = bins < n_bins
    bins = bins[in_range]
    cosines = np.cos(k * (thetas[i[counted][in_range]] - thetas[j[counted][in_range]]))
    sums = np.bincount(bins, weights=cosines, minlength=n_bins)
    counts = np.bincount(bins, minlength=n_bins)
    with np.errstate(invalid="ignore"):
        return np.where(counts > 0, sums / np.maximum(counts, 1), 0.0), counts


def bench_correlation(repeat):
    n = 5000
    rng = np.random.default_rng(7)
    centroids = rng.uniform(0.0, 1.0, (n, 2))
    thetas = rng.uniform(0.0, math.pi, n)
    for max_r in (0.25, 0.5):
        def ours():
            return _native.orientational_correlation(centroids, thetas, 2, max_r, 50)

        def peer():
            return numpy_correlation(centroids, thetas, 2, max_r, 50)

        g_ours, g_peer = ours(), peer()
        assert np.array_equal(g_ours["counts"], g_peer[1])
        assert np.allclose(g_ours["g_values"], g_peer[0], atol=1e-9)
        t_ours, t_peer = best_times([ours, peer], repeat)
        report(f"orientational_correlation N={n}, max_r={max_r}", t_ours, t_peer, "numpy/scipy", 3)
        print(f"{'':<44} peak Python-side memory: tazmir {peak_bytes(ours) / 1e6:.2f} MB, "
              f"numpy/scipy {peak_bytes(peer) / 1e6:.1f} MB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="runs per measurement")
    parser.add_argument("which", nargs="*", default=["permutation", "ripley", "correlation"])
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    benches = {"permutation": bench_permutation, "ripley": bench_ripley,
               "correlation": bench_correlation}
    for name in args.which:
        benches[name](args.repeat)


if __name__ == "__main__":
    main()
