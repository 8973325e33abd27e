"""Spatial statistics from Python: G_k(r), Ripley's K and L, the seeded permutation test."""

import math

import numpy as np
import pytest

import _native

INF, NAN, UNIT = math.inf, math.nan, (0.0, 0.0, 1.0, 1.0)


def pairs(points):
    return points if isinstance(points, np.ndarray) else np.asarray(points, float).reshape(-1, 2)


def correlate(centroids, thetas, *args):
    return _native.orientational_correlation(pairs(centroids), np.asarray(thetas, float), *args)


def ripley(points, bbox, r_values):
    return _native.ripley_k(pairs(points), bbox, np.asarray(r_values, float))


def same(x, y):
    return np.array_equal(x, y, equal_nan=True)


def cosine_bins(centroids, thetas, k, max_r, n_bins):
    """Bin means and counts summed over the pairs i < j in order (finite, positive max_r)."""
    sums, counts, width = [0.0] * n_bins, [0] * n_bins, max_r / n_bins
    for i in range(len(centroids)):
        for j in range(i + 1, len(centroids)):
            dx, dy = centroids[i][0] - centroids[j][0], centroids[i][1] - centroids[j][1]
            r = math.sqrt(dx * dx + dy * dy)
            if 1e-15 <= r < max_r and int(r / width) < n_bins:
                sums[int(r / width)] += math.cos((thetas[i] - thetas[j]) * k)
                counts[int(r / width)] += 1
    return [s / c if c else 0.0 for s, c in zip(sums, counts)], counts


@pytest.mark.parametrize(("n", "k", "max_r", "n_bins"),
                         [(60, 2, 0.6, 8), (45, 6, 0.9, 12), (300, 2, 0.4, 10)],
                         ids=["nematic", "hexatic", "beyond-one-block"])
def test_correlation_sums_each_bin_in_pair_order(n, k, max_r, n_bins):
    rng = np.random.default_rng(n)
    centroids = rng.uniform(0.0, 1.0, (n, 2))
    # Directors that drift across the tissue, so that the order decays with distance.
    thetas = np.sin(4 * centroids[:, 0]) + np.cos(3 * centroids[:, 1]) + rng.normal(0, 0.2, n)
    result = correlate(centroids, thetas, k, max_r, n_bins)
    g_values, counts = cosine_bins(centroids.tolist(), thetas.tolist(), k, max_r, n_bins)
    assert result["g_values"].tolist() == g_values and result["counts"].tolist() == counts
    kept = (result["g_values"] > 0.01) & (result["counts"] >= 5)
    slope = np.polyfit(result["r_bins"][kept], np.log(result["g_values"][kept]), 1)[0]
    assert 0.0 < result["correlation_length"] == pytest.approx(-1.0 / slope, rel=1e-9)


TRIANGLE = [[0, 0], [1, 1], [2, 0]]
CORRELATION_EDGES = {
    "no-cells": ([], [], 1.0, 4, [0, 0, 0, 0], [0, 0, 0, 0]),
    "no-rows-one-column": (np.zeros((0, 1)), [], 1.0, 2, [0, 0], [0, 0]),
    "zero-bins": (TRIANGLE, [0, 1, 2], 1.0, 0, [], []),
    "max_r-negative": (TRIANGLE, [0, 1, 2], -2.0, 2, [0, 0], [0, 0]),
    # 0.9 / (0.9 / 7) falls just short of 7: only r >= max_r leaves the pair at 0.9 out.
    "pair-at-max_r": ([[0, 0], [0.9, 0], [0.45, 0]], [0, 0, 0], 0.9, 7, [0, 0, 0, 2, 0, 0, 0],
                      [0, 0, 0, 1, 0, 0, 0]),
    # Just below max_r, but r / (max_r / n_bins) rounds up to n_bins.
    "quotient-rounds-up": ([[0, 0], [math.nextafter(7, 0), 0]], [0, 0], 7.0, 5, [0] * 5, [0] * 5),
    "coincident": ([[1, 1], [1, 1], [1, 2]], [0, 0.5, 0], 2.0, 2, [0, 2],
                   [0, (1.0 + math.cos(1.0)) / 2]),
    "nan-coordinate": ([[NAN, 0], [5, 5], [50, 50]], [0, 0, 0], 1.0, 3, [2, 0, 0], [1, 0, 0]),
    "pairs-cancel": ([[0, 0], [1, 0], [-1, 0]], [0, 0, math.pi / 2], 1.5, 1, [2], [0]),
    "short-thetas-unread": ([[0, 0], [1, 0], [100, 0]], [0, 0], 5.0, 1, [1], [1]),
    "long-thetas": ([[0, 0], [1, 0]], [0.0, 0.25, 9.0], 2.0, 1, [1], [math.cos(-0.5)]),
}


