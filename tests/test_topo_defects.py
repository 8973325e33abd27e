"""detect_defects: worked grids, thresholds, and the winding sense of every charge."""

import math

import numpy as np
import pytest

import _native

PI = math.pi
ANGLE_PI = 3.141592653589793
ONE_FLIP = [0, 3 * PI / 4, PI / 4, PI / 2]  # the scan's loop visits 0, pi/4, pi/2, 3pi/4
WHOLE_TURN = 0.1 + np.array([0.0, 1.0, 3.0, 2.0]) * PI / 2  # four tied quarter turns of phi


def detect(thetas, nx, ny, k=2, threshold=0.5):
    return _native.detect_defects(np.asarray(thetas, dtype=np.float64), nx, ny, k, threshold)


def summary(defects):
    return [(tuple(d["position"]), d["charge"]) for d in defects]


def atan2_field(nx, ny, defects, noise=0.0):
    """theta(row, col) = sum of s * atan2(row - r0, col - c0) over the defects (r0, c0, s)."""
    rows, cols = np.meshgrid(np.arange(nx), np.arange(ny), indexing="ij")
    theta = sum(s * np.arctan2(rows - r0, cols - c0) for r0, c0, s in defects)
    if noise:
        theta = theta + np.random.default_rng(0).normal(0.0, noise, theta.shape)
    return theta.ravel()


def test_one_flip_plaquette():
    # Walked (0,0) -> (0,1) -> (1,1) -> (1,0) the director goes 0, 3pi/4, pi/2, pi/4: it
    # turns by -pi, from the row axis towards the column axis.
    thetas = np.array(ONE_FLIP)
    thetas.flags.writeable = False  # only ever read
    result = _native.detect_defects(thetas, 2, 2, 2, 0.5)
    assert result == [{"position": [0.5, 0.5], "charge": -0.5, "angle": ANGLE_PI}]
    assert list(result[0]) == ["position", "charge", "angle"]


@pytest.mark.parametrize(
    "thetas, nx, ny, k, threshold, expected",
    [
        pytest.param(np.zeros(4), 2, 2, 2, 0.5, [], id="zeros"),
        pytest.param(np.negative(ONE_FLIP), 2, 2, 2, 0.5, [((0.5, 0.5), 0.5)], id="mirror"),
        pytest.param([0, 3 * PI / 2, PI / 2, PI], 2, 2, 1, 0.5, [((0.5, 0.5), -1.0)],
                     id="polar-same-frames"),
        pytest.param(ONE_FLIP, 2, 2, 1, 0.5, [], id="polar-halves-turn-by-zero"),
        pytest.param(WHOLE_TURN, 2, 2, 2, 0.5, [], id="whole-turn-nematic"),
        pytest.param(WHOLE_TURN * 2, 2, 2, 1, 0.5, [], id="whole-turn-polar"),
        pytest.param(WHOLE_TURN / 3, 2, 2, 6, 0.5, [], id="whole-turn-hexatic"),
        # nx = 3, ny = 2: plaquette (1, 0) has the corners 2, 4, 5, 3, here the one-flip loop.
        pytest.param([0, 0, *ONE_FLIP], 3, 2, 2, 0.5, [((1.5, 0.5), -0.5)], id="nx-runs-of-ny"),
        pytest.param(np.array([0, 2, 3, 3, 0, 0, 1, 1, 0]) * PI / 5, 3, 3, 2, 0.5,
                     [((0.5, 1.5), 0.5), ((1.5, 0.5), 0.5)], id="scan-order"),
        pytest.param(np.linspace(0, 3, 4), 2, 2, 0, -1.0, [((0.5, 0.5), math.inf)],
                     id="k-zero-infinite-charge"),
        pytest.param(np.ones(5), 5, 1, 2, -1.0, [], id="one-column"),
        pytest.param([], 1, 0, 2, -1.0, [], id="one-by-zero"),
    ],
)
def test_worked_grids(thetas, nx, ny, k, threshold, expected):
    assert summary(detect(thetas, nx, ny, k, threshold)) == expected


@pytest.mark.parametrize("value", [0.0, 0.3, -2.0, 17.25])
def test_uniform_grid_angles_are_rounding_noise(value):
    thetas = np.full(30, value)
    angles = [d["angle"] for d in detect(thetas, 5, 6, threshold=-1.0)]
    assert len(angles) == 4 * 5 and all(0.0 <= a < 1e-7 for a in angles)
    assert [d["angle"] for d in detect(thetas, 5, 6, threshold=0.0)] == [a for a in angles if a]
    assert detect(thetas, 5, 6, threshold=1e-7) == []
    if value == 0.0:  # identity frames: exactly +0.0 everywhere
        assert [(a, math.copysign(1.0, a)) for a in angles] == [(0.0, 1.0)] * 20


@pytest.mark.parametrize(
    "threshold, count",
    [
        pytest.param(-1.0, 6, id="negative-reports-all"),
        pytest.param(0.5, 2, id="between"),
        # Both angles are exactly pi: one rounding below reports them, pi itself does not.
        pytest.param(math.nextafter(ANGLE_PI, 0), 2, id="just-below-pi"),
        pytest.param(ANGLE_PI, 0, id="pi-strict"),
        pytest.param(4.0, 0, id="above-pi"),
        pytest.param(math.nan, 0, id="nan"),
    ],
)
def test_threshold_variants(threshold, count):
    thetas = np.zeros((3, 4))
    thetas[:2, :2] = [[0, -3 * PI / 4], [-PI / 2, -PI / 4]]  # +1/2 at (0, 0), -1/2 at (0, 1)
    assert len(detect(thetas.ravel(), 3, 4, threshold=threshold)) == count


def test_non_finite_angles_are_never_reported():
    thetas = np.zeros(16)
    thetas[5], thetas[10] = math.nan, math.inf  # points (1, 1) and (2, 2) of a 4x4 grid
    found = {tuple(d["position"]) for d in detect(thetas, 4, 4, threshold=-1.0)}
    assert found == {(0.5, 2.5), (2.5, 0.5)}


# --- the true charge sign: theta = s * atan2(row - r0, col - c0) winds by 2 pi s --------------


@pytest.mark.parametrize("k", [1, 2, 6], ids=["polar", "nematic", "hexatic"])
def test_noisy_field_of_four_defects(k):
    q = 1 / k
    defects = [(3.5, 4.5, q), (3.5, 15.5, -q), (12.5, 9.5, q), (16.5, 3.5, -q)]
    result = detect(atan2_field(20, 22, defects, noise=0.02), 20, 22, k=k)
    assert summary(result) == [((r0, c0), s) for r0, c0, s in defects]
    assert [d["angle"] for d in result] == pytest.approx([PI] * 4, abs=1e-7)

