"""estimate_ldg_params: Landau coefficients from order parameters and a correlation length."""

import math

import numpy as np
import pytest

import _native

INF = math.inf


def ldg_reference(s_values, correlation_length, pixel_size):
    if len(s_values) == 0:
        return {"a": 0.0, "b": 0.0, "c": 0.0, "k_elastic": 0.0}
    total = -0.0
    for s in s_values:
        total += float(s) * float(s)
    a = total / float(len(s_values)) * -2.0
    length = correlation_length * pixel_size
    return {"a": a, "b": 0.0, "c": 1.0, "k_elastic": abs(a) * (length * length)}


def bits(value):
    return np.float64(value).tobytes()


def assert_same(result, expected):
    assert list(result) == ["a", "b", "c", "k_elastic"]
    for key in expected:
        assert bits(result[key]) == bits(expected[key]), (key, result[key], expected[key])


def test_empty_distribution_gives_all_zero_including_c():
    result = _native.estimate_ldg_params(np.array([], dtype=np.float64), 12.0, 0.5)
    assert_same(result, {"a": 0.0, "b": 0.0, "c": 0.0, "k_elastic": 0.0})


@pytest.mark.parametrize("s", [0.25, 0.5, 0.8, 1.0], ids=str)
def test_equal_order_gives_minus_two_s_squared(s):
    result = _native.estimate_ldg_params(np.full(8, s), 4.0, 0.5)
    assert result == {"a": -2 * s * s, "b": 0.0, "c": 1.0, "k_elastic": 2 * s * s * 4.0}


def test_zero_order_gives_negative_zero_a():
    result = _native.estimate_ldg_params(np.zeros(5), 3.0, 0.2)
    assert_same(result, {"a": -0.0, "b": 0.0, "c": 1.0, "k_elastic": 0.0})
    assert repr(result["a"]) == "-0.0"


@pytest.mark.parametrize("n", [1, 2, 3, 7, 100, 1001], ids=lambda n: f"n={n}")
def test_matches_sequential_sum_bit_for_bit(n):
    rng = np.random.default_rng(n)
    s_values = rng.uniform(0, 1, n)
    assert_same(
        _native.estimate_ldg_params(s_values, 7.3, 0.65), ldg_reference(s_values, 7.3, 0.65)
    )


def test_sum_order_is_index_order():
    # Reordering changes the rounded sum; the result follows the given order.
    s_values = np.array([1e8, 1.0, -1e8, 1e-8, 3.0])
    forward = _native.estimate_ldg_params(s_values, 1.0, 1.0)
    backward = _native.estimate_ldg_params(s_values[::-1].copy(), 1.0, 1.0)
    assert_same(forward, ldg_reference(s_values, 1.0, 1.0))
    assert_same(backward, ldg_reference(s_values[::-1], 1.0, 1.0))


def test_elastic_constant_follows_correlation_length_in_micrometres():
    # xi = 10 px * 0.5 um/px = 5 um; |a| = 2 * 0.25 = 0.5; k = 0.5 * 25.
    result = _native.estimate_ldg_params(np.full(3, 0.5), 10.0, 0.5)
    assert result["k_elastic"] == 12.5


@pytest.mark.parametrize(
    ("length", "pixel"), [(-4.0, 0.5), (4.0, -0.5), (-4.0, -0.5)], ids=["neg-xi", "neg-px", "both"]
)
def test_signs_of_lengths_do_not_matter(length, pixel):
    s_values = np.array([0.3, 0.6, 0.9])
    assert _native.estimate_ldg_params(s_values, length, pixel) == _native.estimate_ldg_params(
        s_values, 4.0, 0.5
    )


def test_infinite_correlation_length():
    result = _native.estimate_ldg_params(np.array([0.5]), INF, 0.3)
    assert result["k_elastic"] == INF
    zero = _native.estimate_ldg_params(np.array([0.0]), INF, 0.3)
    assert math.isnan(zero["k_elastic"])


def test_nan_order_parameter():
    result = _native.estimate_ldg_params(np.array([0.2, math.nan, 0.4]), 2.0, 1.0)
    assert math.isnan(result["a"])
    assert math.isnan(result["k_elastic"])
    assert result["b"] == 0.0
    assert result["c"] == 1.0


def test_input_is_not_written_and_read_only_is_accepted():
    s_values = np.array([0.1, 0.2, 0.3])
    s_values.flags.writeable = False
    before = s_values.copy()
    _native.estimate_ldg_params(s_values, 1.0, 1.0)
    assert np.array_equal(s_values, before)


def test_keywords_in_any_order():
    s_values = np.array([0.1, 0.9])
    assert _native.estimate_ldg_params(
        pixel_size=0.5, s_values=s_values, correlation_length=3.0
    ) == _native.estimate_ldg_params(s_values, 3.0, 0.5)


@pytest.mark.parametrize(
    ("args", "kind", "message"),
    [
        ((np.zeros(6)[::2], 1.0, 1.0), TypeError, "The given array is not contiguous"),
        (
            (np.zeros(3, dtype=np.float32), 1.0, 1.0),
            TypeError,
            "argument 's_values': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            (np.zeros(3), "x", 1.0),
            TypeError,
            "argument 'correlation_length': must be real number, not str",
        ),
        (
            (np.zeros(3), 1.0, [1.0]),
            TypeError,
            "argument 'pixel_size': must be real number, not list",
        ),
    ],
    ids=["strided", "float32", "str-length", "list-pixel"],
)
def test_bad_arguments(args, kind, message):
    with pytest.raises(kind) as info:
        _native.estimate_ldg_params(*args)
    assert str(info.value) == message
