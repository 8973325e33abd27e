"""detect_defects: the holonomy scan over a director grid, charges with their winding sense."""

import math
import os
import sys
import threading

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _native

sys.path.insert(0, os.path.dirname(__file__))
from _topo_reference import frame_scan, winding_charges  # noqa: E402

PI = math.pi
LENGTH_FAILURE = (
    "assertion `left == right` failed: frames.len() must equal nx * ny\n  left: {}\n right: {}")
EMPTY_FAILURE = "index out of bounds: the len is 0 but the index is 0"


def detect(thetas, nx, ny, k=2, threshold=0.5):
    return _native.detect_defects(np.asarray(thetas, dtype=np.float64), nx, ny, k, threshold)


def field(nx, ny, centres, k, noise=0.0, seed=0):
    """Angles of point (i, j) on an nx-by-ny grid around defects (row, col, charge)."""
    rows, cols = np.meshgrid(np.arange(nx), np.arange(ny), indexing="ij")
    theta = np.zeros((nx, ny))
    for r0, c0, charge in centres:
        theta += charge * np.arctan2(rows - r0, cols - c0)
    if noise:
        theta += np.random.default_rng(seed).normal(0.0, noise, theta.shape)
    return theta


def summary(defects):
    return [(tuple(d["position"]), d["charge"]) for d in defects]


# --- the small grids of the text -------------------------------------------------------------


def test_one_flip_plaquette_is_a_half_defect_winding_clockwise():
    # Walked (0,0) -> (0,1) -> (1,1) -> (1,0) the director goes 0, 3pi/4, pi/2, pi/4: it
    # turns by -pi, from the row axis towards the column axis.
    result = detect([0, 3 * PI / 4, PI / 4, PI / 2], 2, 2)
    assert result == [{"position": [0.5, 0.5], "charge": -0.5, "angle": 3.141592653589793}]
    assert list(result[0]) == ["position", "charge", "angle"]


def test_mirror_image_has_the_opposite_charge():
    result = detect([0, -3 * PI / 4, -PI / 4, -PI / 2], 2, 2)
    assert result == [{"position": [0.5, 0.5], "charge": 0.5, "angle": 3.141592653589793}]


@pytest.mark.parametrize(
    "thetas, expected",
    [
        pytest.param([0, 3 * PI / 4, PI / 4, PI / 2], [], id="halves-turn-by-zero"),
        pytest.param([0, 3 * PI / 2, PI / 2, PI],
                     [{"position": [0.5, 0.5], "charge": -1.0, "angle": 3.141592653589793}],
                     id="same-frames-as-nematic"),
    ],
)
def test_polar_order(thetas, expected):
    assert detect(thetas, 2, 2, k=1) == expected


def test_zero_grid_has_no_defects():
    assert _native.detect_defects(np.zeros(4), 2, 2, 2, 0.5) == []
    # All frames are the identity: every angle is exactly 0.
    every = _native.detect_defects(np.zeros(12), 3, 4, 2, -1.0)
    assert [d["angle"] for d in every] == [0.0] * 6
    assert all(math.copysign(1.0, d["angle"]) == 1.0 for d in every)


@pytest.mark.parametrize("value", [0.0, 0.3, -2.0, 17.25])
def test_uniform_grid(value):
    thetas = np.full(30, value)
    assert detect(thetas, 5, 6, threshold=1e-7) == []
    noise = detect(thetas, 5, 6, threshold=0.0)
    assert all(0.0 < d["angle"] < 1e-7 for d in noise)
    assert len(detect(thetas, 5, 6, threshold=-1.0)) == 4 * 5


@pytest.mark.parametrize("k, scale", [(2, 1.0), (1, 2.0), (6, 1 / 3)])
def test_whole_turn_of_the_lifted_angle_is_not_a_defect(k, scale):
    # phi = (theta * k) / 2 goes 0.1 + (0, pi/2, pi, 3pi/2) around the loop: four quarter
    # turns, each kept by the gauge fix (its scores tie), a whole turn in all.
    quarter_turns = (0.1 + np.array([0.0, 1.0, 3.0, 2.0]) * PI / 2) * scale
    assert detect(quarter_turns, 2, 2, k=k) == []
    assert frame_scan(quarter_turns, 2, 2, k, 0.5) == []


def test_non_square_grid_is_read_as_nx_runs_of_ny():
    # nx = 3, ny = 2: plaquette (0, 0) has corners 0, 2, 3, 1 and (1, 0) corners 2, 4, 5, 3.
    thetas = np.zeros(6)
    thetas[[2, 4, 5, 3]] = [0, PI / 4, PI / 2, 3 * PI / 4]  # scan loop of (1, 0) turns by pi
    result = detect(thetas, 3, 2)
    assert [d["position"] for d in result] == [[1.5, 0.5]]
    assert result[0]["charge"] == -0.5


