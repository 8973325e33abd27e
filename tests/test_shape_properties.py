"""Invariances of the shape descriptors, checked on generated outlines with hypothesis."""

from __future__ import annotations

import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import _native
from _native import PanicException

import shape_reference as ref

SCALARS = ["area", "perimeter", "elongation", "shape_index", "convexity"]
SPECTRA = ["shape_katic", "fourier_spectrum"]
PANIC_TEXTS = {
    "called `Result::unwrap()` on an `Err` value: ContourTooShort { n: 2, min: 3 }",
    "called `Option::unwrap()` on a `None` value",
}

settings.register_profile(
    "shape", max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow]
)


@st.composite
def star_outlines(draw) -> np.ndarray:
    """Star-shaped outlines about an offset centre: distinct sorted angles, radii 0.2-5."""
    n = draw(st.integers(3, 40))
    gaps = np.array(draw(st.lists(st.floats(0.05, 1.0), min_size=n, max_size=n)))
    angles = np.cumsum(gaps) / gaps.sum() * 2 * np.pi
    radii = np.array(draw(st.lists(st.floats(0.2, 5.0), min_size=n, max_size=n)))
    centre = np.array(draw(st.tuples(st.floats(-50, 50), st.floats(-50, 50))))
    return np.column_stack([radii * np.cos(angles), radii * np.sin(angles)]) + centre


def rotate(xy: np.ndarray, alpha: float) -> np.ndarray:
    c, s = math.cos(alpha), math.sin(alpha)
    return xy @ np.array([[c, s], [-s, c]])


def assert_close(a: dict, b: dict, keys=SCALARS, rtol=1e-9, atol=1e-9) -> None:
    for key in keys:
        assert a[key] == pytest.approx(b[key], rel=rtol, abs=atol), key
    for key in SPECTRA:
        np.testing.assert_allclose(a[key], b[key], rtol=rtol, atol=atol, err_msg=key)


def axis_difference(a: float, b: float) -> float:
    """Distance between two axis angles on the circle of circumference pi."""
    d = (a - b) % math.pi
    return min(d, math.pi - d)


def assert_same_axis(a: dict, b: dict) -> None:
    """The elongation axis agrees wherever the outline has one (it is arbitrary at 0)."""
    if b["elongation"] > 1e-6:
        shift = axis_difference(a["elongation_angle"], b["elongation_angle"])
        assert shift < 1e-9 / b["elongation"]


@settings.get_profile("shape")
@given(star_outlines(), st.floats(0.0, 2 * math.pi))
def test_rotation_turns_only_the_elongation_angle(xy, alpha):
    plain = _native.analyze_shape(xy)
    turned = _native.analyze_shape(rotate(xy, alpha))
    assert_close(turned, plain)
    assert_same_axis(turned, {**plain, "elongation_angle": plain["elongation_angle"] + alpha})


@settings.get_profile("shape")
@given(star_outlines(), st.tuples(st.floats(-100, 100), st.floats(-100, 100)))
def test_translation_changes_nothing(xy, offset):
    assert_close(_native.analyze_shape(xy + np.array(offset)), _native.analyze_shape(xy))


@settings.get_profile("shape")
@given(star_outlines())
def test_reversal_changes_nothing(xy):
    plain = _native.analyze_shape(xy)
    backwards = _native.analyze_shape(xy[::-1])
    assert_close(backwards, plain, rtol=1e-12, atol=1e-12)
    assert_same_axis(backwards, plain)


@settings.get_profile("shape")
@given(star_outlines(), st.integers(0, 39))
def test_starting_vertex_changes_nothing(xy, shift):
    plain = _native.analyze_shape(xy)
    rolled = _native.analyze_shape(np.roll(xy, shift % len(xy), axis=0))
    assert_close(rolled, plain, rtol=1e-12, atol=1e-12)
    assert_same_axis(rolled, plain)


@settings.get_profile("shape")
@given(star_outlines(), st.floats(0.01, 100.0))
def test_scaling(xy, factor):
    plain = _native.analyze_shape(xy)
    scaled = _native.analyze_shape(xy * factor)
    assert scaled["area"] == pytest.approx(plain["area"] * factor**2, rel=1e-9)
    assert scaled["perimeter"] == pytest.approx(plain["perimeter"] * factor, rel=1e-12)
    assert_close(scaled, plain, keys=["elongation", "shape_index", "convexity"])


@settings.get_profile("shape")
@given(star_outlines())
def test_ranges_and_the_w1_eigen_decomposition(xy):
    result = _native.analyze_shape(xy)
    assert 0.0 < result["convexity"] <= 1.0 + 1e-12
    assert 0.0 <= result["elongation"] <= 1.0
    assert 0.0 <= result["elongation_angle"] < math.pi
    assert np.all((result["shape_katic"] >= 0) & (result["shape_katic"] <= 1 + 1e-12))
    # The same quantities from NumPy's symmetric eigen-solver on the literal W1 tensor.
    w = ref.w1_tensor(ref.vertices(xy))
    assert np.trace(w) == pytest.approx(result["perimeter"] / 2, rel=1e-12)
    values, vectors = np.linalg.eigh(w)
    assert result["elongation"] == pytest.approx(
        (values[1] - values[0]) / (values[1] + values[0]), abs=1e-12
    )
    if result["elongation"] > 1e-6:
        angle = math.atan2(vectors[1, 1], vectors[0, 1]) % math.pi
        assert axis_difference(result["elongation_angle"], angle) < 1e-9 / result["elongation"]


@settings.get_profile("shape")
@given(
    hnp.arrays(
        np.float64,
        st.tuples(st.integers(3, 12), st.just(2)),
        elements=st.floats(-1e6, 1e6, allow_nan=False, allow_infinity=False),
    )
)
def test_any_finite_outline_matches_the_literal_reference(xy):
    v = ref.vertices(xy)
    try:
        expected_convexity = ref.convexity(v)
    except ValueError:
        with pytest.raises(PanicException) as info:
            _native.analyze_shape(xy)
        assert info.value.args[0] in PANIC_TEXTS
        return
    result = _native.analyze_shape(xy)
    assert result["area"] == ref.area(v)
    assert result["perimeter"] == ref.perimeter(v)
    assert result["shape_index"] == ref.shape_index(v)
    assert result["convexity"] == expected_convexity
    assert result["shape_katic"].tolist() == ref.katic(v)
    assert result["fourier_spectrum"].tolist() == ref.fourier(v)


@settings.get_profile("shape")
@given(hnp.arrays(np.float64, st.tuples(st.integers(0, 8), st.integers(0, 4))))
def test_no_crash_on_any_array(xy):
    """Any float64 array, NaN and infinities included, gives a dict or a named failure."""
    rows, cols = xy.shape
    try:
        result = _native.analyze_shape(xy)
    except ValueError as error:
        assert rows < 3 and (cols >= 2 or rows == 0)
        assert str(error) == f"contour has {rows} points, need at least 3"
    except PanicException as error:
        if rows >= 1 and cols < 2:
            assert error.args == ("ndarray: index out of bounds",)
        else:
            assert error.args[0] in PANIC_TEXTS
    else:
        assert rows >= 3 and cols >= 2
        assert list(result)[:2] == ["area", "perimeter"]
