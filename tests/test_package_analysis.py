"""analyze_image on synthetic tissues with known defects, and its result object."""

import json
import math

import numpy as np
import pytest

import _native
import tazmir
from tazmir.grid import grid_to_pixels
from tazmir.synthetic import PlantedDefect, synthetic_tissue


@pytest.fixture(scope="module")
def demo():
    tissue = synthetic_tissue()
    result = tazmir.analyze_image(
        tissue.image,
        pixel_size_um=tissue.pixel_size_um,
        nuclear_mask=tissue.nuclear_mask,
        contours=tissue.contours,
    )
    return tissue, result


def assert_found_planted(result, planted, tolerance_px):
    assert len(result.defects) == len(planted)
    for truth in planted:
        near = [
            d for d in result.defects
            if math.hypot(d.row - truth.row, d.col - truth.col) <= tolerance_px
        ]
        assert [d.charge for d in near] == [truth.charge]


@pytest.mark.parametrize(
    "shape, defects",
    [
        ((160, 256), None),
        ((256, 128), (PlantedDefect(64, 64, 0.5), PlantedDefect(192, 64, -0.5))),
        ((200, 200), (PlantedDefect(100, 100, -0.5),)),
    ],
    ids=["wide", "tall", "single-minus"],
)
def test_defects_land_at_their_pixels_on_any_grid_shape(shape, defects):
    tissue = synthetic_tissue(shape, defects=defects, n_outlined=0, seed=5)
    result = tazmir.analyze_image(tissue.image, pixel_size_um=1.0)
    assert_found_planted(result, tissue.defects, tolerance_px=8)
    for d in result.defects:
        assert (d.row_um, d.col_um) == (d.row, d.col)


@pytest.mark.parametrize("base_angle", [0.0, 0.3, math.pi / 2, 2.5], ids=lambda a: f"{a:.2f}")
def test_uniform_texture_has_no_defects_and_little_deformation(base_angle):
    tissue = synthetic_tissue(96, defects=(), base_angle=base_angle, n_outlined=0, seed=3)
    result = tazmir.analyze_image(tissue.image, pixel_size_um=0.5)
    assert result.defects == ()
    assert result.poincare_hopf["charge_sum"] == -0.0
    # Block directors scatter around one axis, even around the 0/pi fold.
    spread = np.abs(np.sin(result.grid.director - base_angle))
    assert np.median(spread) < 0.1
    assert result.frank["splay"] < 2.0 and result.frank["bend"] < 2.0


def test_grid_positions_are_block_centres():
    assert tuple(grid_to_pixels(np.array([0.5, 1.5]), 8)) == (7.5, 15.5)
    assert tuple(grid_to_pixels(np.array([1.0, 2.0]), 2)) == (2.5, 4.5)


