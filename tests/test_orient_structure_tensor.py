"""compute_structure_tensor and compute_multiscale_structure_tensor: against SciPy, known
orientations, the optimal scale and the failures of the orientation entry points."""

import math

import numpy as np
import pytest
from scipy import ndimage

import _native
from conftest import UNDER_ASAN

HALF_PI = 1.5707963267948966
SINGLE, MULTI = _native.compute_structure_tensor, _native.compute_multiscale_structure_tensor


def random_image(shape, seed=0):
    return np.random.default_rng(seed).uniform(-1.0, 2.0, size=shape)


def reference(image, sigma):
    """theta and coherence from the Scharr gradient (3 10 3 / 32, zero on the border) and a
    Gaussian of radius ceil(4 sigma) with zeros beyond the image (none below sigma 0.5), by
    SciPy's correlation: to rounding, independently of the library's order of operations."""
    p, gx, gy = image, np.zeros(image.shape), np.zeros(image.shape)
    if min(image.shape) >= 3:
        gx[1:-1, 1:-1] = (3 * (p[:-2, 2:] - p[:-2, :-2] + p[2:, 2:] - p[2:, :-2])
                          + 10 * (p[1:-1, 2:] - p[1:-1, :-2])) / 32
        gy[1:-1, 1:-1] = (3 * (p[2:, :-2] - p[:-2, :-2] + p[2:, 2:] - p[:-2, 2:])
                          + 10 * (p[2:, 1:-1] - p[:-2, 1:-1])) / 32
    tensor = [gx * gx, gx * gy, gy * gy]
    if sigma >= 0.5:
        taps = np.exp(-np.arange(-math.ceil(4 * sigma), math.ceil(4 * sigma) + 1) ** 2
                      / (2 * sigma * sigma))
        for axis in (1, 0):
            tensor = [ndimage.correlate1d(t, taps / taps.sum(), axis, mode="constant")
                      for t in tensor]
    a, b, c = tensor
    theta = np.mod(0.5 * np.arctan2(2 * b, a - c) + HALF_PI, math.pi)
    with np.errstate(invalid="ignore", divide="ignore"):
        coherence = np.where(a + c > 1e-15, np.hypot(2 * b, a - c) / (a + c), 0.0)
    return theta, coherence


@pytest.mark.parametrize(
    ("shape", "sigma", "nan_at"),
    [
        ((2, 5), 2.0, None),  # no interior pixel
        ((9, 14), 0.49, None),  # unsmoothed copy
        ((40, 33), 2.0, None),
        ((70, 45), 0.5, (30, 20)),  # a NaN pixel reaches only its neighbourhood
        ((12, 60), 9.0, None),  # kernel wider than the image is tall
        ((300, 23), 1.7, None),  # tall enough for the rolling form
        ((20, 20), -1.0, None),  # a negative scale is not smoothed either
    ],
    ids=["2x5", "copy-path", "40x33", "nan-pixel", "wide-kernel", "tall", "negative-sigma"],
)
def test_the_field_is_scharr_gradients_smoothed_by_a_gaussian(shape, sigma, nan_at):
    # Every bit on other images is pinned by tests/test_digest.py.
    image = random_image(shape, seed=shape[0] * 100 + shape[1])
    if nan_at:
        image[nan_at] = np.nan
    result = SINGLE(image, sigma)
    theta, coherence = reference(image, sigma)
    np.testing.assert_array_equal(np.isnan(result["theta"]), np.isnan(theta))
    turn = np.abs(np.remainder(result["theta"] - theta + HALF_PI, math.pi) - HALF_PI)
    assert np.nanmax(turn, initial=0.0) < 1e-12
    np.testing.assert_allclose(result["coherence"], coherence, rtol=0, atol=1e-12)


def test_results_are_new_arrays_and_any_number_sequence_gives_the_scales():
    # Key order, shapes and dtypes are pinned by tests/test_digest.py.
    image = random_image((9, 8))
    single, multi = SINGLE(image, 2), MULTI(image, [1, 2])
    arrays = [*single.values(), multi["optimal_sigma"], multi["max_coherence"]]
    assert all(a.flags.c_contiguous and a.flags.writeable for a in arrays)
    np.testing.assert_equal(single, SINGLE(image, 2.0))  # an int sigma is 2.0
    assert multi["sigmas"] == [1.0, 2.0] and all(type(s) is float for s in multi["sigmas"])
    for sigmas in ((1.0, 2.0), np.array([1.0, 2.0])):
        np.testing.assert_equal(MULTI(image, sigmas), multi)