def test_records_come_in_scan_order():
    fifths = np.array([0, 2, 3, 3, 0, 0, 1, 1, 0]) * PI / 5
    assert summary(detect(fifths, 3, 3)) == [((0.5, 1.5), 0.5), ((1.5, 0.5), 0.5)]


# --- thresholds ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "threshold, count",
    [
        pytest.param(-1.0, 6, id="negative-reports-all"),
        pytest.param(0.5, 2, id="between"),
        pytest.param(3.141592653589793, 0, id="pi"),
        pytest.param(4.0, 0, id="above-pi"),
        pytest.param(math.nan, 0, id="nan"),
    ],
)
def test_threshold_variants(threshold, count):
    thetas = np.zeros((3, 4))
    thetas[:2, :2] = [[0, -3 * PI / 4], [-PI / 2, -PI / 4]]  # +1/2 at (0, 0), -1/2 at (0, 1)
    assert len(detect(thetas.ravel(), 3, 4, threshold=threshold)) == count


def test_threshold_is_strict_at_the_exact_angle():
    thetas = [0, 3 * PI / 4, PI / 4, PI / 2]
    angle = detect(thetas, 2, 2)[0]["angle"]
    assert detect(thetas, 2, 2, threshold=angle) == []
    assert len(detect(thetas, 2, 2, threshold=math.nextafter(angle, 0))) == 1


# --- the true charge sign ----------------------------------------------------------------------


@pytest.mark.parametrize(
    "k, charge",
    [
        pytest.param(2, 0.5, id="nematic-plus-half"),
        pytest.param(2, -0.5, id="nematic-minus-half"),
        pytest.param(1, 1.0, id="polar-plus-one"),
        pytest.param(1, -1.0, id="polar-minus-one"),
        pytest.param(6, 1 / 6, id="hexatic-plus-sixth"),
        pytest.param(6, -1 / 6, id="hexatic-minus-sixth"),
    ],
)
@pytest.mark.parametrize(
    "nx, ny, centre", [(8, 8, (3.5, 4.5)), (7, 12, (2.5, 8.5)), (12, 5, (6.5, 1.5))])
def test_single_defect_charge(k, charge, nx, ny, centre):
    # theta = (charge) * atan2(row - r0, col - c0): the director turns by 2 pi * charge going
    # from the column axis towards the row axis.
    thetas = field(nx, ny, [(centre[0], centre[1], charge)], k).ravel()
    result = detect(thetas, nx, ny, k=k)
    assert summary(result) == [(centre, charge)]
    assert result[0]["angle"] == pytest.approx(PI, abs=1e-7)


def test_pair_of_opposite_half_defects_sums_to_zero():
    thetas = field(10, 14, [(4.5, 3.5, 0.5), (4.5, 9.5, -0.5)], 2).ravel()
    result = detect(thetas, 10, 14)
    assert summary(result) == [((4.5, 3.5), 0.5), ((4.5, 9.5), -0.5)]
    charges = [d["charge"] for d in result]
    assert _native.validate_poincare_hopf(charges, 0, 1e-12)["charge_sum"] == 0.0


@pytest.mark.parametrize("k", [1, 2, 6])
def test_charges_match_a_winding_number_count(k):
    centres = [(3.5, 4.5, 1 / k), (3.5, 15.5, -1 / k), (12.5, 9.5, 1 / k), (16.5, 3.5, -1 / k)]
    grid = field(20, 22, centres, k, noise=0.02, seed=k)
    expected = winding_charges(grid.tolist(), k)
    result = detect(grid.ravel(), 20, 22, k=k)
    got = {(int(d["position"][0]), int(d["position"][1])): d["charge"] for d in result}
    assert got == expected
    assert len(got) == 4


# --- bit for bit against the literal 3x3 scan --------------------------------------------------


@pytest.mark.parametrize("k", [0, 1, 2, 6])
@pytest.mark.parametrize("threshold", [-1.0, 0.0, 1e-8, 0.5, 2.0])
def test_angles_match_the_literal_frame_scan(k, threshold):
    rng = np.random.default_rng(100 + k)
    thetas = rng.uniform(-4, 4, 6 * 7)
    thetas[[5, 17]] = [math.nan, math.inf]
    expected = frame_scan(thetas, 6, 7, k, threshold)
    result = detect(thetas, 6, 7, k=k, threshold=threshold)
    assert [(d["position"], d["angle"]) for d in result] == [
        ([i + 0.5, j + 0.5], angle) for i, j, angle in expected]
    assert all(abs(d["charge"]) == (1 / k if k else math.inf) for d in result)


def test_non_finite_angles_are_never_reported():
    thetas = np.zeros(16)
    thetas[5] = math.nan
    result = detect(thetas, 4, 4, threshold=-1.0)
    touching = {(0, 0), (0, 1), (1, 0), (1, 1)}
    assert {(int(d["position"][0]), int(d["position"][1])) for d in result} == {
        (i, j) for i in range(3) for j in range(3)} - touching


