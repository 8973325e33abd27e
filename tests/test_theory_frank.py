"""frank_energy: splay and bend of a director grid, bit for bit against a direct loop."""

import math

import numpy as np
import pytest

import _native

INF = math.inf


def frank_reference(thetas, nx, ny, dx):
    """The energy written out site by site with the C library's cos and sin."""
    t = [float(v) for v in thetas]
    h = dx + dx
    splay_sum = 0.0
    bend_sum = 0.0
    for j in range(1, ny - 1):
        for i in range(1, nx - 1):
            east, west = t[j * nx + i + 1], t[j * nx + i - 1]
            north, south = t[(j + 1) * nx + i], t[(j - 1) * nx + i]
            dcx = (math.cos(east) - math.cos(west)) / h
            dsx = (math.sin(east) - math.sin(west)) / h
            dcy = (math.cos(north) - math.cos(south)) / h
            dsy = (math.sin(north) - math.sin(south)) / h
            div = dcx + dsy
            curl = dsx - dcy
            splay_sum += div * div
            bend_sum += curl * curl
    splay = splay_sum * (dx * dx)
    bend = bend_sum * (dx * dx)
    ratio = splay / bend if bend > 1e-15 else INF
    return {"splay": splay, "bend": bend, "ratio": ratio}


def first_read_past_end(length, nx, ny):
    """The first neighbour index (east, west, next row, previous row) that is >= length."""
    for j in range(1, ny - 1):
        for i in range(1, nx - 1):
            for index in (j * nx + i + 1, j * nx + i - 1, (j + 1) * nx + i, (j - 1) * nx + i):
                if index >= length:
                    return index
    return None


def same_bits(x, y):
    return np.float64(x).tobytes() == np.float64(y).tobytes()


def assert_same(result, expected):
    assert list(result) == ["splay", "bend", "ratio"]
    for key in expected:
        assert same_bits(result[key], expected[key]), (key, result[key], expected[key])


def radial_field(nx, ny, offset):
    """theta = atan2(y - cy, x - cx) + offset around a centre between grid points."""
    y, x = np.mgrid[0:ny, 0:nx].astype(np.float64)
    cx, cy = (nx - 1) / 2 + 0.25, (ny - 1) / 2 + 0.25
    return (np.arctan2(y - cy, x - cx) + offset).ravel()


@pytest.mark.parametrize(
    ("nx", "ny"),
    [(3, 3), (4, 7), (7, 4), (5, 5), (16, 9), (33, 3), (3, 21)],
    ids=lambda v: str(v),
)
@pytest.mark.parametrize("scale", [0.5, 3.0, 1e4], ids=["small", "wide", "huge"])
def test_matches_direct_loop_bit_for_bit(nx, ny, scale):
    rng = np.random.default_rng(nx * 100 + ny)
    thetas = rng.uniform(-scale, scale, nx * ny)
    for dx in (1.0, 0.37, 2.5e-3):
        assert_same(_native.frank_energy(thetas, nx, ny, dx), frank_reference(thetas, nx, ny, dx))


def test_smooth_field_matches_direct_loop():
    nx, ny = 48, 40
    y, x = np.mgrid[0:ny, 0:nx]
    thetas = (0.3 * np.sin(0.2 * x) + 0.1 * y * 0.05).ravel()
    assert_same(_native.frank_energy(thetas, nx, ny, 0.65), frank_reference(thetas, nx, ny, 0.65))


def test_uniform_field_has_no_energy():
    result = _native.frank_energy(np.full(30, 0.7), 6, 5, 1.0)
    assert result == {"splay": 0.0, "bend": 0.0, "ratio": INF}


@pytest.mark.parametrize(
    ("nx", "ny", "length"),
    [(0, 0, 0), (0, 5, 0), (5, 0, 0), (2, 2, 4), (2, 9, 18), (9, 2, 18), (1, 1, 0), (2, 10**12, 0)],
    ids=lambda v: str(v),
)
def test_grid_without_interior(nx, ny, length):
    rng = np.random.default_rng(1)
    result = _native.frank_energy(rng.uniform(-3, 3, length), nx, ny, 1.0)
    assert result == {"splay": 0.0, "bend": 0.0, "ratio": INF}
    assert math.copysign(1.0, result["splay"]) == 1.0


def test_splay_field_has_ratio_above_one():
    result = _native.frank_energy(radial_field(21, 17, 0.0), 21, 17, 1.0)
    assert result["ratio"] > 1.0
    assert result["splay"] > result["bend"] > 0.0


