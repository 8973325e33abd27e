"""frank_energy and estimate_ldg_params, and the failure texts of the three theory functions."""

import math

import numpy as np
import pytest

import _native

INF, NAN = math.inf, math.nan
FRANK, CONTIGUOUS = _native.frank_energy, "The given array is not contiguous"


def frank_loop(t, nx, ny, dx):
    """Splay and bend summed site by site in row order, each difference divided by dx + dx."""
    h, splay, bend, cos, sin = dx + dx, 0.0, 0.0, math.cos, math.sin
    for j in range(1, ny - 1):
        for i in range(1, nx - 1):
            k = j * nx + i
            e, w, n, s = t[k + 1], t[k - 1], t[k + nx], t[k - nx]  # east, west, next, previous
            div = (cos(e) - cos(w)) / h + (sin(n) - sin(s)) / h
            curl = (sin(e) - sin(w)) / h - (cos(n) - cos(s)) / h
            splay += div * div
            bend += curl * curl
    return splay * (dx * dx), bend * (dx * dx)


@pytest.mark.parametrize(("nx", "ny"), [(3, 3), (7, 4), (4, 7), (16, 9)], ids=str)
def test_frank_sums_in_loop_order_bit_for_bit(nx, ny):
    rng = np.random.default_rng(nx * ny)
    for dx in rng.uniform(0.01, 3.0, 40).tolist():  # a 3 x 3 grid shows each site's rounding
        thetas = rng.uniform(-8.0, 8.0, nx * ny)  # beyond 2 pi: angles are never wrapped
        splay, bend = frank_loop(thetas.tolist(), nx, ny, dx)
        # repr round-trips, so equal texts mean the same key order and the same bits.
        expected = {"splay": splay, "bend": bend, "ratio": splay / bend}
        assert str(FRANK(thetas, nx, ny, dx)) == str(expected)


@pytest.mark.parametrize(
    ("thetas", "nx", "ny"),
    [(np.full(30, 0.7), 6, 5), (np.zeros(0), 0, 0), (np.zeros(0), 5, 0), (np.ones(4), 2, 2),
     (np.arange(18.0), 2, 9), (np.arange(18.0), 9, 2), (np.zeros(0), 2, 10**12)],
    ids=["uniform", "empty", "no-rows", "2x2", "2x9", "9x2", "thin-and-empty"],
)
def test_frank_no_energy(thetas, nx, ny):
    result = FRANK(thetas, nx, ny, 1.0)
    assert str(result) == "{'splay': 0.0, 'bend': 0.0, 'ratio': inf}"


def test_frank_pure_splay_and_pure_bend():
    y, x = np.mgrid[0:17, 0:21] - np.array([8.25, 10.25])[:, None, None]  # centre off the grid
    radial = np.arctan2(y, x).ravel()
    splay, bend = (FRANK(radial + turn, 21, 17, 1.0) for turn in (0, math.pi / 2))
    assert splay["ratio"] > 1.0 and 0.0 < bend["ratio"] < 1.0
    # Turning every director by a right angle swaps divergence and curl.
    assert splay["splay"] == pytest.approx(bend["bend"], rel=1e-12)
    assert splay["bend"] == pytest.approx(bend["splay"], rel=1e-12)


def test_frank_plane_wave_matches_the_closed_form():
    # theta = q x along rows: central differences scale q by sin(q)/q (dx = 1), so each
    # interior site adds sin(q)^2 sin(qx)^2 to splay and sin(q)^2 cos(qx)^2 to bend.
    q, nx, ny = 0.1, 40, 5
    result = FRANK(np.tile(q * np.arange(nx, dtype=np.float64), ny), nx, ny, 1.0)
    xs = q * np.arange(1, nx - 1)
    scale = (ny - 2) * math.sin(q) ** 2
    assert result["splay"] == pytest.approx(scale * float(np.sum(np.sin(xs) ** 2)), rel=1e-12)
    assert result["bend"] == pytest.approx(scale * float(np.sum(np.cos(xs) ** 2)), rel=1e-12)


