"""Intensive statistics of the package: G_k(r) by FFT, Frank densities, Ripley's K and L − r."""

import math

import numpy as np
import pytest

import _native
import tazmir
from tazmir.correlation import director_correlation
from tazmir.energy import core_mask, frank_densities
from tazmir.spatial import ripley, ripley_k
from tazmir.synthetic import PlantedDefect, synthetic_tissue


def line_tessellation(shape, xi, seed):
    """Cells of an isotropic Poisson line process, each with its own uniform director.

    A segment of length r meets Poisson(2 tau r) lines, so two points share a cell with
    probability exp(-2 tau r): G_k(r) = exp(-r / xi) exactly, xi = 1 / (2 tau).
    """
    rng = np.random.default_rng(seed)
    rows, cols = shape
    half = math.hypot(rows, cols) / 2 + 1
    n = rng.poisson(math.pi * 2 * half / (2 * xi))
    p, a = rng.uniform(-half, half, n), rng.uniform(0, math.pi, n)
    y, x = np.mgrid[0:rows, 0:cols]
    side = ((x - cols / 2)[..., None] * np.cos(a) + (y - rows / 2)[..., None] * np.sin(a)) > p
    # Random weights of the sides: equal keys mean the same cell (a collision is improbable).
    _, label = np.unique(side @ rng.random(n), return_inverse=True)
    return rng.uniform(0, math.pi, label.max() + 1)[label.ravel()].reshape(rows, cols)


@pytest.mark.parametrize("spacing, width", [(0.5, None), (2.0, 3.0), (1.0, 2.5)],
                         ids=["one-spacing", "wide", "beyond-nearest-neighbours"])
def test_fft_correlation_is_the_pair_sum(spacing, width):
    rng = np.random.default_rng(4)
    theta = rng.uniform(0, math.pi, (13, 9))
    valid = rng.random((13, 9)) > 0.3
    corr = director_correlation(theta, valid, spacing_um=spacing, k=2, bin_width_um=width)
    rows, cols = np.nonzero(valid)
    i, j = np.triu_indices(rows.size, 1)
    distance = np.hypot(rows[i] - rows[j], cols[i] - cols[j]) * spacing
    cosine = np.cos(2 * (theta[valid][i] - theta[valid][j]))
    slot = np.floor(distance / corr.bin_width_um - 0.5).astype(int)
    for b in range(corr.g.size):
        pair = slot == b
        assert corr.pairs[b] == pair.sum()
        assert corr.g[b] == pytest.approx(cosine[pair].mean(), rel=1e-9, abs=1e-12)
        assert corr.r_um[b] == pytest.approx(distance[pair].mean(), rel=1e-12)


@pytest.mark.parametrize("xi", [3.0, 5.0], ids=["xi3", "xi5"])
def test_exponential_correlation_gives_its_length(xi):
    fits = [director_correlation(line_tessellation((256, 256), xi, seed), spacing_um=0.5)
            for seed in range(4)]
    assert all(f.fit_ok and f.r2 > 0.99 for f in fits)
    assert np.mean([(f.length_um, f.length_1e_um) for f in fits], axis=0) == pytest.approx(
        [0.5 * xi] * 2, rel=0.1)


def test_bins_follow_the_grid_spacing_not_the_grid_size():
    theta = line_tessellation((192, 192), 4.0, 0)
    small = director_correlation(theta[:48, :48], spacing_um=0.5)
    large = director_correlation(theta, spacing_um=0.5)
    assert small.bin_width_um == large.bin_width_um == 0.5
    assert large.r_um.size == 4 * (small.r_um.size + 1) - 1  # bins up to half the side
    np.testing.assert_allclose(small.r_um[:3], large.r_um[:3], rtol=0.02)


@pytest.mark.parametrize("theta", [np.full((40, 40), 0.3), np.tile(0.25 * np.arange(40), (40, 1))],
                         ids=["uniform", "steady-twist"])