def test_bend_field_has_ratio_below_one():
    result = _native.frank_energy(radial_field(21, 17, math.pi / 2), 21, 17, 1.0)
    assert 0.0 < result["ratio"] < 1.0
    assert result["bend"] > result["splay"] > 0.0


def test_splay_and_bend_swap_between_radial_and_azimuthal_fields():
    # Rotating every director by pi/2 turns the divergence into the curl and back.
    splay = _native.frank_energy(radial_field(15, 15, 0.0), 15, 15, 1.0)
    bend = _native.frank_energy(radial_field(15, 15, math.pi / 2), 15, 15, 1.0)
    assert splay["splay"] == pytest.approx(bend["bend"], rel=1e-12)
    assert splay["bend"] == pytest.approx(bend["splay"], rel=1e-12)


def test_doubling_dx_leaves_energies_unchanged():
    rng = np.random.default_rng(7)
    thetas = rng.uniform(-1, 1, 12 * 10)
    # A power of two rescales exactly.
    assert _native.frank_energy(thetas, 12, 10, 0.5) == _native.frank_energy(thetas, 12, 10, 1.0)
    single = _native.frank_energy(thetas, 12, 10, 0.3)
    double = _native.frank_energy(thetas, 12, 10, 0.6)
    for key in single:
        assert double[key] == pytest.approx(single[key], rel=1e-13)


def test_plane_wave_matches_the_analytic_energy():
    # theta = q x: div n = -q sin(qx), curl n = q cos(qx); central differences scale q by
    # sin(q dx) / (q dx), so each interior site adds sin(q)^2 sin^2 or cos^2 (dx = 1).
    q, nx, ny = 0.1, 40, 5
    thetas = np.tile(q * np.arange(nx, dtype=np.float64), ny)
    result = _native.frank_energy(thetas, nx, ny, 1.0)
    xs = np.arange(1, nx - 1)
    rows = ny - 2
    expected_splay = rows * math.sin(q) ** 2 * float(np.sum(np.sin(q * xs) ** 2))
    expected_bend = rows * math.sin(q) ** 2 * float(np.sum(np.cos(q * xs) ** 2))
    assert result["splay"] == pytest.approx(expected_splay, rel=1e-12)
    assert result["bend"] == pytest.approx(expected_bend, rel=1e-12)


def test_adding_two_pi_changes_only_rounding_but_pi_at_one_site_matters():
    rng = np.random.default_rng(3)
    thetas = rng.uniform(-0.3, 0.3, 64)
    base = _native.frank_energy(thetas, 8, 8, 1.0)
    shifted = _native.frank_energy(thetas + 2 * math.pi, 8, 8, 1.0)
    for key in base:
        assert shifted[key] == pytest.approx(base[key], rel=1e-12)
    flipped = thetas.copy()
    flipped[3 * 8 + 4] += math.pi
    changed = _native.frank_energy(flipped, 8, 8, 1.0)
    assert changed["splay"] > base["splay"] + 1.0
    assert changed["bend"] > base["bend"] + 1.0


def test_nan_angle_makes_sums_nan_and_ratio_infinite():
    thetas = np.zeros(25)
    thetas[12] = math.nan  # read as a neighbour of four sites
    result = _native.frank_energy(thetas, 5, 5, 1.0)
    assert math.isnan(result["splay"])
    assert math.isnan(result["bend"])
    assert result["ratio"] == INF


def test_centres_corners_and_last_value_are_never_read():
    rng = np.random.default_rng(11)
    thetas = rng.uniform(-2, 2, 5 * 4)
    base = _native.frank_energy(thetas, 5, 4, 1.0)
    poisoned = thetas.copy()
    for index in (0, 4, 15, 19):  # the four corners; 19 is also the last value
        poisoned[index] = math.nan
    assert _native.frank_energy(poisoned, 5, 4, 1.0) == base
    # With a 3 x 3 grid the only centre is never read either.
    small = np.arange(9, dtype=np.float64)
    centre_poisoned = small.copy()
    centre_poisoned[4] = math.nan
    assert _native.frank_energy(centre_poisoned, 3, 3, 1.0) == _native.frank_energy(
        small, 3, 3, 1.0
    )


def test_one_value_short_is_accepted_and_extra_values_are_ignored():
    rng = np.random.default_rng(5)
    thetas = rng.uniform(-2, 2, 7 * 6 + 10)
    full = _native.frank_energy(thetas[: 7 * 6], 7, 6, 1.0)
    assert _native.frank_energy(thetas[: 7 * 6 - 1], 7, 6, 1.0) == full
    assert _native.frank_energy(thetas, 7, 6, 1.0) == full