r, c = np.indices((30, 30))
KNOWN = {  # image, sigma, theta, coherence, margin left out, tolerance
    "constant": (np.full((12, 9), 3.5), 1.0, HALF_PI, 0.0, 0, 0),
    "one-pixel": (np.array([[7.0]]), 2.0, HALF_PI, 0.0, 0, 0),
    "smaller-than-3x3": (random_image((2, 2)), 1.0, HALF_PI, 0.0, 0, 0),
    "nan-sigma": (random_image((6, 6)), math.nan, math.nan, 0.0, 0, 0),
    "vertical-stripes": (np.sin(c * 0.7), 1.5, HALF_PI, 1.0, 10, 1e-12),
    "horizontal-stripes": (np.sin(r * 0.7), 1.5, 0.0, 1.0, 10, 1e-12),  # pi folds to 0
    "anti-diagonal": (np.cos((r + c) * 0.5), 2.0, 3 * math.pi / 4, 1.0, 10, 1e-12),
}


@pytest.mark.parametrize(("image", "sigma", "theta", "coherence", "margin", "tolerance"),
                         KNOWN.values(), ids=KNOWN.keys())
def test_known_orientations(image, sigma, theta, coherence, margin, tolerance):
    result = SINGLE(image, sigma)
    inner = (slice(margin, image.shape[0] - margin), slice(margin, image.shape[1] - margin))
    for key, value in (("theta", theta), ("coherence", coherence)):
        np.testing.assert_allclose(result[key][inner], value, rtol=0, atol=tolerance)


@pytest.mark.parametrize(
    ("image", "sigmas"),
    [
        (random_image((300, 40), seed=2), [1.0, 0.3, 4.0, 2.0, 60.0, 1.0, 9.0]),  # tall: shared
        (random_image((30, 20), seed=3), [float("nan"), 1.0]),  # NaN scale: coherence 0.0
        (np.ones((6, 7)), [2.0, 1.0]),  # ties everywhere
    ],
    ids=["shared-and-repeated", "nan-scale-first", "constant"],
)
def test_each_scale_is_the_single_scale_result_and_the_first_best_wins(image, sigmas):
    result = MULTI(image, sigmas)
    for sigma, scale in zip(sigmas, result["scale_results"], strict=True):
        np.testing.assert_equal(scale, {"sigma": sigma, **SINGLE(image, sigma)})
    # a later scale wins only where its coherence is strictly greater
    stacked = np.stack([scale["coherence"] for scale in result["scale_results"]])
    np.testing.assert_array_equal(result["optimal_sigma"],
                                  np.asarray(sigmas)[np.argmax(stacked, axis=0)])
    np.testing.assert_array_equal(result["max_coherence"], np.max(stacked, axis=0))


@pytest.mark.parametrize(
    ("shape", "sigmas", "out"),
    [((5, 6), [], (5, 6)), ((1, 1), [], (1, 1)), ((4, 0), [], (4, 0)), ((0, 3), [], (0, 0)),
     ((0, 5), [1.0, 2.0], (0, 0))],
    ids=["5x6", "1x1", "4x0", "0x3", "0x5-two-scales"],
)
def test_no_scales_or_no_rows(shape, sigmas, out):
    """No scale wins anywhere: the maps hold 0.0 and -1.0 at every pixel of the image."""
    result = MULTI(random_image(shape), sigmas)
    assert result["sigmas"] == sigmas
    assert [d["theta"].shape for d in result["scale_results"]] == [out] * len(sigmas)
    assert result["optimal_sigma"].shape == result["max_coherence"].shape == out
    assert np.all(result["optimal_sigma"] == 0.0) and np.all(result["max_coherence"] == -1.0)


ONES = np.ones((4, 4))
NO_CHUNKS = "chunk_size must not be zero"
# Argument refusals of these functions are the frame's, asserted in tests/test_conversions.py;
# an image without columns at one scale: tests/test_threads.py.
PANICS = {  # None: the allocator's text, whatever its size
    "0x0-unsmoothed": (SINGLE, (np.zeros((0, 0)), 0.2), NO_CHUNKS),
    "4x0-multiscale": (MULTI, (np.zeros((4, 0)), [1.0]), NO_CHUNKS),
    "sigma-1e300": (SINGLE, (ONES, 1e300), "capacity overflow"),
    "sigma-inf": (MULTI, (ONES, [1.0, math.inf]), "capacity overflow"),
}
if not UNDER_ASAN:
    PANICS["sigma-1e12"] = (SINGLE, (ONES, 1e12), None)


@pytest.mark.parametrize(("function", "args", "message"), PANICS.values(), ids=PANICS)
def test_internal_failures(function, args, message):
    with pytest.raises(_native.PanicException) as info:
        function(*args)
    assert type(info.value) is _native.PanicException
    assert message is None or str(info.value) == message
    assert SINGLE(ONES, 1.0)["coherence"].sum() == 0.0  # still usable afterwards