@pytest.mark.parametrize(("centroids", "thetas", "max_r", "n_bins", "counts", "g_values"),
                         CORRELATION_EDGES.values(), ids=CORRELATION_EDGES)
def test_correlation_edge_cases(centroids, thetas, max_r, n_bins, counts, g_values):
    result = correlate(centroids, thetas, 2, max_r, n_bins)
    assert list(result) == ["r_bins", "g_values", "counts", "correlation_length"]
    assert same(result["r_bins"], [(b + 0.5) * (max_r / n_bins) for b in range(n_bins)])
    assert result["counts"].dtype == np.float64 and result["counts"].tolist() == counts
    assert result["g_values"].tolist() == g_values and result["correlation_length"] == INF


@pytest.mark.parametrize(("k", "thetas"), [
    (0, np.random.default_rng(1).uniform(0, 7, 40)), (2, np.full(40, 0.3)), (6, np.full(40, 2.0)),
], ids=["k-zero", "aligned-nematic", "aligned-hexatic"])
def test_perfect_order_has_means_one_and_no_decay(k, thetas):
    result = correlate(np.random.default_rng(2).uniform(0, 1, (40, 2)), thetas, k, 1.5, 6)
    assert set(result["g_values"][result["counts"] > 0]) == {1.0}
    assert result["correlation_length"] == INF


def test_random_angles_have_no_correlation():
    rng = np.random.default_rng(3)
    result = correlate(rng.uniform(0, 1, (600, 2)), rng.uniform(0, math.pi, 600), 2, 0.5, 5)
    # Each bin averages thousands of independent cosines: |mean| ~ 1 / sqrt(count).
    assert np.all(np.abs(result["g_values"]) < 5.0 / np.sqrt(result["counts"]))


INTERIOR = [[0.5, 0.5], [0.625, 0.5]]  # 0.125 apart, 0.375 from the border
RIPLEY_EDGES = {
    "no-points": ([], UNIT, [0.1, 0.2], [NAN, NAN]),
    "one-point": ([[0.5, 0.5]], UNIT, [0.1, 0.3], [0.0, 0.0]),
    "no-distances": (INTERIOR, UNIT, [], []),
    "distances-any-order": (INTERIOR, UNIT, [0.2, NAN, 0.125, -1.0, 0.2, INF, 0.1],
                            [0.5, 0.0, 0.5, 0.0, 0.5, 0.5, 0.0]),
    "coincident-on-border": ([[0, 0], [0, 0]], UNIT, [0.0, 0.1], [0.5, 0.5]),
    "nan-point": ([[NAN, 0.5], [0.5, 0.5]], UNIT, [0.5, INF], [0.0, 0.0]),
    "border-at-half-r": ([[0.0625, 0.5], [0.1875, 0.5]], UNIT, [0.125], [1.0]),
    "outside-window": ([[-0.25, 0.5], [-0.125, 0.5]], UNIT, [0.125], [2.0]),
    # Only the first point's border distance enters, so the order of the points matters.
    "first-near-border": ([[0.02, 0.5], [0.12, 0.5]], UNIT, [0.1], [2.0]),
    "second-near-border": ([[0.12, 0.5], [0.02, 0.5]], UNIT, [0.1], [0.5]),
    "flipped-window": ([[0.5, 0.5], [0.5, 0.55]], (1.0, 0.0, 0.0, 1.0), [0.1], [-2.0]),
    "flat-window": ([[0.5, 0.5], [0.5, 0.55]], (0.0, 0.0, 1.0, 0.0), [0.1], [0.0]),
}


@pytest.mark.parametrize(("points", "bbox", "r_values", "k_values"), RIPLEY_EDGES.values(),
                         ids=RIPLEY_EDGES)
def test_ripley_edge_cases(points, bbox, r_values, k_values):
    result = ripley(points, bbox, r_values)
    assert list(result) == ["r_values", "k_values", "l_values"]
    assert same(result["r_values"], r_values) and same(result["k_values"], k_values)
    with np.errstate(invalid="ignore"):
        assert same(result["l_values"], np.sqrt(np.array(k_values) / math.pi) - r_values)


