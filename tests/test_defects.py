"""Defect detection against planted ground truth: charges, positions, orientations, the
regions where nothing may be reported, and the scales read off the image."""

import json
import math

import numpy as np
import pytest

import tazmir
from tazmir.defects import defect_angle
from tazmir.scales import fibre_width
from tazmir.synthetic import PlantedDefect, fibrous_texture

from conftest import match_defects, read_csv


# Texture and noise move a core's apparent centre by a few pixels whatever the smoothing
# (a shift of about the orientation noise times the structure-tensor scale), so single
# defects are placed to within about 3 px; the benchmark reports the medians.
@pytest.mark.parametrize(
    "n_defects, spacing, noise, least, position_px",
    [(12, 64, 0.3, 0.95, 3.5), (30, 48, 0.3, 0.95, 3.5), (12, 64, 0.5, 0.9, 5.0)],
    ids=["sparse", "dense", "noisy"],
)
def test_planted_defects_are_found_with_their_charges_places_and_orientations(
    n_defects, spacing, noise, least, position_px
):
    texture = fibrous_texture(384, n_defects=n_defects, min_spacing_px=spacing, noise=noise,
                              seed=n_defects)
    result = tazmir.analyze_image(texture.image, pixel_size_um=texture.pixel_size_um)
    precision, recall, position, angle = match_defects(result.defects, texture.defects)
    assert precision >= least and recall >= least
    assert np.median(position) <= position_px and np.median(angle) <= 10.0
    assert all(0.0 <= d.confidence <= 1.0 and 0.0 <= d.order <= 1.0 for d in result.defects)
    assert result.poincare_hopf["charge_sum"] == sum(d.charge for d in result.defects)


@pytest.mark.parametrize("charge", [0.5, -0.5], ids=["plus", "minus"])
@pytest.mark.parametrize("turn", [0.0, 0.7, 1.9, 2.8], ids=lambda t: f"base{t}")
def test_orientation_follows_the_rotation_of_a_lone_defect(charge, turn):
    # theta = q * phi + turn: a +1/2 defect's tail turns by 2 * turn, a -1/2's arms by
    # 2 * turn / 3 (the conventions of the README).
    planted = [PlantedDefect(96.0, 96.0, charge)]
    texture = fibrous_texture(192, defects=planted, base_angle=turn, noise=0.2, seed=3)
    result = tazmir.analyze_image(texture.image, pixel_size_um=1.0)
    assert len(result.defects) == 1
    found, truth = result.defects[0], texture.defects[0]
    expected = (2 * turn if charge > 0 else 2 * turn / 3) % (
        2 * math.pi if charge > 0 else 2 * math.pi / 3)
    assert truth.angle_rad == pytest.approx(expected)
    _, _, position, angle = match_defects(result.defects, texture.defects)
    assert found.charge == charge and position[0] < 6.0 and angle[0] < 8.0
    assert found.confidence > 0.8


def test_angle_formula_on_the_ideal_profiles():
    # Q = (cos 2 theta, sin 2 theta) near theta = +-phi/2 + beta is linear in (x, y): its
    # Jacobian gives the orientation exactly, the tail at 2 beta and an arm at 2 beta / 3.
    for beta in (0.0, 0.4, 1.3, 2.9):
        c, s = math.cos(2 * beta), math.sin(2 * beta)
        plus = np.array([[c, -s], [s, c]])  # Q1 + i Q2 = e^{2i beta} (x + i y)
        minus = np.array([[c, s], [s, -c]])  # Q1 + i Q2 = e^{2i beta} (x - i y)
        assert defect_angle(0.5, plus) == pytest.approx((2 * beta) % (2 * math.pi))
        assert defect_angle(-0.5, minus) == pytest.approx((2 * beta / 3) % (2 * math.pi / 3))


def test_nothing_is_reported_in_noise_outside_the_mask_or_at_the_border():
    texture = fibrous_texture(384, n_defects=14, min_spacing_px=56, seed=5)
    image = texture.image.copy()
    rng = np.random.default_rng(0)
    image[192:, 192:] = rng.normal(0.0, 0.3, (192, 192))  # an empty quarter: noise only
    result = tazmir.analyze_image(image, pixel_size_um=1.0)
    core = result.core_radius_px
    assert not [d for d in result.defects if d.row_px > 192 and d.col_px > 192]
    kept = [t for t in texture.defects if not (t.row > 192 - core and t.col > 192 - core)]
    # Near the quarter's edge a core loses half its surroundings and may move a little.
    precision, recall, _, _ = match_defects(result.defects, kept, tolerance_px=10.0)
    assert precision == 1.0 and recall >= 0.9

    # A user mask hides the left half: none there, and none within a core of its edge.
    mask = np.ones(texture.image.shape, bool)
    mask[:, :192] = False
    masked = tazmir.analyze_image(texture.image, pixel_size_um=1.0, mask=mask)
    assert masked.defects and all(d.col_px >= 192 + core for d in masked.defects)
    assert masked.summary()["analysed_fraction"] < 0.5

    # Defects planted right at the border are not reported.
    edge = [PlantedDefect(3.0, 60.0, 0.5), PlantedDefect(60.0, 125.0, -0.5)]
    near_edge = fibrous_texture(128, defects=edge, seed=2)
    assert tazmir.analyze_image(near_edge.image, pixel_size_um=1.0).defects == ()