def test_frank_nan_angle_gives_nan_sums_and_an_infinite_ratio():
    # Angles are used as given, never wrapped: test_frank_sums_in_loop_order_bit_for_bit.
    thetas = np.random.default_rng(3).uniform(-0.3, 0.3, 64)
    thetas[3 * 8 + 4] = NAN
    assert str(FRANK(thetas, 8, 8, 1.0)) == "{'splay': nan, 'bend': nan, 'ratio': inf}"


def test_frank_never_reads_the_corners_or_the_last_value():
    thetas = np.random.default_rng(11).uniform(-2, 2, 5 * 4 + 5)
    base = FRANK(thetas[:20], 5, 4, 1.0)
    thetas[[0, 4, 15, 19]] = NAN
    assert FRANK(thetas[:19], 5, 4, 1.0) == base  # one value short
    assert FRANK(thetas, 5, 4, 1.0) == base  # extra values ignored


@pytest.mark.parametrize(
    ("s_values", "xi", "pixel", "expected"),
    [  # xi = correlation_length * pixel in um, k_elastic = |a| xi^2
        ([], 12.0, 0.5, (0.0, 0.0, 0.0, 0.0)), ([0.5] * 3, 10.0, 0.5, (-0.5, 0.0, 1.0, 12.5)),
        ([0.5] * 3, -10.0, 0.5, (-0.5, 0.0, 1.0, 12.5)),
        ([0.0] * 5, 3.0, 0.2, (-0.0, 0.0, 1.0, 0.0)), ([0.5], INF, 0.3, (-0.5, 0.0, 1.0, INF)),
        ([0.0], INF, 0.3, (-0.0, 0.0, 1.0, NAN)), ([0.2, NAN, 0.4], 2.0, 1.0, (NAN, 0.0, 1.0, NAN)),
    ],
    ids=["empty", "equal", "negative-xi", "zero-order",
         "infinite-xi", "infinite-xi-zero-order", "nan-order"],
)
def test_ldg_estimates(s_values, xi, pixel, expected):
    result = _native.estimate_ldg_params(np.array(s_values, dtype=np.float64), xi, pixel)
    assert str(result) == str(dict(zip(["a", "b", "c", "k_elastic"], expected)))


def test_ldg_sums_squares_in_index_order():
    # 1 + 2^-54 rounds back to 1, so the four small squares count only when added first.
    values = np.array([1.0, 2.0**-27, 2.0**-27, 2.0**-27, 2.0**-27])
    assert _native.estimate_ldg_params(values, 1.0, 1.0)["a"] == 1.0 / 5 * -2.0
    assert _native.estimate_ldg_params(values[::-1].copy(), 1.0, 1.0)["a"] == (
        (1.0 + 2.0**-52) / 5 * -2.0)


def short(nx, ny, length, index):
    return (FRANK, (np.zeros(length), nx, ny, 1.0), _native.PanicException,
            f"index out of bounds: the len is {length} but the index is {index}")


# Counts refused by the integer conversion itself: tests/test_conversions.py.
ROWS = [
    # The first read past the end, sites in row order, each read east, west, next, previous.
    ("3x3-next-row", *short(3, 3, 7, 7)),
    ("3x3-east-first", *short(3, 3, 5, 5)),
    ("4x4-last-site", *short(4, 4, 14, 14)),
    ("nx-near-2**64", *short(2**64 - 1, 3, 4, 2**64 + 1)),  # the index does not wrap
    ("area-overflows", *short(2**32, 2**32 + 1, 0, 2**32 + 2)),
    ("strided-thetas", FRANK, (np.zeros(18)[::2], 3, 3, 1.0), TypeError, CONTIGUOUS),
    ("dx-before-strided", FRANK, (np.zeros(18)[::2], 3, 3, None),
     TypeError, "argument 'dx': must be real number, not NoneType"),
    ("first-bad-float", _native.build_fenwold_params, (1.0, 0, 1, 1, "x", None, -1, 1),
     TypeError, "argument 'splay': must be real number, not str"),
]


@pytest.mark.parametrize(("function", "args", "kind", "message"),
                         [pytest.param(*row[1:], id=row[0]) for row in ROWS])
def test_refusals(function, args, kind, message):
    with pytest.raises(kind) as info:
        function(*args)
    assert type(info.value) is kind and str(info.value) == message
