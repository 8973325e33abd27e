"""The structure tensor in strips of rows equals the whole image's, bit for bit, and an
image (and its labels) analysed in its stored type gives the analysis of its usual copy."""

import numpy as np
import pytest

import _native
import tazmir
from tazmir.synthetic import synthetic_tissue
from tazmir.tensor import structure_tensor


@pytest.mark.parametrize(
    "shape, sigma, strip_pixels, dtype",
    [((300, 200), 1.28, 4000, np.uint16), ((301, 77), 3.0, 3000, np.float32),
     ((100, 64), 0.3, 500, np.int64), ((257, 130), 0.5, 2000, np.uint8),
     ((500, 40), 6.5, 1000, np.float64), ((90, 90), 2.0, 10**6, np.uint16)],
    ids=["uint16", "float32-odd-rows", "unsmoothed", "half-pixel", "halo-wider-than-strip",
         "whole"],
)
def test_strips_equal_the_whole_image_bit_for_bit(rng, shape, sigma, strip_pixels, dtype):
    image = (rng.random(shape) * 200).astype(dtype)
    whole = _native.compute_structure_tensor(image.astype(np.float64), sigma)
    strips = structure_tensor(image, sigma, strip_pixels, whole_pixels=strip_pixels)
    for name in ("theta", "coherence"):
        assert strips[name].dtype == np.float64
        assert np.array_equal(strips[name], whole[name]), name


def test_a_16_bit_image_and_64_bit_labels_give_the_analysis_of_their_usual_copies():
    tissue = synthetic_tissue(128, n_outlined=40, seed=4)
    image, labels = tissue.image, tissue.nuclear_mask
    stored = np.round((image - image.min()) / np.ptp(image) * 65535).astype(np.uint16)
    direct = tazmir.analyze_image(stored, pixel_size_um=0.5, nuclei=labels.astype(np.int64))
    copied = tazmir.analyze_image(stored.astype(np.float64), pixel_size_um=0.5,
                                  nuclei=labels.astype(np.int32))
    assert direct.defects and direct.defects == copied.defects and direct.nuclei
    assert direct.summary() == copied.summary()
    # The pixel maps are for display and export: float32 of the core's values.
    assert direct.theta.dtype == direct.coherence.dtype == np.float32
    field = _native.compute_structure_tensor(stored.astype(np.float64), direct.sigma)
    assert np.array_equal(direct.theta, field["theta"].astype(np.float32))