def test_square_windows_of_the_valid_region_match_a_direct_scan():
    # The erosions and dilations that shape the valid region: every radius (beyond the grid
    # too), both border conventions, grids down to one point.
    from tazmir.defects import _box_any

    rng = np.random.default_rng(3)
    for shape in [(1, 1), (1, 6), (7, 1), (9, 13), (40, 33)]:
        mask = rng.random(shape) > 0.8
        for radius in (1, 2, 3, 5, 8, 50):
            for border in (False, True):
                padded = np.pad(mask, radius, constant_values=border)
                side = 2 * radius + 1
                direct = [[padded[r: r + side, c: c + side].any() for c in range(shape[1])]
                          for r in range(shape[0])]
                assert np.array_equal(_box_any(mask, radius, border), direct)


@pytest.mark.parametrize("k", [2, 4], ids=["nematic", "tetratic"])
@pytest.mark.parametrize("base_angle", [0.0, 1.2, 3.0], ids=lambda a: f"{a:.1f}")
def test_uniform_textures_have_no_defects_and_little_deformation(base_angle, k):
    texture = fibrous_texture(256, defects=[], base_angle=base_angle, noise=0.5, seed=1)
    result = tazmir.analyze_image(texture.image, pixel_size_um=1.0, k=k)
    assert result.defects == () and result.poincare_hopf["charge_sum"] == -0.0
    # Block directors scatter around one axis, even around the 0/pi fold.
    assert np.median(np.abs(np.sin(result.grid.director - base_angle))) < 0.05
    assert result.frank["splay"] < 0.05 and result.frank["bend"] < 0.05


@pytest.mark.parametrize("k", [2, 4], ids=["nematic", "tetratic"])
def test_noise_and_a_flat_image_have_no_director_anywhere(k):
    for empty in (np.random.default_rng(0).normal(size=(128, 128)), np.ones((32, 48))):
        result = tazmir.analyze_image(empty, pixel_size_um=1.0, k=k)
        assert result.defects == () and result.summary()["analysed_fraction"] == 0.0
    assert np.all(result.grid.order == 0.0) and result.correlation.fit_ok is False
    assert math.isnan(result.correlation_length_um)


def test_a_pair_closer_than_a_core_is_one_fluctuation():
    # Planted 6 px apart, a +- pair is a fluctuation at a 10 px core: removed as a pair;
    # 40 px apart both stand.
    for gap, expected in ((6.0, []), (40.0, [-0.5, 0.5])):
        planted = [PlantedDefect(64.0, 64.0 - gap / 2, 0.5), PlantedDefect(64.0, 64.0 + gap / 2,
                                                                             -0.5)]
        texture = fibrous_texture(128, defects=planted, base_angle=0.3, noise=0.2, seed=4)
        result = tazmir.analyze_image(texture.image, pixel_size_um=1.0, core_radius=10.0)
        assert sorted(d.charge for d in result.defects) == expected


# Fibres much thinner than 1.5 px come out wider than asked: the rendering interpolates.
@pytest.mark.parametrize("width", [1.5, 2.5, 4.0])
def test_automatic_scales_follow_the_texture(width):
    texture = fibrous_texture(256, n_defects=4, min_spacing_px=80, fibre_width_px=width,
                              fibre_length_px=4 * width + 3, seed=6)
    assert width / 1.5 <= fibre_width(texture.image) <= 1.5 * width
    result = tazmir.analyze_image(texture.image, pixel_size_um=1.0)
    assert width / 1.5 <= result.sigma <= 1.5 * width
    # The core covers a few fibres and stays below the defect spacing; the grid resolves it.
    assert 2.5 * result.sigma <= result.core_radius_px < 50.0
    assert 1 <= result.grid_step <= result.core_radius_px / 2
    explicit = tazmir.analyze_image(texture.image, pixel_size_um=1.0, sigma=2.0, grid_step=3,
                                    core_radius=7.0)
    assert (explicit.sigma, explicit.grid_step, explicit.core_radius_px) == (2.0, 3, 7.0)
    assert explicit.summary()["sigma_auto"] is False


def test_the_command_line_takes_a_mask_per_image_and_records_the_scales(tmp_path, capsys):
    tifffile = pytest.importorskip("tifffile")
    from tazmir.cli import main

    texture = fibrous_texture(256, n_defects=8, min_spacing_px=56, seed=9)
    tifffile.imwrite(tmp_path / "tex.tif", texture.image.astype(np.float32))
    mask = np.zeros(texture.image.shape, np.uint8)
    mask[:, 128:] = 3  # a label image: any non-zero value is analysed
    tifffile.imwrite(tmp_path / "tex_mask.tif", mask)
    args = ["analyze", str(tmp_path / "tex.tif"), "--pixel-size", "0.5", "--no-progress",
            "--no-figure", "--core-radius", "6", "--mask", str(tmp_path / "{stem}_mask.tif")]
    assert main([*args, "--out", str(tmp_path / "out")]) == 0
    defects = read_csv(tmp_path / "out" / "tex" / "defects.csv")
    assert defects and all(float(d["col_px"]) >= 128 + 6 for d in defects)
    summary = json.loads((tmp_path / "out" / "tex" / "summary.json").read_text())
    assert (summary["core_radius_px"], summary["core_radius_auto"]) == (6.0, False)
    assert summary["sigma_auto"] is True and summary["sigma"] > 0

    tifffile.imwrite(tmp_path / "tex_mask.tif", mask[:100])
    assert main([*args, "--out", str(tmp_path / "bad")]) == 1
    assert f"mask {tmp_path / 'tex_mask.tif'} has shape (100, 256), the image (256, 256)" in (
        capsys.readouterr().err)
    with pytest.raises(SystemExit):
        main([*args[:-4], "--sigma", "wide", "--out", str(tmp_path / "usage")])
    assert "--sigma: not a number: 'wide'" in capsys.readouterr().err
