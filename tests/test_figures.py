"""analysis.png drawn directly: what it shows is read back from its pixels."""

import dataclasses
import io
import math

import numpy as np
import pytest
from PIL import Image

import tazmir
from tazmir.figures import (
    analysis_content, analysis_figure, nice_ticks, png_bytes, render_png, tick_label,
)
from tazmir.raster import HEIGHT, WIDTH, field_placement, plot_to_png, png_encode, viridis
from tazmir.synthetic import PlantedDefect

RED, BLUE = (0xE8, 0x41, 0x2C), (0x2C, 0x7B, 0xE8)


def pixels(png: bytes) -> np.ndarray:
    picture = Image.open(io.BytesIO(png))
    assert (picture.format, picture.mode, picture.size) == ("PNG", "RGB", (WIDTH, HEIGHT))
    return np.asarray(picture).astype(int)


def near(rgb: np.ndarray, colour: tuple[int, int, int], tolerance: int = 40) -> np.ndarray:
    return (np.abs(rgb - np.array(colour)).max(axis=-1) <= tolerance)


@pytest.fixture(scope="module")
def planted():
    defects = [PlantedDefect(60.0, 50.0, 0.5), PlantedDefect(130.0, 140.0, -0.5)]
    tissue = tazmir.synthetic_tissue((192, 208), defects=defects, n_outlined=0, seed=3)
    return tissue, tazmir.analyze_image(tissue.image, pixel_size_um=0.5)


@pytest.mark.parametrize("with_image", [True, False], ids=["over-image", "no-image"])
def test_planted_defects_are_marked_where_they_are(planted, with_image):
    tissue, result = planted
    assert sorted(d.charge for d in result.defects) == [-0.5, 0.5]
    png = render_png(result, tissue.image if with_image else None)
    assert png == render_png(result, tissue.image.copy() if with_image else None)
    rgb = pixels(png)
    place = field_placement(tissue.image.shape)
    rows, cols = np.indices(rgb.shape[:2])
    for defect, colour in zip(tissue.defects, (RED, BLUE)):
        x, y = place.to_png(defect.row, defect.col)
        distance = np.hypot(cols + 0.5 - x, rows + 0.5 - y)
        marked = near(rgb, colour)
        # The marker ring (radius 8 px) around the planted core, its colour nowhere else
        # in the panel (below the legend) beyond the reach of its orientation ticks.
        assert marked[(distance > 5) & (distance < 11)].sum() > 30
        inside = ((cols >= place.left) & (cols < place.left + place.width)
                  & (rows >= place.top + 60) & (rows < place.top + place.height))
        reach = max(2 * result.core_radius_px, 0.03 * 208) * place.x_scale + 12
        assert not (marked & inside & (distance > reach)).any()


def stripes(theta: float, size: int = 128) -> np.ndarray:
    """Stripes running along the director angle theta (from the column axis towards the
    row axis), 7 px apart."""
    rows, cols = np.indices((size, size), dtype=np.float64)
    across = -math.sin(theta) * cols + math.cos(theta) * rows
    return np.cos(2 * math.pi * across / 7.0)


@pytest.mark.parametrize("degrees", [0, 30, 60, 90, 135])
def test_director_segments_have_the_slope_of_the_field(degrees):
    from scipy import ndimage

    theta = math.radians(degrees)
    result = tazmir.analyze_image(stripes(theta), pixel_size_um=1.0)
    rgb = pixels(render_png(result))
    place = field_placement((128, 128))
    panel = rgb[math.ceil(place.top) + 2: int(place.top + place.height) - 2,
                math.ceil(place.left) + 2: int(place.left + place.width) - 2]
    labels, count = ndimage.label(panel.min(axis=-1) < 180)
    angles = []
    for y, x in (np.nonzero(labels == index) for index in range(1, count + 1)):
        if x.size >= 20:  # the principal axis of the segment's pixels: x right, y down (rows)
            major = np.linalg.eigh(np.cov(np.stack([x, y])))[1][:, -1]
            angles.append(math.atan2(major[1], major[0]) % math.pi)
    assert len(angles) > 50
    error = (np.array(angles) - theta + math.pi / 2) % math.pi - math.pi / 2
    assert np.median(np.abs(error)) < math.radians(4)