def test_k_zero_gives_infinite_charges_at_negative_threshold():
    result = detect(np.linspace(0, 3, 4), 2, 2, k=0, threshold=-1.0)
    assert result == [{"position": [0.5, 0.5], "charge": math.inf, "angle": 0.0}]


# --- grid shape and argument failures -----------------------------------------------------------


@pytest.mark.parametrize(
    "n, nx, ny",
    [pytest.param(5, 2, 2, id="one-extra"), pytest.param(3, 2, 2, id="one-short"),
     pytest.param(4, 0, 4, id="zero-rows"), pytest.param(0, 3, 1, id="empty-for-3x1")],
)
def test_length_failure(n, nx, ny):
    with pytest.raises(_native.PanicException) as info:
        detect(np.zeros(n), nx, ny)
    assert str(info.value) == LENGTH_FAILURE.format(n, nx * ny)


@pytest.mark.parametrize("nx, ny", [(0, 2), (2, 0), (0, 0), (5, 0)])
def test_empty_dimension_is_an_index_failure(nx, ny):
    with pytest.raises(_native.PanicException) as info:
        detect(np.zeros(0), nx, ny)
    assert str(info.value) == EMPTY_FAILURE


@pytest.mark.parametrize("nx, ny, n", [(1, 5, 5), (5, 1, 5), (0, 1, 0), (1, 0, 0), (1, 1, 1)])
def test_single_row_or_column_is_empty(nx, ny, n):
    assert detect(np.full(n, 1.0), nx, ny, threshold=-1.0) == []


def test_array_layouts():
    base = np.array([0, 3 * PI / 4, PI / 4, PI / 2, 9.0, 9.0])
    expected = detect(base[:4], 2, 2)
    assert _native.detect_defects(base[:4], 2, 2, 2, 0.5) == expected
    fortran = np.asfortranarray(base[:4])
    assert _native.detect_defects(fortran, 2, 2, 2, 0.5) == expected
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        _native.detect_defects(np.repeat(base[:4], 2)[::2], 2, 2, 2, 0.5)
    with pytest.raises(TypeError, match="^The given array is not contiguous$"):
        _native.detect_defects(base[3::-1], 2, 2, 2, 0.5)


@pytest.mark.parametrize(
    "thetas",
    [pytest.param(np.zeros(4, np.float32), id="float32"),
     pytest.param(np.zeros((2, 2)), id="two-dimensional"),
     pytest.param([0.0, 0.0, 0.0, 0.0], id="list")],
)
def test_wrong_array_kind(thetas):
    with pytest.raises(TypeError) as info:
        _native.detect_defects(thetas, 2, 2, 2, 0.5)
    kind = type(thetas).__qualname__
    assert str(info.value) == (
        f"argument 'thetas': '{kind}' object cannot be converted to 'PyArray<T, D>'")


def test_negative_k_overflows():
    with pytest.raises(OverflowError):
        _native.detect_defects(np.zeros(4), 2, 2, -1, 0.5)


def test_input_is_not_written():
    thetas = np.array([0, 3 * PI / 4, PI / 4, PI / 2])
    thetas.flags.writeable = False
    before = thetas.copy()
    detect(thetas, 2, 2)
    assert np.array_equal(thetas, before)


def test_point_count_beyond_the_address_range_fails_on_an_index():
    # nx * ny = 2**64 + 4 wraps to the length 4; the walk leaves the grid at its second row.
    with pytest.raises(_native.PanicException) as info:
        detect(np.zeros(4), 2**63 + 2, 2)
    assert str(info.value) == "index out of bounds: the len is 4 but the index is 4"


# --- any grid, any threshold ---------------------------------------------------------------------


@settings(max_examples=150, deadline=None)
@given(
    nx=st.integers(2, 5),
    ny=st.integers(2, 5),
    k=st.integers(0, 7),
    data=st.data(),
    threshold=st.one_of(st.floats(allow_nan=True), st.sampled_from([0.0, 1e-7, 0.5, PI])),
)
def test_any_grid_matches_the_literal_frame_scan(nx, ny, k, data, threshold):
    thetas = data.draw(st.lists(st.one_of(st.floats(-10, 10), st.floats()),
                                min_size=nx * ny, max_size=nx * ny))
    result = detect(thetas, nx, ny, k=k, threshold=threshold)
    expected = frame_scan(thetas, nx, ny, k, threshold)
    assert [(d["position"], d["angle"]) for d in result] == [
        ([i + 0.5, j + 0.5], angle) for i, j, angle in expected]


def test_concurrent_calls_agree():
    thetas = field(40, 50, [(10.5, 10.5, 0.5), (30.5, 40.5, -0.5)], 2, noise=0.1, seed=3).ravel()
    expected = detect(thetas, 40, 50)
    barrier = threading.Barrier(4)
    results = []

    def work():
        barrier.wait()
        results.append(detect(thetas, 40, 50))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4
