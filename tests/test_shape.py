"""analyze_shape and analyze_shapes_batch: known outlines, failures, layouts and batches."""

import math

import numpy as np
import pytest

import _native
from _native import PanicException

KEYS = ["area", "perimeter", "elongation", "elongation_angle", "shape_index", "convexity",
        "shape_katic", "fourier_spectrum"]
COLLINEAR = "called `Result::unwrap()` on an `Err` value: ContourTooShort { n: 2, min: 3 }"
NAN_ANGLE = "called `Option::unwrap()` on a `None` value"
INDEX = "ndarray: index out of bounds"
NOT_ARRAY = "argument 'contours': '{}' object cannot be converted to 'PyArray<T, D>'"
SQUARE = [[0, 0], [1, 0], [1, 1], [0, 1]]
L_HEXAGON = [[0, 0], [2, 0], [2, 1], [1, 1], [1, 2], [0, 2]]
SPLIT_3X1 = [[0, 0], [1, 0], [2, 0], [3, 0], [3, 1], [0, 1]]


def analyze(points) -> dict:
    return _native.analyze_shape(np.asarray(points, dtype=np.float64))


def regular_polygon(n: int, radius: float = 1.0, phase: float = 0.0) -> np.ndarray:
    t = phase + 2.0 * np.pi * np.arange(n) / n
    return np.column_stack([radius * np.cos(t), radius * np.sin(t)])


def assert_same(a: dict, b: dict) -> None:
    """Both results have the eight keys in order and fresh arrays, and agree to the bit."""
    assert list(a) == list(b) == KEYS and all(type(a[key]) is float for key in KEYS[:6])
    assert all(a[k].dtype == np.float64 and a[k].flags.owndata for k in KEYS[6:])
    for key in KEYS:
        np.testing.assert_array_equal(a[key], b[key], err_msg=key)


def near(values, tolerance: float = 1e-15):
    return pytest.approx(values, abs=tolerance)


def rectangle(a: float, b: float) -> tuple:
    # Edges along x have normals along y, so W = diag(b, a): the axis is pi/2 when a > b.
    q = abs(a - b) / (a + b)
    return [[0, 0], [a, 0], [a, b], [0, b]], dict(
        area=a * b, perimeter=2 * (a + b), elongation=q, elongation_angle=math.pi / 2 * (a > b),
        shape_index=2 * (a + b) / math.sqrt(a * b), convexity=1.0, shape_katic=near([0, q, 1, q]))


def regular(n: int, katic: list, fourier: list) -> tuple:
    # Edge directions are multiples of 2pi/n, so q_k = 1 exactly when n divides k; the n
    # corners sample r(phi), so a_m / a_0 = 1 exactly when n divides m.
    return regular_polygon(n, radius=2.5, phase=0.3), dict(
        shape_index=pytest.approx(2 * math.sqrt(n * math.tan(math.pi / n))),
        convexity=near(1, 1e-14), elongation=near(0, 1e-12),
        shape_katic=near(katic, 1e-12), fourier_spectrum=near(fourier, 1e-12))