def test_png_encoder_round_trips_through_pillow():
    rgb = np.random.default_rng(1).integers(0, 256, (7, 11, 3), dtype=np.uint8)
    assert np.array_equal(np.asarray(Image.open(io.BytesIO(png_encode(rgb)))), rgb)


def test_contrast_ignores_a_few_saturated_pixels(planted):
    tissue, result = planted
    image = tissue.image.copy()
    image[:2, :2] = 1e9
    rgb = pixels(render_png(result, image))
    place = field_placement(image.shape)
    grey = rgb[int(place.top) + 10: int(place.top + place.height) - 10,
               int(place.left) + 10: int(place.left + place.width) - 10]
    grey = grey[(grey.max(axis=-1) - grey.min(axis=-1)) < 3][:, 0]
    # Stretched between percentiles: the tissue spans the grey scale instead of sitting
    # in the darkest levels below one bright pixel.
    assert np.percentile(grey, 95) - np.percentile(grey, 5) > 120


def test_movie_figure_draws_every_track_from_its_start():
    movie = tazmir.synthetic_movie(6, 128, seed=2)
    result = tazmir.analyze_movie(movie.frames, pixel_size_um=0.5)
    rgb = pixels(render_png(result))
    place = field_placement((128, 128))
    rows, cols = np.indices(rgb.shape[:2])
    starts = {}
    for d in sorted(result.defects, key=lambda d: -d.frame):
        starts[d.track] = d
    assert len(starts) >= 4
    for start in starts.values():
        x, y = place.to_png(start.row_px, start.col_px)
        distance = np.hypot(cols + 0.5 - x, rows + 0.5 - y)
        assert near(rgb, RED if start.charge > 0 else BLUE)[distance < 3].any()


def test_correlation_points_and_the_1e_line_are_where_their_values_put_them(planted):
    tissue, result = planted
    corr = result.correlation
    rgb = pixels(render_png(result, tissue.image))
    plot = analysis_content(result).plot
    dark = near(rgb, (0x33, 0x33, 0x33), 25)
    shown = np.isfinite(corr.g)
    assert shown.sum() > 10
    for r, g in zip(corr.r_um[shown], corr.g[shown]):
        x, y = plot_to_png(plot, r, g)
        assert dark[int(y) - 1: int(y) + 2, int(x) - 1: int(x) + 2].all()
    # G = 1/e falls between the bins around it; the dashed line crosses the plot there.
    assert np.interp(corr.length_1e_um, corr.r_um[shown], corr.g[shown]) == pytest.approx(
        1 / math.e, abs=0.01)
    x, top = plot_to_png(plot, corr.length_1e_um, plot.ylim[1])
    _, bottom = plot_to_png(plot, corr.length_1e_um, plot.ylim[0])
    column = near(rgb, BLUE)[int(top) + 2: int(bottom) - 2, int(x) - 1: int(x) + 2].any(axis=1)
    assert 0.4 < column.mean() < 0.9  # dashed


def replace_correlation(result, **values):
    return dataclasses.replace(
        result, correlation=dataclasses.replace(result.correlation, **values))


@pytest.mark.parametrize("kind", ["all-nan", "with-inf", "no-bins"])
def test_missing_correlation_values_are_left_out(planted, kind):
    tissue, result = planted
    g, empty = result.correlation.g, np.empty(0)
    values = {"all-nan": dict(g=np.full_like(g, np.nan), r2=math.nan, length_1e_um=math.nan),
              "with-inf": dict(g=np.where(np.arange(g.size) % 3 == 0, np.inf, g)),
              "no-bins": dict(r_um=empty, g=empty, pairs=empty, length_1e_um=math.nan)}[kind]
    pixels(render_png(replace_correlation(result, fit_ok=False, **values), tissue.image))


