"""analyze_image on synthetic tissues with known defects, and its result object."""

import math

import numpy as np
import pytest

import _native
import tazmir
from tazmir.synthetic import PlantedDefect, synthetic_tissue

from conftest import match_defects


@pytest.fixture(scope="module")
def demo():
    tissue = synthetic_tissue()
    return tissue, tazmir.analyze_image(tissue.image, pixel_size_um=tissue.pixel_size_um,
                                        nuclear_mask=tissue.nuclear_mask,
                                        contours=tissue.contours)


@pytest.mark.parametrize(
    "shape, defects",
    [((160, 256), None), ((256, 128), (PlantedDefect(64, 64, 0.5), PlantedDefect(192, 64, -0.5))),
     ((200, 200), (PlantedDefect(100, 100, -0.5),))],
    ids=["wide", "tall", "single-minus"],
)
def test_defects_land_at_their_pixels_on_any_grid_shape(shape, defects):
    tissue = synthetic_tissue(shape, defects=defects, n_outlined=0, seed=5)
    result = tazmir.analyze_image(tissue.image, pixel_size_um=1.0)
    assert match_defects(result.defects, tissue.defects)[:2] == (1.0, 1.0)


def test_demo_tissue_gives_its_planted_defects_and_the_simulator_its_parameters(demo):
    tissue, result = demo
    precision, recall, position, angle = match_defects(result.defects, tissue.defects)
    assert (precision, recall) == (1.0, 1.0)
    assert position.max() < 3.0 and angle.max() < 10.0
    frame = result.defects_frame()
    assert list(frame.columns) == ["frame", "row_px", "col_px", "row_um", "col_um", "charge",
                                   "angle_rad", "order", "confidence", "anisotropy",
                                   "anisotropy_err"]
    np.testing.assert_allclose(frame["row_um"], frame["row_px"] * tissue.pixel_size_um)
    # Only a +1/2 defect has a splay-bend anisotropy (a -1/2 has no comet tail).
    assert (frame["charge"] < 0).tolist() == frame["anisotropy"].isna().tolist()
    # The record for the simulator is built from this analysis's own numbers.
    step = result.grid_step
    assert result.analysed_area_um2 == result.grid.valid.sum() * (step * 0.5) ** 2
    params = _native.build_fenwold_params(
        *(result.ldg[k] for k in ("a", "b", "c", "k_elastic")), result.frank["splay"],
        result.frank["bend"], len(result.defects), result.analysed_area_um2)
    assert result.to_json() == params.pop("json") and result.fenwold == params
    corr = result.correlation
    length_px = (corr.length_um if corr.fit_ok else corr.length_1e_um) / 0.5
    assert result.ldg == _native.estimate_ldg_params(result.grid.order[result.grid.valid],
                                                     length_px, 0.5)
    # G_2 decays over the bent texture but stays ordered at short range; bins are one grid
    # spacing wide whatever the image size.
    assert 2.5 < length_px * 0.5 < 250.0 and corr.bin_width_um == step * 0.5


def test_result_holds_nuclei_ripley_shapes_and_a_flat_summary(demo):
    tissue, result = demo
    assert len(result.shapes) == len(tissue.contours) == 400
    assert 350 <= len(result.nuclei) <= 400
    assert np.median([n["aspect_ratio"] for n in result.nuclei]) > 1.5
    assert result.ripley.n_points == len(result.nuclei) and result.ripley.k.shape == (32,)
    # Nuclei drawn at uniform random places (first drawn wins an overlap): inside the envelope.
    ripley = result.ripley
    assert np.mean((ripley.csr_low <= ripley.l_minus_r) & (ripley.l_minus_r <= ripley.csr_high)
                   ) >= 0.9
    # The outlines are 10 x 4 ellipses: shape index above the circle's 2*sqrt(pi).
    assert np.mean([s["shape_index"] for s in result.shapes]) > 2 * math.sqrt(math.pi)
    summary = result.summary()
    assert list(summary)[:6] == ["image_rows", "image_cols", "pixel_size_um", "sigma",
                                 "grid_step", "k"]
    assert all(v is None or isinstance(v, (bool, int, float)) for v in summary.values())
    assert (summary["n_defects"], summary["n_positive"], summary["n_negative"]) == (2, 1, 1)
    assert (summary["n_cells"], summary["n_nuclei"]) == (400, len(result.nuclei))


def test_analysis_is_reproducible_leaves_its_input_alone_and_unmeasured_parts_empty():
    tissue = synthetic_tissue(64, n_outlined=0)
    image = np.asfortranarray(tissue.image)
    before = image.copy()
    first = tazmir.analyze_image(image, pixel_size_um=1.0)
    second = tazmir.analyze_image(tissue.image, pixel_size_um=1.0)
    np.testing.assert_array_equal(image, before)
    assert first.to_json() == second.to_json() and first.summary() == second.summary()
    assert first.summary()["n_nuclei"] is None and first.summary()["shape_index_mean"] is None


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"image": np.zeros(16)}, ValueError, "image must be a 2-D array, got shape (16,)"),
        ({"image": np.zeros((8, 8), complex)}, TypeError,
         "image must hold real numbers, got dtype complex128"),
        ({"image": np.full((8, 8), np.nan)}, ValueError, "image contains NaN or infinite values"),
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
        ({"nuclei": np.zeros((16, 16))}, TypeError,
         "nuclei must hold integer labels, got dtype float64"),
        ({"cells": np.full((16, 16), -2, np.int64)}, ValueError,
         "cells labels must be non-negative 32-bit integers"),
        ({"contours": [np.zeros((2, 2))]}, ValueError,
         "contour 0 must be an N x 2 array of at least 3 (x, y) points, got shape (2, 2)"),
        ({"contours": [[[0, 0], [1, 0], [0, 1]], [[0, 0], [1, 1], [2, 2]]]}, ValueError,
         "contour 1 cannot be measured: its points all lie on one line"),
        ({"contours": [[[0, 0], [1, np.nan], [0, 1]]]}, ValueError,
         "contour 0 contains NaN or infinite coordinates"),
    ],
    ids=["1d", "complex", "nan", "inf-pixel", "negative-sigma", "zero-step", "zero-k", "odd-k",
         "too-small", "step-too-big", "sigma-word", "zero-core", "region-shape", "mask-shape",
         "nuclei-float", "cells-negative", "short-contour", "collinear", "nan-contour"],
)
def test_bad_input_is_refused_with_a_clear_message(kwargs, error, message):
    arguments = {"image": np.zeros((16, 16)), "pixel_size_um": 1.0, **kwargs}
    with pytest.raises(error) as info:
        tazmir.analyze_image(arguments.pop("image"), **arguments)
    assert str(info.value) == message
