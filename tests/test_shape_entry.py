"""analyze_shape and analyze_shapes_batch: the result dict, layouts, failures, batches."""

from __future__ import annotations

import threading

import numpy as np
import pytest

import _native
from _native import PanicException

from shape_reference import (
    COLLINEAR,
    KEYS,
    L_HEXAGON,
    NAN_ANGLE,
    SCALARS,
    UNIT_SQUARE,
    assert_same_result,
    regular_polygon,
)

NOT_ARRAY = "'{}' object cannot be converted to 'PyArray<T, D>'"


def analyze(points) -> dict:
    return _native.analyze_shape(np.asarray(points, dtype=np.float64))


# ---------------------------------------------------------------------------------------
# The result dict


def test_result_keys_types_and_fresh_arrays():
    xy = np.array(UNIT_SQUARE, dtype=np.float64)
    result = _native.analyze_shape(xy)
    assert list(result) == KEYS
    for key in SCALARS:
        assert type(result[key]) is float
    for key, length in (("shape_katic", 4), ("fourier_spectrum", 5)):
        array = result[key]
        assert type(array) is np.ndarray
        assert array.dtype == np.float64 and array.shape == (length,)
        assert array.flags.c_contiguous and array.flags.writeable and array.flags.owndata
        assert not np.shares_memory(array, xy)


def test_unit_square():
    result = analyze(UNIT_SQUARE)
    assert result["area"] == 1.0
    assert result["perimeter"] == 4.0
    assert result["elongation"] == 0.0
    assert result["elongation_angle"] == 0.0
    assert result["shape_index"] == 4.0
    assert result["convexity"] == 1.0
    np.testing.assert_allclose(result["shape_katic"], [0, 0, 1, 0], atol=1e-15)
    np.testing.assert_allclose(result["fourier_spectrum"], [0, 0, 0, 1, 0], atol=1e-15)


def test_keyword_call_matches_positional():
    xy = np.array(L_HEXAGON, dtype=np.float64)
    assert_same_result(_native.analyze_shape(contour_xy=xy), _native.analyze_shape(xy))


def test_input_is_left_untouched():
    xy = regular_polygon(7)
    before = xy.copy()
    _native.analyze_shape(xy)
    _native.analyze_shapes_batch([xy, xy])
    np.testing.assert_array_equal(xy, before)


# ---------------------------------------------------------------------------------------
# Layouts


def wide(xy: np.ndarray, extra: int) -> np.ndarray:
    rng = np.random.default_rng(extra)
    return np.column_stack([xy, rng.normal(size=(len(xy), extra))])


def unaligned(xy: np.ndarray) -> np.ndarray:
    buffer = np.zeros(xy.size * 8 + 1, dtype=np.uint8)
    out = np.frombuffer(buffer.data, dtype=np.float64, count=xy.size, offset=1).reshape(xy.shape)
    np.copyto(out, xy)
    assert not out.flags.aligned
    return out


def read_only(xy: np.ndarray) -> np.ndarray:
    out = xy.copy()
    out.flags.writeable = False
    return out


LAYOUTS = {
    "fortran": lambda xy: np.asfortranarray(xy),
    "third_column": lambda xy: wide(xy, 1),
    "two_extra_columns": lambda xy: wide(xy, 2),
    "column_slice": lambda xy: np.column_stack([xy[:, :1] * 0, xy])[:, 1:],
    "every_other_row": lambda xy: np.repeat(xy, 2, axis=0)[::2],
    "reversed_twice": lambda xy: xy[::-1].copy()[::-1],
    "transposed_view": lambda xy: np.ascontiguousarray(xy.T).T,
    "subclass": lambda xy: xy.copy().view(np.matrix),
    "unaligned": unaligned,
    "read_only": read_only,
}