def test_a_curve_no_exponential_describes_is_flagged(theta):
    assert director_correlation(np.mod(theta, math.pi), spacing_um=1.0).fit_ok is False


def test_frank_densities_match_the_core_and_the_formula():
    y, x = np.mgrid[0:60, 0:80] * 1.0
    theta = 0.6 * np.sin(x / 9) + 0.4 * np.cos(y / 7) + 0.2
    h = 0.8
    folded = frank_densities(np.mod(theta, math.pi), spacing_um=h)
    core = _native.frank_energy(np.ascontiguousarray(theta).ravel(), 80, 60, h)
    assert (folded.splay, folded.bend) == pytest.approx((core["splay"], core["bend"]), rel=0.01)
    assert folded.area_um2 == 58 * 78 * h * h
    # Analytic gradient of theta: splay (-sin t tx + cos t ty)^2, bend (cos t tx + sin t ty)^2.
    tx, ty = 0.6 / 9 * np.cos(x / 9) / h, -0.4 / 7 * np.sin(y / 7) / h
    splay = (-np.sin(theta) * tx + np.cos(theta) * ty) ** 2
    bend = (np.cos(theta) * tx + np.sin(theta) * ty) ** 2
    assert (folded.splay_density, folded.bend_density) == pytest.approx(
        (splay[1:-1, 1:-1].mean(), bend[1:-1, 1:-1].mean()), rel=0.01)


def test_a_half_defect_splays_and_bends_pi_over_4_per_log_radius():
    # theta = phi / 2: (div n)^2 = cos^2(phi/2) / 4r^2, (curl n)^2 = sin^2(phi/2) / 4r^2.
    size, r_in, r_out = 401, 10.0, 180.0
    y, x = np.mgrid[0:size, 0:size] - 200.0
    theta = np.mod(0.5 * np.arctan2(y, x), math.pi)
    cores = core_mask((size, size), [(200.0, 200.0)], r_in, 1.0)
    energy = frank_densities(theta, np.hypot(x, y) <= r_out, spacing_um=1.0, exclude=cores)
    expected = math.pi / 4 * math.log(r_out / r_in)
    assert (energy.splay, energy.bend) == pytest.approx((expected, expected), rel=0.03)
    assert energy.splay_density == pytest.approx(energy.splay / energy.area_um2, rel=1e-12)


def brute_force_k(points, a, b, radii):
    dx, dy = (points[None, :, i] - points[:, None, i] for i in (0, 1))
    d = np.hypot(dx, dy)
    np.fill_diagonal(d, np.inf)
    w = a * b / ((a - np.abs(dx)) * (b - np.abs(dy)))
    n = len(points)
    return np.array([a * b / (n * (n - 1)) * w[d <= r].sum() for r in radii])


def test_ripley_k_is_the_translation_corrected_pair_sum_in_any_order():
    rng = np.random.default_rng(1)
    points = rng.uniform((0, 0), (100, 60), (400, 2))
    radii = np.linspace(1, 15, 15)
    k = ripley_k(points, (0, 0, 100, 60), radii)
    np.testing.assert_allclose(k, brute_force_k(points, 100, 60, radii), rtol=1e-12)
    for order in (rng.permutation(400), np.arange(400)[::-1]):
        np.testing.assert_array_equal(ripley_k(points[order], (0, 0, 100, 60), radii), k)
    shifted = ripley_k(points + (5.0, -3.0), (5, -3, 105, 57), radii)
    np.testing.assert_allclose(shifted, k, rtol=1e-12)
    # A few points far apart and a tiny radius: no pairs, and no grid of 10^18 empty cells.
    far = ripley_k([[0, 0], [1e6, 1e6], [5e5, 1]], (0, 0, 1e6, 1e6), [1e-3, 2e-3])
    np.testing.assert_array_equal(far, [0.0, 0.0])