def test_regular_lattice_counts_every_pair_once_from_each_end():
    # A margin of 4 around the 20 x 20 lattice: no pair up to 3.5 apart needs correcting.
    xs, ys = np.meshgrid(np.arange(20.0), np.arange(20.0))
    r_values = [0.5, 1.0, 1.5, 2.0, 2.5, 3.5]
    # The window as an array: any sequence of four numbers.
    result = ripley(np.column_stack([xs.ravel(), ys.ravel()]), np.array([-4, -4, 23, 23.0]),
                    r_values)
    # Unordered pairs within r, counted by displacement vector (a, b).
    within = [sum((20 - abs(a)) * (20 - abs(b)) for a in range(-3, 4) for b in range(-3, 4)
                  if 0 < a * a + b * b <= r * r) // 2 for r in r_values]
    assert result["k_values"].tolist() == [2.0 * w * (27.0 * 27.0 / 400.0**2) for w in within]


def test_random_pattern_follows_the_poisson_expectation():
    n, r_values = 2000, np.array([0.02, 0.03, 0.05])
    result = ripley(np.random.default_rng(2024).uniform(0.0, 1.0, (n, 2)), UNIT, r_values)
    assert np.allclose(result["k_values"], math.pi * r_values**2 * (n - 1) / n, rtol=0.06)
    assert np.all(np.abs(result["l_values"]) < 0.03 * r_values)


def permute(a, b, *args):
    return _native.permutation_test(np.asarray(a, float), np.asarray(b, float), *args)


def test_worked_permutation_test_with_keywords_and_numpy_integers():
    result = _native.permutation_test(values_b=np.array([4.0, 5.0, 6.0]), seed=np.uint64(42),
                                      values_a=np.array([1.0, 2.0, 3.0]),
                                      n_permutations=np.int32(10))
    assert list(result.items()) == [("observed", -3.0), ("p_value", 3 / 11), ("n_permutations", 10)]
    assert type(result["n_permutations"]) is int


PERMUTATION_CASES = {
    "zero-permutations": ([1.0, 2.0], [5.0], 0, -3.5, 1.0),
    # Left to right the three ones vanish in 1e16; an exact or pairwise sum would keep some.
    "sums-left-to-right": ([1e16, 1.0, 1.0, 1.0, -1e16], [0.0], 0, 0.0, 1.0),
    "sums-start-from-negative-zero": ([-0.0], [0.0], 0, -0.0, 1.0),
    "a-empty": ([], [1.0, 2.0], 9, NAN, 0.1),
    "b-empty": ([1.0, 2.0], [], 9, NAN, 0.1),
    "both-empty": ([], [], 9, NAN, 0.1),
    "nan-value": ([1.0, NAN], [2.0, 3.0], 9, NAN, 0.1),
    "pool-of-one": ([3.0], [], 9, NAN, 0.1),
    "all-equal": ([0.1] * 7, [0.1] * 4, 25, None, 1.0),
}


@pytest.mark.parametrize(("a", "b", "n_permutations", "observed", "p_value"),
                         PERMUTATION_CASES.values(), ids=PERMUTATION_CASES)
def test_permutation_cases(a, b, n_permutations, observed, p_value):
    result = permute(a, b, n_permutations, 4)
    assert observed is None or repr(result["observed"]) == repr(observed)  # -0.0 is not 0.0
    assert result["p_value"] == p_value


def test_seeds_matter_and_groups_swap_sign():
    a, b = np.random.default_rng(5).normal(0, 1, (2, 30))
    first = permute(a, b, 500, 17)
    assert len({permute(a, b, 500, seed)["p_value"] for seed in range(6)}) > 1
    assert permute(b, a, 500, 17)["observed"] == -first["observed"]
    assert permute([1.0], [2.0], 3, 2**64 - 1)["p_value"] == 1.0


C, T, S = np.zeros((3, 2)), np.zeros(3), np.zeros(6)[::2]
NOT_CONTIGUOUS, NO_COLUMN = "The given array is not contiguous", "ndarray: index out of bounds"
PANIC = _native.PanicException
FAILURES = {
    "k-float-before-max_r": (lambda: correlate(C, T, 2.0, "x", 2), TypeError,
                             "argument 'k': 'float' object cannot be interpreted as an integer"),
    "thetas-short": (lambda: correlate(TRIANGLE, [0, 1], 2, 5.0, 2), PANIC,
                     "index out of bounds: the len is 2 but the index is 2"),
    # The pairs are read before the angles, so the missing column is reported first.
    "centroids-one-column": (lambda: correlate(C[:, :1], S, 2, 1.0, 2), PANIC, NO_COLUMN),
    "bins-unallocatable": (lambda: correlate(C, T, 2, 1.0, 2**62), PANIC, "capacity overflow"),
    "bbox-5": (lambda: ripley(C, [0, 0, 1, 1, 1], [0.1]), ValueError,
               "expected a sequence of length 4 (got 5)"),
    "points-one-column": (lambda: ripley(C[:, :1], UNIT, S), PANIC, NO_COLUMN),
    "values_b-strided": (lambda: permute(T, S, 1, 0), TypeError, NOT_CONTIGUOUS),
}


@pytest.mark.parametrize(("call", "error", "message"), FAILURES.values(), ids=FAILURES)
def test_refusals_and_internal_failures(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error and str(info.value) == message