KNOWN = {
    "unit_square": (SQUARE, dict(
        area=1.0, perimeter=4.0, elongation=0.0, elongation_angle=0.0, shape_index=4.0,
        convexity=1.0, shape_katic=near([0, 0, 1, 0]), fourier_spectrum=near([0, 0, 0, 1, 0]))),
    "rectangle_10x1": rectangle(10.0, 1.0),
    "rectangle_1x10": rectangle(1.0, 10.0),
    "l_hexagon_ccw": (L_HEXAGON, dict(area=3.0, convexity=3 / 3.5)),
    "l_hexagon_cw": (L_HEXAGON[::-1], dict(area=3.0, convexity=3 / 3.5)),
    # The hull keeps the far corner (3, 0) of the split bottom edge either way round.
    "split_edge_ccw": (SPLIT_3X1, dict(area=3.0, convexity=1.0)),
    "split_edge_cw": (SPLIT_3X1[::-1], dict(area=3.0, convexity=1.0)),
    "triangle": regular(3, [0, 0, 0, 1], [0, 0, 1, 0, 1]),
    "square": regular(4, [0, 0, 1, 0], [0, 0, 0, 1, 0]),
    "hexagon": regular(6, [0, 0, 0, 1], [0, 0, 0, 0, 1]),
    "circle": regular(2000, [0, 0, 0, 0], [0, 0, 0, 0, 0]),
    "area_1e-16": ([[0, 0], [1, 0], [0, 2e-16]], dict(area=1e-16, shape_index=0, convexity=0)),
    "edges_below_1e-15": ([[0, 0], [1e-16, 0], [0, 1e-16]], dict(
        elongation=0.0, elongation_angle=0.0, shape_katic=[0.0] * 4, fourier_spectrum=[0.0] * 5)),
}


@pytest.mark.parametrize(("points", "expected"), KNOWN.values(), ids=KNOWN.keys())
def test_known_outline(points, expected):
    result = analyze(points)
    for key, value in expected.items():
        assert np.all(result[key] == value), (key, result[key])


FAILURES = {  # others with the same texts: tests/test_digest.py
    "two_rows": (np.zeros((2, 2)), ValueError, "contour has 2 points, need at least 3"),
    # The first vertex is read before the rows are counted.
    "two_rows_one_column": (np.zeros((2, 1)), PanicException, INDEX),
    "vertical_unsorted": ([[0, 5], [0, 1], [0, 3], [0, -2]], PanicException, COLLINEAR),
    "nan_pivot_x": ([[np.nan, 0], [1, 0], [0, 1]], PanicException, NAN_ANGLE),
}


@pytest.mark.parametrize(("points", "error", "message"), FAILURES.values(), ids=FAILURES.keys())
def test_failure(points, error, message):
    with pytest.raises(error) as info:
        analyze(points)
    assert type(info.value) is error and info.value.args == (message,)


def test_batch_equals_single_calls_in_order():
    rng = np.random.default_rng(11)
    contours = [rng.normal(size=(int(rng.integers(3, 20)), 2)) for _ in range(8)]
    stack = np.stack([regular_polygon(6, r) * [1.0, s] for r, s in [(1, 1), (2, 3), (5, 0.2)]])
    for batch in (contours, tuple(contours), stack):  # a (k, n, 2) array is k contours
        results = _native.analyze_shapes_batch(contours=batch)
        assert type(results) is list and len(results) == len(batch)
        for xy, result in zip(batch, results):
            assert_same(result, _native.analyze_shape(xy))
    assert _native.analyze_shapes_batch([]) == [] == _native.analyze_shapes_batch(())


VALID, TWO_ROWS = np.array(SQUARE, float), np.zeros((2, 2))
LINE = np.array([[0, 0], [1, 1], [2, 2]], float)
BATCH_FAILURES = {  # others with the same texts: tests/test_digest.py
    "short_after_valid": ([VALID, TWO_ROWS], ValueError, "contour has 2 points, need at least 3"),
    "first_failure_wins": ([VALID, LINE, TWO_ROWS], PanicException, COLLINEAR),
    # Every item is converted before any is analysed: the bad ones in front never fail.
    "list_item_last": ([LINE, SQUARE], TypeError, NOT_ARRAY.format("list")),
    "float32_last": ([TWO_ROWS, VALID.astype(np.float32)], TypeError, NOT_ARRAY.format("ndarray")),
}


@pytest.mark.parametrize(("contours", "error", "message"), BATCH_FAILURES.values(),
                         ids=BATCH_FAILURES.keys())
def test_batch_failure(contours, error, message):
    with pytest.raises(error) as info:
        _native.analyze_shapes_batch(contours)
    assert type(info.value) is error and str(info.value) == message