@pytest.mark.parametrize("pattern", ["random", "regular", "clustered"])
def test_patterns_fall_inside_below_and_above_the_csr_envelope(pattern):
    rng = np.random.default_rng(7)
    if pattern == "random":
        points = rng.uniform(0, 100, (900, 2))
    elif pattern == "regular":  # a lattice 10/3 apart, jittered by a tenth of that
        centres = np.arange(0, 100, 10 / 3) + 5 / 3
        points = np.stack(np.meshgrid(centres, centres), -1).reshape(-1, 2)
        points = points + rng.uniform(-1 / 3, 1 / 3, points.shape)
    else:  # Thomas clusters: 45 parents of 20 children spread by 1.5
        points = np.repeat(rng.uniform(0, 100, (45, 2)), 20, axis=0)
        points = points + rng.normal(0, 1.5, points.shape)
        points = points[((points >= 0) & (points <= 100)).all(axis=1)]
    result = ripley(points, (0, 0, 100, 100), n_simulations=99, seed=3)
    short = result.r <= 3.0  # below the lattice spacing and within a cluster
    if pattern == "random":
        inside = (result.csr_low <= result.l_minus_r) & (result.l_minus_r <= result.csr_high)
        assert inside.mean() >= 0.9
        assert np.all(np.abs(result.l_minus_r) <= 0.05 * result.r + 0.1)
    elif pattern == "regular":
        assert np.all(result.l_minus_r[short] < result.csr_low[short])
    else:
        assert np.all(result.l_minus_r[short] > result.csr_high[short])


def test_ripley_envelope_is_seeded_and_ripley_csv_has_its_columns():
    points = np.random.default_rng(2).uniform(0, 50, (200, 2))
    first = ripley(points, (0, 0, 50, 50), seed=5)
    again = ripley(points[::-1], (0, 0, 50, 50), seed=5)
    assert first.to_csv() == again.to_csv()
    lines = first.to_csv().splitlines()
    assert lines[0] == "r_um,k,l_minus_r,csr_low,csr_high" and len(lines) == 33


@pytest.mark.parametrize(
    "points, window, radii, message",
    [
        (np.zeros((3, 3)), (0, 0, 1, 1), [0.5],
         "points must be an N x 2 array of (x, y), got shape (3, 3)"),
        ([[0.5, np.nan]], (0, 0, 1, 1), [0.5], "points contain NaN or infinite coordinates"),
        ([[0.5, 0.5]], (0, 0, 0, 1), [0.5], "window must be a finite rectangle with "
         "x_max > x_min and y_max > y_min, got (0.0, 0.0, 0.0, 1.0)"),
        ([[0.5, 0.5]], (0, 0, 1, 1), [0.5, 0.2],
         "radii must be positive, finite and strictly increasing"),
        ([[1.5, 0.5]], (0, 0, 1, 1), [0.5], "points must lie inside the window"),
    ],
    ids=["columns", "nan", "flat-window", "radii-order", "outside"],
)
def test_ripley_refuses_bad_input(points, window, radii, message):
    with pytest.raises(ValueError) as info:
        ripley_k(points, window, radii)
    assert str(info.value) == message


def test_crops_of_one_texture_give_the_same_intensive_numbers():
    # A checkerboard of +-1/2 defects every 32 px: every crop holds the same texture.
    defects = [PlantedDefect((i + 0.5) * 32, (j + 0.5) * 32, 0.5 - (i + j) % 2)
               for i in range(16) for j in range(16)]
    image = synthetic_tissue(512, defects=defects, n_outlined=0, seed=1).image
    keys = ["defect_density_per_um2", "correlation_length_1e_um", "frank_splay_density",
            "frank_bend_density", "mean_order", "ldg_k_elastic"]
    summaries = [tazmir.analyze_image(image[s:512 - s, s:512 - s], pixel_size_um=0.5, sigma=2.0,
                                      core_radius=6, grid_step=2).summary() for s in (128, 64, 0)]
    for key in keys:
        values = [s[key] for s in summaries]
        assert max(values) <= 1.1 * min(values), (key, values)
    # One defect per 16 x 16 µm lattice cell.
    assert summaries[-1]["defect_density_per_um2"] == pytest.approx(1 / 256, rel=0.1)