@pytest.mark.parametrize("make", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_layout_gives_the_result_of_the_c_ordered_copy(make):
    xy = np.ascontiguousarray(regular_polygon(9, radius=2.0) * [1.0, 0.4] + [3.0, -1.0])
    assert_same_result(_native.analyze_shape(make(xy)), _native.analyze_shape(xy))


def test_n_by_3_equals_its_first_two_columns():
    xy = np.array([[0, 0, 9], [4, 0, -1], [4, 3, np.nan], [1, 5, np.inf]], dtype=np.float64)
    assert_same_result(_native.analyze_shape(xy), _native.analyze_shape(xy[:, :2].copy()))


# ---------------------------------------------------------------------------------------
# Failures


@pytest.mark.parametrize("rows", [0, 1, 2])
def test_fewer_than_three_rows(rows):
    with pytest.raises(ValueError) as info:
        _native.analyze_shape(np.zeros((rows, 2)))
    assert str(info.value) == f"contour has {rows} points, need at least 3"
    assert type(info.value) is ValueError


@pytest.mark.parametrize("shape", [(1, 0), (2, 1), (5, 1), (4, 0)], ids=str)
def test_too_few_columns_fail_before_the_row_count(shape):
    with pytest.raises(PanicException) as info:
        _native.analyze_shape(np.zeros(shape))
    assert info.value.args == ("ndarray: index out of bounds",)


def test_no_rows_and_one_column_is_too_short():
    with pytest.raises(ValueError) as info:
        _native.analyze_shape(np.zeros((0, 1)))
    assert str(info.value) == "contour has 0 points, need at least 3"


@pytest.mark.parametrize(
    "points",
    [
        [[0, 0], [1, 1], [2, 2]],
        [[0, 0], [2, 0], [1, 0], [3, 0]],
        [[1, 1], [1, 1], [1, 1]],
        [[0, 5], [0, 1], [0, 3], [0, -2]],
    ],
    ids=["diagonal", "horizontal", "coincident", "vertical"],
)
def test_collinear_contour_fails_in_convexity(points):
    with pytest.raises(PanicException) as info:
        analyze(points)
    assert info.value.args == (COLLINEAR,)


@pytest.mark.parametrize(
    "points",
    [
        [[0, 0], [1, np.nan], [2, 3]],
        [[np.nan, 0], [1, 0], [0, 1]],
        [[0, 0], [1, 0], [np.nan, np.nan]],
    ],
    ids=["y", "pivot_x", "both"],
)
def test_nan_coordinate_fails_in_the_sort(points):
    with pytest.raises(PanicException) as info:
        analyze(points)
    assert info.value.args == (NAN_ANGLE,)


def test_panic_is_not_an_exception():
    with pytest.raises(BaseException) as info:
        analyze([[0, 0], [1, 1], [2, 2]])
    assert not isinstance(info.value, Exception)


@pytest.mark.parametrize(
    ("value", "type_name"),
    [
        (np.zeros((4, 2), dtype=np.float32), "ndarray"),
        (np.zeros((4, 2), dtype=np.int64), "ndarray"),
        (np.zeros((4, 2), dtype=">f8"), "ndarray"),
        (np.zeros(8), "ndarray"),
        (np.zeros((2, 4, 2)), "ndarray"),
        (UNIT_SQUARE, "list"),
        (None, "NoneType"),
    ],
    ids=["float32", "int64", "big_endian", "1d", "3d", "nested_list", "none"],
)
def test_refused_argument(value, type_name):
    with pytest.raises(TypeError) as info:
        _native.analyze_shape(value)
    assert str(info.value) == "argument 'contour_xy': " + NOT_ARRAY.format(type_name)


# ---------------------------------------------------------------------------------------
# Batches


def test_empty_batch():
    assert _native.analyze_shapes_batch([]) == []
    assert _native.analyze_shapes_batch(()) == []


def test_batch_equals_single_calls_in_order():
    rng = np.random.default_rng(11)
    contours = [rng.normal(size=(int(rng.integers(3, 20)), 2)) for _ in range(12)]
    results = _native.analyze_shapes_batch(contours)
    assert type(results) is list and len(results) == len(contours)
    for xy, result in zip(contours, results):
        assert_same_result(result, _native.analyze_shape(xy))


def test_batch_of_a_three_dimensional_array():
    shapes = [(1, 1), (2, 3), (5, 0.2)]
    stack = np.stack([regular_polygon(6, radius=r) * [1.0, s] for r, s in shapes])
    results = _native.analyze_shapes_batch(stack)
    assert len(results) == 3
    for xy, result in zip(stack, results):
        assert_same_result(result, _native.analyze_shape(xy))


def test_batch_keyword_and_tuple():
    contours = (np.array(UNIT_SQUARE, dtype=np.float64), np.array(L_HEXAGON, dtype=np.float64))
    assert len(_native.analyze_shapes_batch(contours=contours)) == 2


TWO_ROWS = np.zeros((2, 2))
COLLINEAR_XY = np.array([[0, 0], [1, 1], [2, 2]], dtype=np.float64)
VALID = np.array(UNIT_SQUARE, dtype=np.float64)


@pytest.mark.parametrize(
    ("contours", "error", "message"),
    [
        ([VALID, TWO_ROWS], ValueError, "contour has 2 points, need at least 3"),
        ([VALID, COLLINEAR_XY, TWO_ROWS], PanicException, COLLINEAR),
        ([TWO_ROWS, COLLINEAR_XY], ValueError, "contour has 2 points, need at least 3"),
        ([VALID, np.zeros((3, 1))], PanicException, "ndarray: index out of bounds"),
    ],
    ids=["too_short", "collinear_first", "too_short_first", "one_column"],
)
def test_batch_raises_the_first_failing_contours_error(contours, error, message):
    with pytest.raises(error) as info:
        _native.analyze_shapes_batch(contours)
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize(
    ("contours", "message"),
    [
        ([COLLINEAR_XY, UNIT_SQUARE], NOT_ARRAY.format("list")),
        ([TWO_ROWS, np.zeros((3, 2), dtype=np.float32)], NOT_ARRAY.format("ndarray")),
        ("abc", "Can't extract `str` to `Vec`"),
        (5, "'int' object cannot be converted to 'Sequence'"),
        ((xy for xy in [VALID]), "'generator' object cannot be converted to 'Sequence'"),
        (np.zeros((4, 2)), NOT_ARRAY.format("ndarray")),
    ],
    ids=["list_item", "float32_item", "str", "int", "generator", "2d_array"],
)
def test_batch_converts_everything_before_analysing(contours, message):
    # The failing contours placed first would raise their own errors if analysed early.
    with pytest.raises(TypeError) as info:
        _native.analyze_shapes_batch(contours)
    assert str(info.value) == "argument 'contours': " + message


def test_threads_calling_at_once_agree_with_one_thread():
    rng = np.random.default_rng(8)
    contours = [rng.normal(size=(int(rng.integers(3, 50)), 2)) for _ in range(200)]
    expected = _native.analyze_shapes_batch(contours)
    barrier = threading.Barrier(4)
    results: list = [None] * 4

    def work(slot: int) -> None:
        barrier.wait()
        results[slot] = _native.analyze_shapes_batch(contours)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for result in results:
        for a, b in zip(result, expected):
            assert_same_result(a, b)
