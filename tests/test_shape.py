"""analyze_shape values: closed forms, thresholds, duplicates, the literal reference."""

from __future__ import annotations

import math

import numpy as np
import pytest

import _native
from _native import PanicException

import shape_reference as ref
from shape_reference import (
    COLLINEAR,
    L_HEXAGON,
    SCALARS,
    UNIT_SQUARE,
    regular_polygon,
)


def analyze(points) -> dict:
    return _native.analyze_shape(np.asarray(points, dtype=np.float64))


# ---------------------------------------------------------------------------------------
# Closed-form values


@pytest.mark.parametrize(
    ("a", "b"),
    [(10.0, 1.0), (1.0, 10.0), (3.0, 2.0), (2.0, 2.0), (0.5, 4.0)],
    ids=["10x1", "1x10", "3x2", "square", "0.5x4"],
)
def test_rectangle(a, b):
    result = analyze([[0, 0], [a, 0], [a, b], [0, b]])
    # Long edges along x have normals along y, so W = diag(b, a).
    expected_angle = math.pi / 2 if a > b else 0.0
    anisotropy = abs(a - b) / (a + b)
    assert result["area"] == a * b
    assert result["perimeter"] == 2 * (a + b)
    assert result["elongation"] == pytest.approx(anisotropy, abs=1e-15)
    assert result["elongation_angle"] == expected_angle
    assert result["shape_index"] == pytest.approx(2 * (a + b) / math.sqrt(a * b), rel=1e-15)
    assert result["convexity"] == 1.0
    np.testing.assert_allclose(
        result["shape_katic"], [0, anisotropy, 1, anisotropy], atol=1e-15, rtol=1e-15
    )



@pytest.mark.parametrize(
    ("n", "katic", "fourier"),
    [
        (3, [0, 0, 0, 1], [0, 0, 1, 0, 1]),
        (4, [0, 0, 1, 0], [0, 0, 0, 1, 0]),
        (6, [0, 0, 0, 1], [0, 0, 0, 0, 1]),
        (8, [0, 0, 0, 0], [0, 0, 0, 0, 0]),
        (12, [0, 0, 0, 0], [0, 0, 0, 0, 0]),
    ],
    ids=["triangle", "square", "hexagon", "octagon", "dodecagon"],
)
def test_regular_polygon(n, katic, fourier):
    # Edge directions are multiples of 2pi/n, so q_k = 1 exactly when n divides k; the
    # corners sample r(phi) n times, so a_m / a_0 = 1 exactly when n divides m.
    result = analyze(regular_polygon(n, radius=2.5, phase=0.3))
    assert result["shape_index"] == pytest.approx(2 * math.sqrt(n * math.tan(math.pi / n)))
    assert result["convexity"] == pytest.approx(1.0, abs=1e-14)
    assert result["elongation"] == pytest.approx(0.0, abs=1e-14)
    np.testing.assert_allclose(result["shape_katic"], katic, atol=1e-14)
    np.testing.assert_allclose(result["fourier_spectrum"], fourier, atol=1e-14)



def test_finely_sampled_circle():
    result = analyze(regular_polygon(2000, radius=3.0))
    assert result["shape_index"] == pytest.approx(2 * math.sqrt(math.pi), rel=1e-5)
    assert result["elongation"] == pytest.approx(0.0, abs=1e-12)
    np.testing.assert_allclose(result["fourier_spectrum"], 0.0, atol=1e-12)
    np.testing.assert_allclose(result["shape_katic"], 0.0, atol=1e-12)


@pytest.mark.parametrize("winding", [1, -1], ids=["ccw", "cw"])
def test_l_shaped_hexagon_convexity(winding):
    result = analyze(L_HEXAGON[::winding])
    assert result["area"] == 3.0
    assert result["convexity"] == 3.0 / 3.5


@pytest.mark.parametrize("winding", [1, -1], ids=["ccw", "cw"])
def test_hull_keeps_the_far_corner_of_a_collinear_edge(winding):
    outline = [(0, 0), (1, 0), (2, 0), (3, 0), (3, 1), (0, 1)]
    assert analyze(outline[::winding])["convexity"] == 1.0


def test_area_below_threshold_gives_zero_shape_index_and_convexity():
    result = analyze([[0, 0], [1, 0], [0, 2e-16]])
    assert result["area"] == pytest.approx(1e-16)
    assert result["shape_index"] == 0.0
    assert result["convexity"] == 0.0


def test_all_edges_below_threshold_give_zero_spectra():
    result = analyze([[0, 0], [1e-16, 0], [0, 1e-16]])
    np.testing.assert_array_equal(result["shape_katic"], np.zeros(4))
    np.testing.assert_array_equal(result["fourier_spectrum"], np.zeros(5))
    assert result["elongation"] == 0.0
    assert result["elongation_angle"] == 0.0



def test_duplicate_vertices_change_no_descriptor_but_the_fourier_samples():
    outline = np.array(L_HEXAGON, dtype=np.float64)
    doubled = np.repeat(outline, [1, 2, 1, 1, 3, 1], axis=0)
    plain, repeated = _native.analyze_shape(outline), _native.analyze_shape(doubled)
    for key in SCALARS:
        assert repeated[key] == pytest.approx(plain[key], abs=1e-15), key
    np.testing.assert_allclose(repeated["shape_katic"], plain["shape_katic"], atol=1e-15)
    # Every vertex is a sample of r(phi), so a repeated one weighs twice.
    assert not np.allclose(repeated["fourier_spectrum"], plain["fourier_spectrum"])



def test_extra_vertices_on_a_straight_edge_change_only_the_fourier_spectrum():
    square = analyze(UNIT_SQUARE)
    split = analyze([[0, 0], [0.5, 0], [1, 0], [1, 1], [0, 1]])
    assert split["convexity"] == 1.0
    assert split["area"] == square["area"] and split["perimeter"] == square["perimeter"]
    np.testing.assert_allclose(split["shape_katic"], square["shape_katic"], atol=1e-15)
    assert not np.allclose(split["fourier_spectrum"], square["fourier_spectrum"])


def assert_matches_reference(xy: np.ndarray) -> None:
    v = ref.vertices(xy)
    try:
        expected_convexity = ref.convexity(v)
    except ValueError:  # all on one line
        with pytest.raises(PanicException) as info:
            _native.analyze_shape(xy)
        assert info.value.args == (COLLINEAR,)
        return
    result = _native.analyze_shape(xy)
    assert result["area"] == ref.area(v)
    assert result["perimeter"] == ref.perimeter(v)
    assert result["shape_index"] == ref.shape_index(v)
    assert result["convexity"] == expected_convexity
    assert result["shape_katic"].tolist() == ref.katic(v)
    assert result["fourier_spectrum"].tolist() == ref.fourier(v)


def test_matches_the_literal_reference_bit_for_bit():
    rng = np.random.default_rng(2026)
    for n in [*rng.integers(3, 40, size=40), 300, 1000]:  # long ones take the general sort
        xy = rng.normal(scale=rng.uniform(0.1, 50.0), size=(n, 2)) + rng.uniform(-100, 100, 2)
        assert_matches_reference(xy)


def test_ties_in_angle_and_distance_follow_the_reference():
    # Small integer grids: repeated points, equal angles and equal distances from the pivot.
    rng = np.random.default_rng(7)
    for n in rng.integers(3, 30, size=60):
        assert_matches_reference(rng.integers(0, 4, size=(n, 2)).astype(np.float64))