def test_result_chains_the_core_functions(demo):
    tissue, result = demo
    step = result.grid_step
    assert result.image_shape == (192, 192) and result.grid.shape == (192 // step,) * 2
    assert result.theta.shape == result.coherence.shape == (192, 192)
    params = _native.build_fenwold_params(
        result.ldg["a"], result.ldg["b"], result.ldg["c"], result.ldg["k_elastic"],
        result.frank["splay"], result.frank["bend"], len(result.defects),
        result.analysed_area_um2,
    )
    assert result.analysed_area_um2 == result.grid.valid.sum() * (step * 0.5) ** 2
    assert result.to_json() == params.pop("json")
    assert result.fenwold == params
    assert json.loads(result.to_json())["zeta_eff"] == params["zeta_eff"]
    corr = result.correlation
    length_px = (corr.length_um if corr.fit_ok else corr.length_1e_um) / 0.5
    ldg = _native.estimate_ldg_params(result.grid.order[result.grid.valid], length_px, 0.5)
    assert result.ldg == ldg
    # G_2 decays over the bent texture but stays ordered at short range; bins are one grid
    # spacing wide whatever the image size.
    assert 2.5 < length_px * 0.5 < 250.0
    assert corr.bin_width_um == step * 0.5


def test_result_holds_nuclei_ripley_and_shapes(demo):
    tissue, result = demo
    assert len(result.shapes) == len(tissue.contours) == 400
    assert 350 <= len(result.nuclei) <= 400
    assert np.median([n["aspect_ratio"] for n in result.nuclei]) > 1.5
    assert result.ripley.n_points == len(result.nuclei)
    assert result.ripley.k.shape == result.ripley.csr_low.shape == (32,)
    # Nuclei drawn at uniform random places (first drawn wins an overlap): inside the envelope.
    inside = (result.ripley.csr_low <= result.ripley.l_minus_r) & (
        result.ripley.l_minus_r <= result.ripley.csr_high)
    assert inside.mean() >= 0.9
    # The outlines are 10 x 4 ellipses: shape index above the circle's 2*sqrt(pi).
    assert np.mean([s["shape_index"] for s in result.shapes]) > 2 * math.sqrt(math.pi)


def test_summary_is_flat_and_consistent(demo):
    _, result = demo
    summary = result.summary()
    assert list(summary)[:6] == ["image_rows", "image_cols", "pixel_size_um", "sigma",
                                 "grid_step", "k"]
    assert all(v is None or isinstance(v, (bool, int, float)) for v in summary.values())
    assert summary["n_defects"] == 2 and summary["n_positive"] == summary["n_negative"] == 1
    assert summary["frank_ratio"] == result.frank["ratio"]
    assert summary["n_cells"] == 400 and summary["n_nuclei"] == len(result.nuclei)


def test_analysis_is_reproducible_leaves_its_input_alone_and_unmeasured_parts_empty():
    tissue = synthetic_tissue(64, n_outlined=0)
    image = np.asfortranarray(tissue.image)
    before = image.copy()
    first = tazmir.analyze_image(image, pixel_size_um=1.0)
    second = tazmir.analyze_image(tissue.image, pixel_size_um=1.0)
    np.testing.assert_array_equal(image, before)
    assert first.to_json() == second.to_json()
    assert first.summary() == second.summary()
    assert first.summary()["n_nuclei"] is None and first.summary()["shape_index_mean"] is None


def test_integer_images_and_masks_are_accepted():
    image = (np.indices((40, 40)).sum(axis=0) % 7).astype(np.uint16)
    mask = np.zeros((40, 40), np.int64)
    mask[10:14, 5:15] = 3
    result = tazmir.analyze_image(image, pixel_size_um=1.0, nuclear_mask=mask)
    assert [n["label"] for n in result.nuclei] == [3]
    assert result.nuclei[0]["angle"] == math.pi / 2  # long along the columns


def test_flat_image_gives_an_orderless_grid():
    result = tazmir.analyze_image(np.ones((32, 48)), pixel_size_um=1.0)
    assert result.defects == ()
    assert np.all(result.grid.order == 0.0)
    assert result.correlation.fit_ok is False
    assert math.isnan(result.correlation_length_um)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"image": np.zeros(16)}, ValueError, "image must be a 2-D array, got shape (16,)"),
        ({"image": np.zeros((8, 8), complex)}, TypeError,
         "image must hold real numbers, got dtype complex128"),
        ({"image": np.full((8, 8), np.nan)}, ValueError, "image contains NaN or infinite values"),
        ({"pixel_size_um": 0.0}, ValueError,
         "pixel_size_um must be a positive finite number, got 0.0"),
        ({"pixel_size_um": math.inf}, ValueError,
         "pixel_size_um must be a positive finite number, got inf"),
        ({"sigma": -1.0}, ValueError, "sigma must be a non-negative finite number, got -1.0"),
        ({"grid_step": 0}, ValueError, "grid_step must be at least 1, got 0"),
        ({"k": 0}, ValueError, "k must be at least 1, got 0"),
        ({"k": 1}, ValueError, "k must be even for an orientation field of axes, got 1"),
        ({"image": np.zeros((7, 30))}, ValueError,
         "image of shape (7, 30) is smaller than the 16 x 16 pixels the analysis needs"),
        ({"image": np.zeros((20, 30)), "grid_step": 24}, ValueError,
         "image of shape (20, 30) holds no whole 24 x 24 block"),
        ({"sigma": "fast"}, ValueError, "sigma must be \"auto\" or a positive number, got 'fast'"),
        ({"core_radius": 0.0}, ValueError,
         "core_radius must be a positive finite number, got 0.0"),
        ({"mask": np.ones((5, 5))}, ValueError, "mask has shape (5, 5), the image (16, 16)"),
        ({"nuclear_mask": np.zeros((5, 5), np.int32)}, ValueError,
         "nuclear_mask has shape (5, 5), the image (16, 16)"),
        ({"nuclear_mask": np.zeros((16, 16))}, TypeError,
         "nuclear_mask must hold integer labels, got dtype float64"),
        ({"nuclear_mask": np.full((16, 16), -2, np.int32)}, ValueError,
         "nuclear_mask labels must be non-negative 32-bit integers"),
        ({"contours": [np.zeros((2, 2))]}, ValueError,
         "contour 0 must be an N x 2 array of at least 3 (x, y) points, got shape (2, 2)"),
        ({"contours": [[[0, 0], [1, 0], [0, 1]], [[0, 0], [1, 1], [2, 2]]]}, ValueError,
         "contour 1 cannot be measured: its points all lie on one line"),
        ({"contours": [[[0, 0], [1, np.nan], [0, 1]]]}, ValueError,
         "contour 0 contains NaN or infinite coordinates"),
    ],
    ids=["1d", "complex", "nan", "zero-pixel", "inf-pixel", "negative-sigma", "zero-step",
         "zero-k", "odd-k", "too-small", "step-too-big", "sigma-word", "zero-core",
             "region-shape", "mask-shape", "mask-float", "mask-negative", "short-contour", "collinear",
         "nan-contour"],
)
def test_bad_input_is_refused_with_a_clear_message(kwargs, error, message):
    arguments = {"image": np.zeros((16, 16)), "pixel_size_um": 1.0, **kwargs}
    image = arguments.pop("image")
    with pytest.raises(error) as info:
        tazmir.analyze_image(image, **arguments)
    assert str(info.value) == message
