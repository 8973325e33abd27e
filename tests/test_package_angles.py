"""Angle conventions: synthetic ellipses and stripes with known axes, and round trips."""

import math

import numpy as np
import pytest

import _native
from tazmir import angles

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


def ellipse_mask(theta, shape=(81, 81), a=20.0, b=7.0):
    """Filled ellipse with its long axis along director angle `theta`, label 1."""
    rows, cols = np.indices(shape, dtype=np.float64)
    r0, c0 = (shape[0] - 1) / 2, (shape[1] - 1) / 2
    along = (cols - c0) * math.cos(theta) + (rows - r0) * math.sin(theta)
    across = -(cols - c0) * math.sin(theta) + (rows - r0) * math.cos(theta)
    return ((along / a) ** 2 + (across / b) ** 2 <= 1.0).astype(np.int32)


def axis_distance(a, b, period=math.pi):
    """Distance between two axis angles, modulo their period."""
    d = abs(a - b) % period
    return min(d, period - d)


@pytest.mark.parametrize("director, row_axis, skimage, orientationj", KNOWN_AXES)
def test_known_axes_in_every_convention(director, row_axis, skimage, orientationj):
    assert angles.director_to_row_axis(director) == pytest.approx(row_axis, abs=1e-12)
    assert angles.row_axis_to_director(row_axis) == pytest.approx(director, abs=1e-12)
    assert angles.to_skimage_orientation(director) == pytest.approx(skimage, abs=1e-12)
    assert angles.to_orientationj_degrees(director) == pytest.approx(orientationj, abs=1e-12)
    assert axis_distance(angles.from_skimage_orientation(skimage), director) < 1e-12
    assert axis_distance(angles.from_orientationj_degrees(orientationj), director) < 1e-12


@pytest.mark.parametrize("director, row_axis, skimage, orientationj", KNOWN_AXES)
def test_structure_tensor_of_stripes_along_a_known_axis(director, row_axis, skimage, orientationj):
    rows, cols = np.indices((64, 64), dtype=np.float64)
    # Values constant along the axis: they vary only across it.
    across = -cols * math.sin(director) + rows * math.cos(director)
    field = _native.compute_structure_tensor(np.sin(across * 0.5), 2.0)
    theta = field["theta"][32, 32]
    # Exact on the axes and diagonals; the discrete gradient is off by a little in between.
    assert axis_distance(theta, director) < 0.01 and field["coherence"][32, 32] > 0.9
    assert angles.to_orientationj_degrees(theta) == pytest.approx(orientationj, abs=0.5)


@pytest.mark.parametrize("director, row_axis, skimage, orientationj", KNOWN_AXES)
def test_synthetic_ellipse_axis_from_our_fit_and_scikit_image(director, row_axis, skimage,
                                                              orientationj):
    measure = pytest.importorskip("skimage.measure")
    mask = ellipse_mask(director)
    fitted = _native.fit_nuclear_ellipses(mask)[0]
    assert axis_distance(fitted["angle"], row_axis) < 0.02
    assert axis_distance(angles.row_axis_to_director(fitted["angle"]), director) < 0.02
    region = measure.regionprops(mask)[0]
    assert axis_distance(angles.from_skimage_orientation(region.orientation), director) < 0.02
    assert axis_distance(angles.to_skimage_orientation(director), region.orientation) < 0.02


def test_shape_normal_angle_turns_into_the_long_axis():
    # A rectangle long along x (the column axis) has its edge normals along y.
    rectangle = np.array([[0.0, 0.0], [10.0, 0.0], [10.0, 1.0], [0.0, 1.0]])
    normal = _native.analyze_shape(rectangle)["elongation_angle"]
    assert normal == pytest.approx(math.pi / 2)
    assert angles.normal_to_director(normal) == pytest.approx(0.0, abs=1e-12)
    assert angles.normal_to_director(0.0) == pytest.approx(math.pi / 2)


SAMPLES = np.concatenate([np.linspace(0.0, math.pi, 721, endpoint=False), [math.pi - 1e-17,
                                                                             5e-324]])


@pytest.mark.parametrize(
    "forward, backward",
    [
        (angles.to_skimage_orientation, angles.from_skimage_orientation),
        (angles.to_orientationj_degrees, angles.from_orientationj_degrees),
        (angles.director_to_row_axis, angles.row_axis_to_director),
    ],
    ids=["skimage", "orientationj", "row-axis"],
)
def test_round_trips_return_the_director(forward, backward):
    back = backward(forward(SAMPLES))
    assert isinstance(back, np.ndarray) and back.shape == SAMPLES.shape
    assert max(axis_distance(a, b) for a, b in zip(back, SAMPLES)) < 1e-14
    assert np.all((back >= 0.0) & (back < math.pi))


def test_ranges_are_half_open_the_documented_way():
    theta = np.linspace(-10.0, 10.0, 4001)
    skimage = angles.to_skimage_orientation(theta)
    assert np.all((skimage > -math.pi / 2) & (skimage <= math.pi / 2))
    degrees = angles.to_orientationj_degrees(theta)
    assert np.all((degrees > -90.0) & (degrees <= 90.0))
    folded = angles.fold(theta)
    assert np.all((folded >= 0.0) & (folded < math.pi))
    # A tiny negative angle folds to 0, never to pi itself.
    assert angles.fold(-1e-20) == 0.0
    assert angles.to_skimage_orientation(math.pi / 2) == 0.0


def test_scalars_in_scalars_out():
    assert type(angles.fold(4.0)) is float
    assert type(angles.to_orientationj_degrees(np.float64(1.0))) is float
    assert angles.fold([4.0, -1.0]).shape == (2,)
