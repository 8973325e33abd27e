"""ripley_k: weighted pair counts with the border correction, K(r) and the centred L(r) - r."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _native
import _stats_reference as ref

UNIT = [0.0, 0.0, 1.0, 1.0]


def ripley(points, bbox, r_values):
    return _native.ripley_k(
        np.asarray(points, dtype=np.float64).reshape(-1, 2), bbox,
        np.asarray(r_values, dtype=np.float64),
    )


def assert_matches_reference(points, bbox, r_values):
    result = ripley(points, bbox, r_values)
    k_values, l_values = ref.ripley(np.asarray(points).reshape(-1, 2), bbox, r_values)
    assert np.array_equal(result["r_values"], np.asarray(r_values, dtype=np.float64),
                          equal_nan=True)
    assert np.array_equal(result["k_values"], k_values, equal_nan=True)
    assert np.array_equal(result["l_values"], l_values, equal_nan=True)
    return result


CASES = {
    # Unsorted, repeated, NaN and negative distances, each evaluated on its own.
    "unsorted-distances": (40, UNIT, [0.3, 0.05, 0.3, math.nan, 0.0, -1.0, 0.15, 2.0]),
    "points-outside-window": (30, [0.2, 0.2, 0.8, 0.8], [0.1, 0.2, 0.4, 0.6]),
    "wide-window": (50, [0.0, 0.0, 3.0, 1.0], [0.01 * m for m in range(50)]),
    "infinite-distance": (20, UNIT, [math.inf, 0.5]),
}


@pytest.mark.parametrize(("n", "bbox", "r_values"), CASES.values(), ids=CASES)
def test_matches_plain_reference_exactly(n, bbox, r_values):
    points = np.random.default_rng(n).uniform(0.0, 1.0, (n, 2))
    assert_matches_reference(points, bbox, r_values)


coordinate = st.one_of(
    st.floats(-2.0, 3.0, allow_nan=False),
    st.sampled_from([math.nan, math.inf, -math.inf, 0.0, 1.0]),
)


@settings(max_examples=60, deadline=None)
@given(
    points=st.lists(st.tuples(coordinate, coordinate), max_size=10),
    bbox=st.tuples(coordinate, coordinate, coordinate, coordinate),
    r_values=st.lists(st.one_of(st.floats(-0.5, 4.0, allow_nan=False), coordinate), max_size=6),
)
def test_any_input_matches_reference(points, bbox, r_values):
    assert_matches_reference(np.array(points, dtype=np.float64).reshape(-1, 2), bbox, r_values)


def test_result_layout():
    result = ripley([[0.2, 0.2], [0.3, 0.2]], UNIT, [0.5, 0.05])
    assert list(result) == ["r_values", "k_values", "l_values"]
    for key in result:
        assert result[key].dtype == np.float64 and result[key].shape == (2,)
    # One interior pair (border distance 0.2 >= 0.1): weight 2, A / n^2 = 1/4.
    assert result["k_values"].tolist() == [0.5, 0.0]
    assert result["l_values"].tolist() == [math.sqrt(0.5 / math.pi) - 0.5, -0.05]


def test_no_points_gives_nan():
    result = ripley(np.zeros((0, 2)), UNIT, [0.1, 0.2])
    assert np.isnan(result["k_values"]).all() and np.isnan(result["l_values"]).all()


def test_one_point():
    result = ripley([[0.5, 0.5]], UNIT, [0.1, 0.3])
    assert result["k_values"].tolist() == [0.0, 0.0]
    assert result["l_values"].tolist() == [-0.1, -0.3]


def test_no_distances():
    result = ripley([[0.5, 0.5], [0.1, 0.1]], UNIT, [])
    assert all(result[key].shape == (0,) for key in result)


def test_coincident_points_count_at_zero():
    result = ripley([[0.0, 0.0], [0.0, 0.0]], UNIT, [0.0, 0.1])
    assert result["k_values"].tolist() == [0.5, 0.5]  # weight 2 although on the border


@pytest.mark.parametrize(
    ("first", "weight"),
    [((0.5, 0.5), 2.0), ((0.0625, 0.5), 4.0), ((0.03125, 0.5), 8.0), ((0.01, 0.5), 8.0),
     ((-0.25, 0.5), 8.0), ((0.1, 0.5), 2 / 0.8)],
    ids=["interior", "half-r", "quarter-r", "near-border", "outside", "ratio-0.8"],
)
def test_border_weight(first, weight):
    second = (first[0] + 0.125, first[1])  # dyadic: the distance is exactly 0.125
    result = ripley([first, second], UNIT, [0.125])
    assert result["k_values"][0] == weight / 4


def test_correction_uses_only_the_first_point():
    near_border, interior = (0.02, 0.5), (0.12, 0.5)
    assert ripley([near_border, interior], UNIT, [0.1])["k_values"][0] == 8 / 4
    assert ripley([interior, near_border], UNIT, [0.1])["k_values"][0] == 2 / 4


def test_flipped_window_gives_negative_k_and_nan_l():
    result = ripley([[0.5, 0.5], [0.5, 0.55]], [1.0, 0.0, 0.0, 1.0], [0.1])
    assert result["k_values"][0] < 0.0 and math.isnan(result["l_values"][0])


def test_flat_window_gives_zero_k():
    result = ripley([[0.5, 0.5], [0.5, 0.55]], [0.0, 0.0, 1.0, 0.0], [0.1])
    assert result["k_values"].tolist() == [0.0] and result["l_values"].tolist() == [-0.1]


def lattice_pairs_within(m, r):
    """Unordered pairs of an m x m unit lattice at distance <= r, by displacement vectors."""
    reach = int(math.floor(r))
    total = 0
    for a in range(-reach, reach + 1):
        for b in range(-reach, reach + 1):
            if (a, b) != (0, 0) and a * a + b * b <= r * r:
                total += max(m - abs(a), 0) * max(m - abs(b), 0)
    return total // 2  # each pair seen from both ends


@pytest.mark.parametrize("r", [0.5, 1.0, 1.5, 2.0, 2.5, 3.5], ids=lambda r: f"r{r}")
def test_regular_lattice_counts_every_pair_once_from_each_end(r):
    # The window leaves a margin of 4 around a 20 x 20 lattice: no pair needs correcting.
    m = 20
    xs, ys = np.meshgrid(np.arange(float(m)), np.arange(float(m)))
    points = np.column_stack([xs.ravel(), ys.ravel()])
    bbox = [-4.0, -4.0, m + 3.0, m + 3.0]
    n = float(m * m)
    area = (m + 7.0) * (m + 7.0)
    expected = 2.0 * lattice_pairs_within(m, r) * (area / (n * n))
    assert ripley(points, bbox, [r])["k_values"][0] == expected


def test_regular_lattice_in_a_tight_window():
    xs, ys = np.meshgrid(np.arange(60.0), np.arange(60.0))
    points = np.column_stack([xs.ravel(), ys.ravel()])
    result = ripley(points, [-0.5, -0.5, 59.5, 59.5], [0.5, 0.99, 2.5, 3.5])
    assert result["k_values"][:2].tolist() == [0.0, 0.0]  # nothing closer than a spacing
    n = len(points)
    # Density 1: K follows pi r^2 (n - 1) / n up to the lattice's circle counts and the
    # crude border correction.
    expected = math.pi * np.array([2.5, 3.5]) ** 2 * (n - 1) / n
    assert np.allclose(result["k_values"][2:], expected, rtol=0.15)


def test_random_pattern_follows_poisson_expectation():
    rng = np.random.default_rng(2024)
    n = 2000
    points = rng.uniform(0.0, 1.0, (n, 2))
    r_values = np.array([0.02, 0.03, 0.05])
    result = ripley(points, UNIT, r_values)
    expected = math.pi * r_values**2 * (n - 1) / n
    assert np.allclose(result["k_values"], expected, rtol=0.06)
    assert np.all(np.abs(result["l_values"]) < 0.03 * r_values)


@pytest.mark.parametrize(
    "bbox",
    [(0.0, 0.0, 1.0, 1.0), [0, 0, 1, 1], np.array([0.0, 0.0, 1.0, 1.0]),
     (np.float64(0), 0, True, 1.0)],
    ids=["tuple", "list", "array", "mixed-numbers"],
)
def test_bbox_sequence_kinds(bbox):
    points = np.random.default_rng(1).uniform(0, 1, (15, 2))
    expected = ripley(points, UNIT, [0.1, 0.2])
    result = ripley(points, bbox, [0.1, 0.2])
    assert all(np.array_equal(result[key], expected[key]) for key in result)


def test_layouts_give_the_same_result():
    base = np.random.default_rng(2).uniform(0, 1, (20, 2))
    r_values = np.array([0.1, 0.3])
    expected = _native.ripley_k(base, UNIT, r_values)
    for points in (np.asfortranarray(base), np.hstack([base, base]), base[::-1].copy()[::-1]):
        result = _native.ripley_k(points, UNIT, r_values)
        assert all(np.array_equal(result[key], expected[key]) for key in result)


def test_inputs_are_not_written():
    points = np.random.default_rng(3).uniform(0, 1, (6, 2))
    r_values = np.array([0.3, 0.1])
    bbox = np.array(UNIT)
    copies = points.copy(), r_values.copy(), bbox.copy()
    _native.ripley_k(points, bbox, r_values)
    assert all(np.array_equal(a, b) for a, b in zip((points, r_values, bbox), copies))


P = np.zeros((2, 2))
R = np.array([0.1])


@pytest.mark.parametrize(
    ("args", "error", "message"),
    [
        ((P, [0, 0, 1], R), ValueError, "expected a sequence of length 4 (got 3)"),
        ((P, [0, 0, 1, 1, 1], R), ValueError, "expected a sequence of length 4 (got 5)"),
        ((P, 5, R), TypeError, "argument 'bbox': 'int' object cannot be converted to 'Sequence'"),
        ((P, [0, "a", 1, 1], R), TypeError, "argument 'bbox': must be real number, not str"),
        ((P, UNIT, np.arange(4.0)[::2]), TypeError, "The given array is not contiguous"),
        ((P, UNIT, [0.1]), TypeError,
         "argument 'r_values': 'list' object cannot be converted to 'PyArray<T, D>'"),
        ((P.astype(np.int32), UNIT, R), TypeError,
         "argument 'points': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ],
    ids=["bbox-3", "bbox-5", "bbox-int", "bbox-str-item", "r-strided", "r-list", "points-int32"],
)
def test_bad_arguments(args, error, message):
    with pytest.raises(error) as info:
        _native.ripley_k(*args)
    assert str(info.value) == message


def test_points_with_one_column():
    with pytest.raises(_native.PanicException) as info:
        _native.ripley_k(np.zeros((2, 1)), UNIT, R)
    assert str(info.value) == "ndarray: index out of bounds"
    assert _native.ripley_k(np.zeros((0, 1)), UNIT, R)["r_values"].tolist() == [0.1]
