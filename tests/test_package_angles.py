"""Angle conventions: synthetic ellipses and stripes with known axes, and round trips."""

import math

import numpy as np
import pytest

import _native
from tazmir import angles

from conftest import inside_ellipse

# Long axes, director convention (from the column axis towards the row axis, rows downwards),
# with what other tools report for them.
KNOWN_AXES = [
    # director, row-axis (nuclei), scikit-image orientation, OrientationJ degrees
    pytest.param(0.0, math.pi / 2, math.pi / 2, 0.0, id="horizontal"),
    pytest.param(math.pi / 2, 0.0, 0.0, 90.0, id="vertical"),
    pytest.param(math.pi / 4, math.pi / 4, math.pi / 4, -45.0, id="down-right"),
    pytest.param(3 * math.pi / 4, 3 * math.pi / 4, -math.pi / 4, 45.0, id="up-right"),
    pytest.param(math.pi / 6, math.pi / 3, math.pi / 3, -30.0, id="shallow-down-right"),
]


def axis_distance(a, b, period=math.pi):
    """Distance between two axis angles, modulo their period."""
    d = abs(a - b) % period
    return min(d, period - d)


@pytest.mark.parametrize("director, row_axis, skimage, orientationj", KNOWN_AXES)
def test_known_axes_in_every_convention_from_stripes_and_ellipses(director, row_axis, skimage,
                                                                  orientationj):
    assert angles.director_to_row_axis(director) == pytest.approx(row_axis, abs=1e-12)
    assert angles.row_axis_to_director(row_axis) == pytest.approx(director, abs=1e-12)
    assert angles.to_skimage_orientation(director) == pytest.approx(skimage, abs=1e-12)
    assert angles.to_orientationj_degrees(director) == pytest.approx(orientationj, abs=1e-12)
    assert axis_distance(angles.from_skimage_orientation(skimage), director) < 1e-12
    assert axis_distance(angles.from_orientationj_degrees(orientationj), director) < 1e-12
    # Stripes with values constant along the axis: they vary only across it.
    rows, cols = np.indices((64, 64), dtype=np.float64)
    across = -cols * math.sin(director) + rows * math.cos(director)
    field = _native.compute_structure_tensor(np.sin(across * 0.5), 2.0)
    # Exact on the axes and diagonals; the discrete gradient is off by a little in between.
    assert axis_distance(field["theta"][32, 32], director) < 0.01
    assert field["coherence"][32, 32] > 0.9
    # A filled ellipse: our moments and scikit-image's on the same mask.
    mask = inside_ellipse((81, 81), (40, 40), 20.0, 7.0, director).astype(np.int32)
    region = pytest.importorskip("skimage.measure").regionprops(mask)[0]
    fitted = _native.fit_nuclear_ellipses(mask)[0]
    assert axis_distance(fitted["angle"], row_axis) < 0.02
    assert axis_distance(angles.from_skimage_orientation(region.orientation), director) < 0.02


SAMPLES = np.append(np.linspace(0.0, math.pi, 721, endpoint=False), [math.pi - 1e-17, 5e-324])


@pytest.mark.parametrize(
    "forward, backward",
    [(angles.to_skimage_orientation, angles.from_skimage_orientation),
     (angles.to_orientationj_degrees, angles.from_orientationj_degrees),
     (angles.director_to_row_axis, angles.row_axis_to_director)],
    ids=["skimage", "orientationj", "row-axis"],
)
def test_round_trips_return_the_director(forward, backward):
    back = backward(forward(SAMPLES))
    assert isinstance(back, np.ndarray) and back.shape == SAMPLES.shape
    assert max(axis_distance(a, b) for a, b in zip(back, SAMPLES)) < 1e-14
    assert np.all((back >= 0.0) & (back < math.pi))


def test_ranges_are_half_open_the_documented_way_and_scalars_stay_scalars():
    theta = np.linspace(-10.0, 10.0, 4001)
    skimage = angles.to_skimage_orientation(theta)
    assert np.all((skimage > -math.pi / 2) & (skimage <= math.pi / 2))
    degrees = angles.to_orientationj_degrees(theta)
    assert np.all((degrees > -90.0) & (degrees <= 90.0))
    folded = angles.fold(theta)
    assert np.all((folded >= 0.0) & (folded < math.pi))
    # A tiny negative angle folds to 0, never to pi itself.
    assert angles.fold(-1e-20) == 0.0 and angles.to_skimage_orientation(math.pi / 2) == 0.0
    assert type(angles.fold(4.0)) is float
    assert type(angles.to_orientationj_degrees(np.float64(1.0))) is float
    assert angles.fold([4.0, -1.0]).shape == (2,)
    # A shape's elongation axis is that of its edge normals (tests/test_shape.py): a right
    # angle from the long axis.
    assert (angles.normal_to_director(math.pi / 2), angles.normal_to_director(0.0)) == (
        pytest.approx(0.0, abs=1e-12), pytest.approx(math.pi / 2))
