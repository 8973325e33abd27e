"""Shape descriptors against independent checks: invariances, exact hulls, NumPy spectra."""

import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _native
from _native import PanicException


def twice_hull_area(points: list[tuple[int, int]]) -> int:
    """Monotone-chain hull of integer points; its doubled area is an exact integer."""
    def cross(a, b, p):
        return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])

    ordered, hull = sorted(set(points)), []
    for seq in (ordered, ordered[::-1]):  # lower, then upper chain
        chain: list[tuple[int, int]] = []
        for p in seq:
            while len(chain) >= 2 and cross(chain[-2], chain[-1], p) <= 0:
                chain.pop()
            chain.append(p)
        hull += chain[:-1]
    return abs(sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(hull, hull[1:] + hull[:1])))


@pytest.mark.parametrize(("n", "side"), [(5, 4), (12, 4), (29, 3), (300, 20), (1000, 50)])
def test_convexity_of_integer_outlines_is_the_exact_hull_ratio(n, side):
    # Small grids give equal angles, equal distances and repeated points; the long shuffled
    # outlines are far from sorted about any pivot. Integer areas are exact in doubles.
    for xy in np.random.default_rng(n).integers(0, side, size=(40 if n < 100 else 3, n, 2)):
        hull2 = twice_hull_area([(int(x), int(y)) for x, y in xy])
        try:
            result = _native.analyze_shape(xy.astype(np.float64))
        except PanicException as failure:  # only when every vertex is on one line
            assert hull2 == 0 and failure.args[0].endswith("ContourTooShort { n: 2, min: 3 }")
            continue
        assert result["convexity"] == result["area"] / (hull2 / 2)


def spectra(xy: np.ndarray) -> list[float]:
    """q1, q2, q4, q6 of the edge directions weighted by length, then the Fourier amplitudes
    a_m / a_0 (m = 1, 2, 3, 4, 6) of the vertices' radii about their mean, by NumPy."""
    edges = np.roll(xy, -1, axis=0) - xy
    w, phi = np.hypot(*edges.T), np.arctan2(edges[:, 1], edges[:, 0])
    katic = [abs(np.sum(w * np.exp(1j * m * phi))) / w.sum() for m in (1, 2, 4, 6)]
    offsets = xy - xy.mean(axis=0)
    r, phi = np.hypot(*offsets.T), np.arctan2(offsets[:, 1], offsets[:, 0])
    a = [abs(np.mean(r * np.exp(1j * m * phi))) for m in (0, 1, 2, 3, 4, 6)]
    return katic + [x / a[0] for x in a[1:]]


@settings(max_examples=150, deadline=None)
@given(st.integers(0, 2**32 - 1), st.integers(3, 40), st.floats(0, 2 * math.pi),
       st.floats(0.01, 100.0), st.integers(0, 39), st.booleans())
def test_similarity_reversal_and_start_change_only_size_and_axis(seed, n, alpha, k, roll, rev):
    # A star-shaped outline: sorted angles about an offset centre, radii 0.2 to 5.
    rng = np.random.default_rng(seed)
    t = np.sort(rng.uniform(0, 2 * np.pi, n))
    xy = np.column_stack([np.cos(t), np.sin(t)]) * rng.uniform(0.2, 5, (n, 1))
    xy = np.repeat(xy + rng.uniform(-50, 50, 2), rng.integers(1, 3, n), axis=0)  # some twice
    c, s = math.cos(alpha), math.sin(alpha)
    moved = np.roll(xy, roll, axis=0)[:: -1 if rev else 1] @ np.array([[c, s], [-s, c]])
    a = _native.analyze_shape(xy)
    b = _native.analyze_shape((moved + rng.uniform(-100, 100, 2)) * k)
    assert b["area"] / k**2 == pytest.approx(a["area"], rel=1e-9, abs=1e-9)
    assert b["perimeter"] / k == pytest.approx(a["perimeter"], rel=1e-9, abs=1e-9)
    for key in ["elongation", "shape_index", "convexity", "shape_katic", "fourier_spectrum"]:
        np.testing.assert_allclose(b[key], a[key], rtol=1e-9, atol=1e-9, err_msg=key)
    if a["elongation"] > 1e-6:  # the axis turns with the outline, modulo pi
        turn = (b["elongation_angle"] - a["elongation_angle"] - alpha) % math.pi
        assert min(turn, math.pi - turn) < 1e-9 / a["elongation"]
    assert a["shape_index"] == a["perimeter"] / math.sqrt(a["area"])
    assert 0.0 < a["convexity"] <= 1.0 + 1e-12 and 0.0 <= a["elongation_angle"] < math.pi
    np.testing.assert_allclose([*a["shape_katic"], *a["fourier_spectrum"]], spectra(xy),
                               rtol=1e-9, atol=1e-12)
