"""The package's own kernels against plain NumPy references, and their guards (thread-count
independence: tests/test_threads.py)."""

import numpy as np
import pytest

from tazmir import _kernels as K


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
    got = K.nematic_block_means(theta, weight, mask, step)
    # Round-off of the angle reduction grows with |2 theta|, about 1e-16 per radian.
    np.testing.assert_allclose(got, block_means_reference(theta, weight, mask, step),
                               rtol=0, atol=1e-13)


def test_blur_matches_numpy_and_keeps_planes_apart(rng):
    stack = rng.random((4, 40, 33))
    got = K.gaussian_blur_stack(stack, 1.7)
    for plane, smooth in zip(stack, got):
        np.testing.assert_allclose(smooth, blur_reference(plane, 1.7), rtol=0, atol=1e-13)


SQUARE, EDGES = np.ones((4, 4)), np.array([0.0, 1.0])
ANNULUS = ("annulus_sectors needs a finite centre, at least two increasing finite non-negative "
           "edges and 1 to 1e6 sectors")
GUARDS = {
    "list": (lambda: K.nematic_block_means([[0.0]], SQUARE, None, 1), TypeError,
             "theta must be a NumPy array"),
    "shapes": (lambda: K.nematic_block_means(SQUARE, np.ones((4, 3)), None, 1), ValueError,
               "theta, weight and mask must have one shape"),
    "step": (lambda: K.nematic_block_means(SQUARE, SQUARE, None, 0), ValueError,
             "step must be at least 1"),
    "dtype": (lambda: K.nematic_block_means(SQUARE, SQUARE.astype(np.float32), None, 1),
              ValueError, "weight must be a C-contiguous 2-D array of numpy.float64"),
    "sigma": (lambda: K.gaussian_blur_stack(SQUARE[None], float("nan")), ValueError,
              "sigma must be a finite number from 0 to 1e6"),
    "pair-lengths": (lambda: K.translation_pair_sums(np.ones(3), np.ones(2), 1, 1, 1, EDGES),
                     ValueError, "x and y must have one length"),
    "pair-window": (lambda: K.translation_pair_sums(np.ones(3), np.ones(3), 0, 1, 1, EDGES),
                    ValueError, "radii must end with a positive finite radius and the window be "
                    "positive"),
    "pair-cell": (lambda: K.translation_pair_sums(np.ones(3), np.ones(3), 1, 1, 0.5, EDGES),
                  ValueError, "cell must be finite and at least the largest radius"),
    "annulus-shapes": (lambda: K.annulus_sectors(SQUARE, np.ones((4, 5)), 1.0, 1.0, EDGES, 4),
                       ValueError, "theta and weight must have one shape"),
    "annulus-centre": (lambda: K.annulus_sectors(SQUARE, SQUARE, np.nan, 1.0, EDGES, 4),
                       ValueError, ANNULUS),
    "annulus-list": (lambda: K.annulus_sectors(SQUARE, SQUARE, 1.0, 1.0, [0.0, 1.0], 4),
                     TypeError, "edges must be a NumPy array"),
}


@pytest.mark.parametrize("call, error, message", GUARDS.values(), ids=GUARDS)
def test_guards(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value) == message
