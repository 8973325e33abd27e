"""The package's own kernels against plain NumPy references, and their guards (thread-count
independence: tests/test_threads.py)."""

import numpy as np
import pytest

from tazmir import _kernels


def block_means_reference(theta, weight, mask, step):
    rows, cols = theta.shape[0] // step, theta.shape[1] // step
    inside = np.ones_like(theta) if mask is None else (mask != 0).astype(np.float64)
    w = weight * inside
    channels = [w * np.cos(2 * theta), w * np.sin(2 * theta), w, inside]
    return np.stack(
        [c[: rows * step, : cols * step].reshape(rows, step, cols, step).mean(axis=(1, 3))
         for c in channels],
        axis=-1,
    )


def blur_reference(plane, sigma):
    radius = int(np.ceil(4 * sigma))
    x = np.arange(-radius, radius + 1)
    taps = np.exp(-x * x / (2 * sigma * sigma))
    taps /= taps.sum()
    rows = np.apply_along_axis(lambda r: np.convolve(r, taps, mode="same"), 1, plane)
    return np.apply_along_axis(lambda c: np.convolve(c, taps, mode="same"), 0, rows)


@pytest.mark.parametrize("shape, step", [((37, 50), 4), ((64, 64), 1), ((9, 30), 3)],
                         ids=["trailing-pixels", "step1", "wide"])
@pytest.mark.parametrize("masked", [False, True], ids=["all", "masked"])
def test_block_means_match_numpy(rng, shape, step, masked):
    # Angles well outside [0, pi) too: the fast doubled-angle sin/cos reduces any quadrant.
    theta = rng.uniform(-20.0, 20.0, shape)
    weight = rng.random(shape)
    mask = (rng.random(shape) > 0.3).astype(np.uint8) if masked else None
    got = _kernels.nematic_block_means(theta, weight, mask, step)
    # Round-off of the angle reduction grows with |2 theta|, about 1e-16 per radian.
    np.testing.assert_allclose(got, block_means_reference(theta, weight, mask, step),
                               rtol=0, atol=1e-13)


def test_blur_matches_numpy_and_keeps_planes_apart(rng):
    stack = rng.random((4, 40, 33))
    got = _kernels.gaussian_blur_stack(stack, 1.7)
    for plane, smooth in zip(stack, got):
        np.testing.assert_allclose(smooth, blur_reference(plane, 1.7), rtol=0, atol=1e-13)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: _kernels.nematic_block_means([[0.0]], np.ones((1, 1)), None, 1), TypeError,
         "theta must be a NumPy array"),
        (lambda: _kernels.nematic_block_means(np.ones((2, 2)), np.ones((2, 3)), None, 1),
         ValueError, "theta, weight and mask must have one shape"),
        (lambda: _kernels.nematic_block_means(np.ones((2, 2)), np.ones((2, 2)), None, 0),
         ValueError, "step must be at least 1"),
        (lambda: _kernels.nematic_block_means(np.ones((2, 2)), np.ones((2, 2), np.float32),
                                              None, 1),
         ValueError, "weight must be a C-contiguous 2-D array of numpy.float64"),
        (lambda: _kernels.gaussian_blur_stack(np.ones((1, 2, 2)), float("nan")), ValueError,
         "sigma must be a finite number from 0 to 1e6"),
        (lambda: _kernels.translation_pair_sums(np.ones(3), np.ones(2), 1, 1, 1, np.ones(1)),
         ValueError, "x and y must have one length"),
        (lambda: _kernels.translation_pair_sums(np.ones(3), np.ones(3), 0, 1, 1, np.ones(1)),
         ValueError, "radii must end with a positive finite radius and the window be positive"),
        (lambda: _kernels.translation_pair_sums(np.ones(3), np.ones(3), 1, 1, 0.5, np.ones(1)),
         ValueError, "cell must be finite and at least the largest radius"),
    ],
    ids=["list", "shapes", "step", "dtype", "sigma", "pair-lengths", "pair-window", "pair-cell"],
)
def test_guards(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value) == message
