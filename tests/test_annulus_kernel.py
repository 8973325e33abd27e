"""Ring and sector sums of the nematic tensor around a defect against NumPy (guards:
tests/test_kernels.py)."""

import math

import numpy as np
import pytest

from tazmir import _kernels
from tazmir.elasticity import ring_profile


def ring_reference(theta, weight, row, col, r_in, r_out, n_sectors):
    """The sector sums by masks over the whole image, as NumPy would do them."""
    dy, dx = np.indices(theta.shape) - np.array([row, col])[:, None, None]
    r = np.hypot(dx, dy)
    inside = (r >= r_in) & (r < r_out)
    phi = np.mod(np.arctan2(dy[inside], dx[inside]), 2 * math.pi)
    sector = np.minimum((phi / (2 * math.pi) * n_sectors).astype(np.int64), n_sectors - 1)
    t, w = theta[inside], weight[inside]
    return np.stack([np.bincount(sector, w * np.cos(2 * t), minlength=n_sectors),
                     np.bincount(sector, w * np.sin(2 * t), minlength=n_sectors)], axis=-1)


@pytest.mark.parametrize(
    "row, col, edges, sectors",
    [(150.3, 120.7, [10.0, 25.0, 40.0, 60.0], 36), (5.5, 3.2, [0.0, 40.0], 12),
     (290.0, 240.0, [1.0, 2.0, 80.0], 7), (30.0, 270.0, [0.0, 5.0, 30.0], 4)],
    ids=["rings", "corner", "edge", "centre-off-the-image"],
)
def test_sector_sums_match_numpy(rng, row, col, edges, sectors):
    theta, weight = rng.uniform(-1.0, 4.0, (300, 250)), rng.random((300, 250))
    got = _kernels.annulus_sectors(theta, weight, row, col, np.array(edges), sectors)
    assert got.shape == (len(edges) - 1, sectors, 2)
    for ring, (r_in, r_out) in enumerate(zip(edges[:-1], edges[1:])):
        expected = ring_reference(theta, weight, row, col, r_in, r_out, sectors)
        np.testing.assert_allclose(got[ring], expected, rtol=0, atol=1e-9)


def test_ring_profile_of_a_planted_half_defect():
    y, x = np.mgrid[0:101, 0:101]
    theta = np.mod(0.5 * np.arctan2(y - 50.0, x - 50.0), np.pi)
    phi, director, strength = ring_profile(theta, np.ones_like(theta), 50.0, 50.0, 10.0, 40.0)
    # A +1/2 defect: the director turns by half the polar angle.
    expected = np.mod(0.5 * phi + math.pi / 2, math.pi) - math.pi / 2
    np.testing.assert_allclose(np.mod(director - expected + math.pi / 2, math.pi) - math.pi / 2,
                               0.0, atol=0.02)
    assert strength.min() > 0.5 * strength.max() > 0  # sectors differ only in pixel count