@pytest.mark.parametrize(
    ("nx", "ny", "length", "index"),
    [
        (3, 3, 7, 7),  # the one site's next-row read
        (3, 3, 5, 5),  # its east read comes first
        (3, 3, 0, 5),
        (4, 4, 14, 14),
        (3, 4, 8, 8),  # second site, east read 3*2+2
        (5, 3, 12, 12),
        (3, 5, 11, 11),
    ],
    ids=lambda v: str(v),
)
def test_short_slice_names_first_read_past_end(nx, ny, length, index):
    assert first_read_past_end(length, nx, ny) == index
    with pytest.raises(_native.PanicException) as info:
        _native.frank_energy(np.zeros(length), nx, ny, 1.0)
    assert str(info.value) == f"index out of bounds: the len is {length} but the index is {index}"


@pytest.mark.parametrize(("nx", "ny"), [(3, 3), (3, 6), (6, 3), (4, 9), (10, 7)], ids=str)
def test_every_short_length_names_the_first_read_past_end(nx, ny):
    for length in range(nx * ny - 1):
        index = first_read_past_end(length, nx, ny)
        with pytest.raises(_native.PanicException) as info:
            _native.frank_energy(np.zeros(length), nx, ny, 1.0)
        assert str(info.value) == (
            f"index out of bounds: the len is {length} but the index is {index}"
        )


@pytest.mark.parametrize(
    ("nx", "ny", "length", "index"),
    [
        (2**64 - 1, 3, 4, 2**64 + 1),  # east of the first site lies past 2**64
        (2**40, 2**40, 100, 2**40 + 2),
        (3, 2**62, 10, 10),
        (2**32, 2**32 + 1, 0, 2**32 + 2),
    ],
    ids=["nx-near-2**64", "huge-square", "tall", "area-overflows"],
)
def test_huge_grids_fail_quickly_without_wrapping(nx, ny, length, index):
    with pytest.raises(_native.PanicException) as info:
        _native.frank_energy(np.zeros(length), nx, ny, 1.0)
    assert str(info.value) == f"index out of bounds: the len is {length} but the index is {index}"


def test_input_is_not_written():
    rng = np.random.default_rng(2)
    thetas = rng.uniform(-2, 2, 40)
    before = thetas.copy()
    _native.frank_energy(thetas, 8, 5, 1.0)
    assert np.array_equal(thetas, before)


def test_read_only_and_offset_arrays_are_accepted():
    rng = np.random.default_rng(4)
    data = rng.uniform(-2, 2, 50)
    expected = frank_reference(data[1:], 7, 7, 1.0)
    view = data[1:]
    view.flags.writeable = False
    assert_same(_native.frank_energy(view, 7, 7, 1.0), expected)


def test_keywords_in_any_order():
    thetas = np.linspace(0, 1, 16)
    assert _native.frank_energy(dx=1.0, ny=4, thetas=thetas, nx=4) == _native.frank_energy(
        thetas, 4, 4, 1.0
    )


def test_non_contiguous_thetas_is_refused():
    with pytest.raises(TypeError) as info:
        _native.frank_energy(np.zeros(18)[::2], 3, 3, 1.0)
    assert str(info.value) == "The given array is not contiguous"


@pytest.mark.parametrize(
    ("args", "kind", "message"),
    [
        (
            (np.zeros(9, dtype=np.int64), 3, 3, 1.0),
            TypeError,
            "argument 'thetas': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            (np.zeros((3, 3)), 3, 3, 1.0),
            TypeError,
            "argument 'thetas': 'ndarray' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            ([0.0] * 9, 3, 3, 1.0),
            TypeError,
            "argument 'thetas': 'list' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            (np.zeros(9), 3.0, 3, 1.0),
            TypeError,
            "argument 'nx': 'float' object cannot be interpreted as an integer",
        ),
        ((np.zeros(9), 3, -1, 1.0), OverflowError, "can't convert negative int to unsigned"),
        ((np.zeros(9), 2**64, 3, 1.0), OverflowError, "int too big to convert"),
        ((np.zeros(9), 3, 3, "1"), TypeError, "argument 'dx': must be real number, not str"),
        # Conversions come first: a bad dx is reported before the strided thetas.
        (
            (np.zeros(18)[::2], 3, 3, None),
            TypeError,
            "argument 'dx': must be real number, not NoneType",
        ),
    ],
    ids=["int64", "2-d", "list", "float-nx", "negative-ny", "huge-nx", "str-dx", "order"],
)
def test_bad_arguments(args, kind, message):
    with pytest.raises(kind) as info:
        _native.frank_energy(*args)
    assert type(info.value) is kind
    assert str(info.value) == message
