"""orientational_correlation: G_k(r) per distance bin and the fitted correlation length."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _native
import _stats_reference as ref


def correlate(centroids, thetas, k, max_r, n_bins):
    return _native.orientational_correlation(
        np.asarray(centroids, dtype=np.float64), np.asarray(thetas, dtype=np.float64),
        k, max_r, n_bins,
    )


def assert_matches_reference(centroids, thetas, k, max_r, n_bins):
    result = correlate(centroids, thetas, k, max_r, n_bins)
    r_bins, g_values, counts, length = ref.correlation(centroids, thetas, k, max_r, n_bins)
    assert np.array_equal(result["r_bins"], r_bins, equal_nan=True)
    assert np.array_equal(result["g_values"], g_values, equal_nan=True)
    assert result["counts"].tolist() == [float(c) for c in counts]
    assert (math.isnan(result["correlation_length"]) and math.isnan(length)) or (
        result["correlation_length"] == length
    )
    return result


CASES = {
    "nematic": (60, 2, 0.6, 8),
    "hexatic": (45, 6, 0.9, 12),
    "polar-one-bin": (30, 1, 2.0, 1),
    "many-bins": (50, 2, 1.5, 40),
}


@pytest.mark.parametrize(("n", "k", "max_r", "n_bins"), CASES.values(), ids=CASES)
def test_matches_plain_reference_exactly(n, k, max_r, n_bins):
    rng = np.random.default_rng(n)
    centroids = rng.uniform(0.0, 1.0, (n, 2))
    # Directors that drift slowly across the tissue, so the means decay with distance.
    thetas = 0.7 * centroids[:, 0] + rng.normal(0.0, 0.4, n)
    assert_matches_reference(centroids, thetas, k, max_r, n_bins)


def test_decaying_order_gives_finite_length():
    rng = np.random.default_rng(11)
    centroids = rng.uniform(0.0, 10.0, (300, 2))
    thetas = np.sin(centroids[:, 0]) + np.cos(0.8 * centroids[:, 1]) + rng.normal(0, 0.2, 300)
    result = assert_matches_reference(centroids, thetas, 2, 4.0, 10)
    assert 0.0 < result["correlation_length"] < math.inf
    assert result["g_values"][0] > result["g_values"][-1]


finite = st.floats(-4.0, 4.0, allow_nan=False)
odd = st.sampled_from([math.nan, math.inf, -math.inf, 0.0, -0.0, 1e-16])


@settings(max_examples=60, deadline=None)
@given(
    centroids=st.lists(st.tuples(st.one_of(finite, odd), st.one_of(finite, odd)), max_size=12),
    k=st.integers(0, 7),
    max_r=st.one_of(st.floats(-1.0, 9.0, allow_nan=False), odd),
    n_bins=st.integers(1, 9),
)
def test_any_input_matches_reference(centroids, k, max_r, n_bins):
    thetas = [0.37 * i for i in range(len(centroids))]
    assert_matches_reference(np.array(centroids, dtype=np.float64).reshape(-1, 2), thetas,
                             k, max_r, n_bins)


def test_result_layout():
    result = correlate([[0, 0], [1, 0], [0, 1]], [0.0, 0.1, 0.2], 2, 2.0, 4)
    assert list(result) == ["r_bins", "g_values", "counts", "correlation_length"]
    for key in ("r_bins", "g_values", "counts"):
        assert result[key].dtype == np.float64 and result[key].shape == (4,)
        assert result[key].flags.c_contiguous and result[key].flags.writeable
    assert result["counts"].tolist() == [0.0, 0.0, 3.0, 0.0]  # 1, 1 and sqrt 2
    assert type(result["correlation_length"]) is float


@pytest.mark.parametrize("n", [0, 1], ids=["no-cells", "one-cell"])
def test_no_pairs(n):
    result = correlate(np.zeros((n, 2)), np.zeros(n), 2, 1.0, 4)
    assert result["r_bins"].tolist() == [0.125, 0.375, 0.625, 0.875]
    assert result["g_values"].tolist() == [0.0] * 4
    assert result["counts"].tolist() == [0.0] * 4
    assert result["correlation_length"] == math.inf


def test_zero_bins():
    result = correlate(np.random.default_rng(0).uniform(size=(10, 2)), np.zeros(10), 2, 1.0, 0)
    for key in ("r_bins", "g_values", "counts"):
        assert result[key].dtype == np.float64 and result[key].shape == (0,)
    assert result["correlation_length"] == math.inf


@pytest.mark.parametrize("max_r", [0.0, -2.0], ids=["zero", "negative"])
def test_non_positive_range_counts_nothing(max_r):
    result = correlate([[0, 0], [1, 1], [2, 0]], [0.0, 1.0, 2.0], 2, max_r, 2)
    assert result["counts"].tolist() == [0.0, 0.0]
    assert result["r_bins"].tolist() == [0.25 * max_r, 0.75 * max_r]


def test_pair_at_max_r_is_not_counted():
    result = correlate([[0, 0], [3.0, 0], [1.0, 0]], [0.0, 0.0, 0.0], 2, 3.0, 3)
    assert result["counts"].tolist() == [0.0, 1.0, 1.0]  # (0,2) at 1.0 and (1,2) at 2.0 only


@pytest.mark.parametrize(("max_r", "n_bins"), [(1.0, 3), (7.0, 5), (3.0, 11)])
def test_quotient_rounding_up_to_n_bins_is_skipped(max_r, n_bins):
    r = math.nextafter(max_r, 0.0)
    assert r / (max_r / n_bins) == n_bins  # the distance sits in no bin
    result = correlate([[0.0, 0.0], [r, 0.0]], [0.0, 0.0], 2, max_r, n_bins)
    assert result["counts"].sum() == 0.0


def test_coincident_cells_count_nowhere():
    result = correlate([[1, 1], [1, 1], [1, 2]], [0.0, 0.5, 0.0], 2, 2.0, 2)
    assert result["counts"].tolist() == [0.0, 2.0]


def test_nan_coordinate_lands_in_bin_zero():
    result = correlate([[math.nan, 0], [5, 5], [50, 50]], [0.0, 0.0, 0.0], 2, 1.0, 3)
    assert result["counts"].tolist() == [2.0, 0.0, 0.0]


@pytest.mark.parametrize(
    ("k", "thetas"),
    [(0, np.random.default_rng(1).uniform(0, 7, 40)), (2, np.full(40, 0.3)), (6, np.full(40, 2.0))],
    ids=["k-zero", "aligned-nematic", "aligned-hexatic"],
)
def test_perfect_order_means_one_and_no_decay(k, thetas):
    centroids = np.random.default_rng(2).uniform(0, 1, (40, 2))
    result = correlate(centroids, thetas, k, 1.5, 6)
    counted = result["counts"] > 0
    assert np.all(result["g_values"][counted] == 1.0)
    assert np.all(result["g_values"][~counted] == 0.0)
    assert result["correlation_length"] == math.inf


def test_random_angles_have_no_correlation():
    rng = np.random.default_rng(3)
    centroids = rng.uniform(0, 1, (600, 2))
    result = correlate(centroids, rng.uniform(0, math.pi, 600), 2, 0.5, 5)
    # Each bin averages thousands of independent cosines: |mean| ~ 1/sqrt(count).
    assert np.all(np.abs(result["g_values"]) < 5.0 / np.sqrt(result["counts"]))


def test_pairs_that_cancel_give_mean_zero():
    # Pairs (0,1) at 1.0 and (0,2) at 1.0 with cos 1 and cos pi = -1; (1,2) is out of range.
    result = correlate([[0, 0], [1, 0], [-1, 0]], [0.0, 0.0, math.pi / 2], 2, 1.5, 1)
    assert result["counts"].tolist() == [2.0]
    assert result["g_values"].tolist() == [0.0]


def test_layouts_and_extra_columns_give_the_same_result():
    rng = np.random.default_rng(4)
    base = rng.uniform(0, 1, (25, 2))
    thetas = rng.uniform(0, 3, 25)
    expected = correlate(base, thetas, 2, 0.8, 5)
    wide = np.hstack([base, rng.uniform(size=(25, 1))])
    reversed_rows = base[::-1].copy()[::-1]
    for centroids in (np.asfortranarray(base), wide, reversed_rows):
        result = _native.orientational_correlation(centroids, thetas, 2, 0.8, 5)
        for key in ("r_bins", "g_values", "counts"):
            assert np.array_equal(result[key], expected[key])
        assert result["correlation_length"] == expected["correlation_length"]


def test_longer_thetas_ignores_extra_angles():
    centroids = np.random.default_rng(5).uniform(0, 1, (10, 2))
    thetas = np.linspace(0, 1, 10)
    longer = np.concatenate([thetas, [99.0, -4.0]])
    first = correlate(centroids, thetas, 2, 1.0, 3)
    second = correlate(centroids, longer, 2, 1.0, 3)
    assert all(np.array_equal(first[key], second[key]) for key in ("g_values", "counts"))


def test_short_thetas_fails_when_a_counted_pair_needs_a_missing_angle():
    centroids = [[0, 0], [1, 0], [0, 1]]
    with pytest.raises(_native.PanicException) as info:
        correlate(centroids, [0.0, 1.0], 2, 5.0, 2)
    assert str(info.value) == "index out of bounds: the len is 2 but the index is 2"
    with pytest.raises(_native.PanicException) as info:
        correlate(centroids, [], 2, 5.0, 2)
    assert str(info.value) == "index out of bounds: the len is 0 but the index is 0"


def test_short_thetas_unnoticed_when_missing_cells_never_pair():
    # Cell 2 is beyond max_r from both others, so its angle is never read.
    result = correlate([[0, 0], [1, 0], [100, 0]], [0.0, 0.0], 2, 5.0, 1)
    assert result["counts"].tolist() == [1.0]


def test_centroids_with_one_column():
    with pytest.raises(_native.PanicException) as info:
        _native.orientational_correlation(np.zeros((3, 1)), np.zeros(3), 2, 1.0, 2)
    assert str(info.value) == "ndarray: index out of bounds"
    result = _native.orientational_correlation(np.zeros((0, 1)), np.zeros(0), 2, 1.0, 2)
    assert result["counts"].tolist() == [0.0, 0.0]


def test_inputs_are_not_written():
    centroids = np.random.default_rng(6).uniform(0, 1, (8, 2))
    thetas = np.linspace(0, 2, 8)
    c_copy, t_copy = centroids.copy(), thetas.copy()
    correlate(centroids, thetas, 2, 1.0, 3)
    assert np.array_equal(centroids, c_copy) and np.array_equal(thetas, t_copy)


C = np.zeros((2, 2))
T = np.zeros(2)


@pytest.mark.parametrize(
    ("args", "error", "message"),
    [
        ((C, T, 2**32, 1.0, 2), OverflowError, "out of range integral type conversion attempted"),
        ((C, T, -1, 1.0, 2), OverflowError, None),
        ((C, T, 2.0, 1.0, 2), TypeError,
         "argument 'k': 'float' object cannot be interpreted as an integer"),
        ((C, T, 2, "1", 2), TypeError, "argument 'max_r': must be real number, not str"),
        ((C, T, 2, 1.0, -3), OverflowError, None),
        ((C, np.zeros(6)[::3], 2, 1.0, 2), TypeError, "The given array is not contiguous"),
        ((C.tolist(), T, 2, 1.0, 2), TypeError,
         "argument 'centroids': 'list' object cannot be converted to 'PyArray<T, D>'"),
        ((np.zeros(4), T, 2, 1.0, 2), TypeError,
         "argument 'centroids': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        ((C, np.zeros(2, dtype=np.int64), 2, 1.0, 2), TypeError,
         "argument 'thetas': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ],
    ids=["k-too-big", "k-negative", "k-float", "max_r-str", "n_bins-negative",
         "thetas-strided", "centroids-list", "centroids-1d", "thetas-int64"],
)
def test_bad_arguments(args, error, message):
    with pytest.raises(error) as info:
        _native.orientational_correlation(*args)
    if message is not None:
        assert str(info.value) == message


def test_unbounded_range_and_many_bins_is_a_clean_failure_or_result():
    # A bin count that cannot be held is an internal failure, never a crash.
    with pytest.raises((_native.PanicException, MemoryError)):
        _native.orientational_correlation(C, T, 2, 1.0, 2**62)