@pytest.mark.parametrize("shape", [(16, 16), (16, 300), (300, 16)],
                         ids=["16x16", "16x300", "300x16"])
def test_tiny_images_are_drawn(shape):
    image = np.random.default_rng(0).normal(size=shape)
    result = tazmir.analyze_image(image, pixel_size_um=1.0, sigma=1.0, grid_step=2)
    pixels(render_png(result, image))
    place = field_placement(shape)
    # The whole image in the panel's room, pixels square.
    assert place.width <= 470 and place.height <= 408
    assert max(place.width, place.height) >= 400
    assert math.isclose(place.x_scale, place.y_scale, rel_tol=0.1)


def test_matplotlib_figure_shows_the_same_segments(planted):
    from matplotlib.collections import LineCollection

    tissue, result = planted
    figure = analysis_figure(result, tissue.image)
    field = figure.axes[0]
    drawn = [c for c in field.collections if isinstance(c, LineCollection) and c.get_array()
             is not None]
    # The 48 x 52 grid, pooled 2 x 2 to stay within 48 segments a side.
    assert result.grid.shape == (48, 52)
    assert len(drawn[0].get_segments()) == 24 * 26
    assert png_bytes(figure).startswith(b"\x89PNG")


def test_viridis_matches_matplotlib():
    import matplotlib

    values = np.linspace(0.0, 1.0, 257)
    reference = matplotlib.colormaps["viridis"](values)[:, :3] * 255
    assert np.abs(viridis(values) - reference).max() <= 6


@pytest.mark.parametrize("low, high", [(0, 2047), (0, 0.37), (-0.23, 1.05), (3, 8), (0, 1e-3)])
def test_ticks_are_round_and_inside_the_range(low, high):
    ticks = nice_ticks(low, high)
    step = np.diff(ticks)
    assert 3 <= ticks.size <= 7 and np.allclose(step, step[0])
    mantissa = step[0] / 10 ** math.floor(math.log10(step[0]))
    assert any(math.isclose(mantissa, m) for m in (1, 2, 2.5, 5))
    assert ticks[0] >= low - 1e-12 and ticks[-1] <= high + 1e-12
    assert ticks[0] - low < step[0] and high - ticks[-1] < step[0]


@pytest.mark.parametrize("value, ticks, text", [
    (-0.5, [-0.5, 0.0, 0.5], "\N{MINUS SIGN}0.5"),
    (0.25, [0.0, 0.25, 0.5], "0.25"),
    (2000.0, [0.0, 1000.0, 2000.0], "2000"),
    (-0.0, [-0.0, 0.2], "0.0"),
], ids=["minus-sign", "quarter", "whole", "negative-zero"])
def test_tick_labels(value, ticks, text):
    assert tick_label(value, np.array(ticks)) == text


def test_every_character_of_the_figures_is_in_the_shipped_font(planted):
    from fontTools.ttLib import TTFont

    from tazmir.figures import movie_content
    from tazmir.raster import _FONT_FILE

    tissue, result = planted
    movie = tazmir.analyze_movie(tazmir.synthetic_movie(3, 96).frames, pixel_size_um=0.5)
    texts = []
    fitted = replace_correlation(result, fit_ok=True, length_um=20.0, length_err_um=0.8,
                                 amplitude=1.0, fit_max_um=30.0, r2=0.98)
    for content in (analysis_content(result), analysis_content(fitted), movie_content(movie)):
        texts.append(content.title)
        for panel in (content.field, content.plot):
            texts += [panel.title, panel.xlabel, panel.ylabel]
            texts += [entry.label for entry in panel.legend]
            texts += [tick_label(t, ticks) for ticks in (panel.xticks, panel.yticks)
                      for t in ticks]
        texts.append(content.field.colourbar_label)
    texts.append(tick_label(-1.0, np.array([-1.0, 0.0])))
    covered = set(TTFont(_FONT_FILE).getBestCmap())
    assert {c for c in "".join(texts) if ord(c) not in covered} == set()
