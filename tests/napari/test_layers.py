"""Layer data of an analysis, checked against planted fields and drawn ellipses (no Qt)."""

import math

import numpy as np
import pytest

import tazmir
from tazmir.angles import fold
from tazmir.napari._compat import nucleus_table
from tazmir.napari.layers import analysis_layers, nuclei_layer

STEP = 8


@pytest.mark.parametrize("theta", [0.3, 1.2, 2.5], ids=["shallow", "steep", "falling"])
def test_director_segments_follow_a_uniform_texture(theta):
    tissue = tazmir.synthetic_tissue(96, defects=(), base_angle=theta, n_outlined=0)
    result = tazmir.analyze_image(tissue.image, pixel_size_um=0.5, sigma=2.0, grid_step=STEP)
    data, keywords, kind = analysis_layers(result, name="t", scale=(0.5, 0.5))[0]
    assert kind == "vectors" and keywords["scale"] == (0.5, 0.5)
    start, span = data[:, 0], data[:, 1]
    # Undirected: each segment is centred on its block (the mean pixel of the block).
    blocks = np.arange(96 // STEP)
    centre = np.arange(STEP).mean() + STEP * blocks
    expected = np.stack(np.meshgrid(centre, centre, indexing="ij"), axis=-1).reshape(-1, 2)
    np.testing.assert_allclose(start + 0.5 * span, expected, atol=1e-12)
    angles = fold(np.arctan2(span[:, 0], span[:, 1]))
    error = np.angle(np.exp(2j * (angles - theta))) / 2
    # The random cells scatter block directors by about 4 degrees, without a bias.
    assert np.median(np.abs(error)) < 0.12
    assert abs(error.mean()) < 0.03


def test_nuclear_ellipse_box_matches_the_drawn_ellipse():
    centre, a, b, theta = np.array([40.3, 50.7]), 12.0, 5.0, 0.6  # director convention
    rows, cols = np.mgrid[0:96, 0:96].astype(float)
    along = (cols - centre[1]) * math.cos(theta) + (rows - centre[0]) * math.sin(theta)
    across = -(cols - centre[1]) * math.sin(theta) + (rows - centre[0]) * math.cos(theta)
    labels = ((along / a) ** 2 + (across / b) ** 2 <= 1).astype(np.int32)
    result = tazmir.analyze_image(rows, pixel_size_um=0.25, nuclei=labels)
    (box,), keywords, kind = nuclei_layer(nucleus_table(result), stacked=False, name="n",
                                          scale=(1, 1), translate=(0, 0))
    assert kind == "shapes" and keywords["shape_type"] == "ellipse"
    np.testing.assert_allclose(box.mean(axis=0), centre, atol=0.15)  # pixelated
    long_side, short_side = box[0] - box[3], box[0] - box[1]
    assert np.hypot(*long_side) == pytest.approx(2 * a, rel=0.03)
    assert np.hypot(*short_side) == pytest.approx(2 * b, rel=0.05)
    assert fold(math.atan2(long_side[0], long_side[1])) == pytest.approx(theta, abs=0.01)


def test_layer_axes_must_match_the_result():
    result = tazmir.analyze_image(np.random.default_rng(1).random((32, 32)), pixel_size_um=1.0)
    with pytest.raises(ValueError) as error:
        analysis_layers(result, name="x", scale=(1.0, 1.0), frame=3)
    assert str(error.value) == "need 3 scale and translate values, got 2 and 2"
