"""Scales read off the image: the fibre width for the structure tensor, the director's
correlation length for the defect core and the coarse grid.

A user who does not know the right numbers should still get a sound analysis, so by default
every scale follows the texture:

- the structure-tensor sigma is the fibre width, from the second moment of the image's power
  spectrum above its white-noise floor (for fibres of Gaussian cross-section w the transverse
  spectrum is exp(-(2 pi k w)^2), whose mean squared frequency is 1 / (8 pi^2 w^2));
- the core radius is a fifth of the director's correlation length (where G_2 of the
  coarse-grained director first falls below 1/e), but at least 2.5 fibre widths, so that a
  core averages enough texture;
- the grid spacing is about a third of the core radius, fine enough to place a defect below
  it (rounded down to a multiple of the provisional grid's spacing when it is coarser, so that
  its blocks are pooled from that grid instead of read again from the pixels).
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Callable, Optional

import numpy as np

__all__ = ["Scales", "choose_scales", "correlation_length", "fibre_width", "grid_step_for"]

_TILE = 256
_MAX_GRID_SIDE = 256
_MAX_TILES = 4
# Frequencies where the fibres' power has fallen below this fraction of its low-frequency
# level carry mostly noise and are left out of the moment.
_SIGNAL_CUTOFF = 0.05
_MIN_SIGMA, _MAX_SIGMA = 1.0, 16.0
CORE_PER_CORRELATION_LENGTH = 0.2
CORE_PER_SIGMA = 2.5


@dataclass(frozen=True)
class Scales:
    """The scales of one analysis, in pixels, and where each came from ("auto" or "user")."""

    sigma: float
    core_radius_px: float
    grid_step: int
    sigma_source: str
    core_source: str
    grid_step_source: str
    correlation_length_px: Optional[float] = None


def _tiles(image: np.ndarray) -> list[np.ndarray]:
    """Up to four square tiles spread over the image (or the image itself when small)."""
    rows, cols = image.shape
    side = min(_TILE, rows, cols)
    if rows < 2 * side or cols < 2 * side:
        r0, c0 = (rows - side) // 2, (cols - side) // 2
        return [image[r0 : r0 + side, c0 : c0 + side]]
    corners = [(rows // 4, cols // 4), (rows // 4, 3 * cols // 4),
               (3 * rows // 4, cols // 4), (3 * rows // 4, 3 * cols // 4)]
    return [image[r - side // 2 : r + side // 2, c - side // 2 : c + side // 2]
            for r, c in corners[:_MAX_TILES]]


def fibre_width(image: np.ndarray) -> float:
    """The transverse width (px) of the image's fibres, from its power spectrum.

    The white-noise floor (the median power near the Nyquist corner) is subtracted, and only
    frequencies where the texture still stands clearly above it enter the second moment.
    Returns nan for an image without texture.
    """
    power = None
    for tile in _tiles(np.asarray(image)):
        tile = tile.astype(np.float64)  # tiles only: the image may be large and 16-bit
        window = np.outer(np.hanning(tile.shape[0]), np.hanning(tile.shape[1]))
        spectrum = np.abs(np.fft.rfft2((tile - tile.mean()) * window)) ** 2
        power = spectrum if power is None else power + spectrum
    assert power is not None
    side_r = power.shape[0]
    side_c = 2 * (power.shape[1] - 1) if power.shape[1] > 1 else 1
    fy = np.fft.fftfreq(side_r)[:, None]
    fx = np.fft.rfftfreq(side_c)[None, :]
    k = np.hypot(fx, fy)[:, : power.shape[1]]
    corner = power[k > 0.4]
    floor = float(np.median(corner)) if corner.size else 0.0
    signal = power - floor
    edges = np.linspace(0.0, 0.5, 65)
    band = np.clip(np.digitize(k, edges) - 1, 0, 63)
    counts = np.bincount(band.ravel(), minlength=64)
    profile = np.bincount(band.ravel(), signal.ravel(), minlength=64) / np.maximum(counts, 1)
    level = profile[1:4].max()
    if not level > 0.0:
        return math.nan
    weak = np.nonzero(profile[1:] < _SIGNAL_CUTOFF * level)[0]
    cutoff = edges[weak[0] + 1] if weak.size else 0.5
    keep = (k > 0.0) & (k < cutoff)
    total = signal[keep].sum()
    if not total > 0.0:
        return math.nan
    second_moment = float((k[keep] ** 2 * signal[keep]).sum() / total)
    return 1.0 / (2.0 * math.pi * math.sqrt(2.0 * second_moment))


def correlation_length(director: np.ndarray, valid: np.ndarray) -> float:
    """Distance (grid units) where G_2 of the director over valid points first drops below
    1/e; inf when it never does within half the grid."""
    from .correlation import director_correlation

    length = director_correlation(director, valid, spacing_um=1.0, k=2).length_1e_um
    return length if math.isfinite(length) else math.inf


def grid_step_for(core_radius_px: float) -> int:
    return max(1, int(round(core_radius_px / 3.0)))


def auto_sigma(image: np.ndarray) -> float:
    width = fibre_width(image)
    if not math.isfinite(width):
        return 2.0
    return float(np.clip(round(width, 2), _MIN_SIGMA, _MAX_SIGMA))


def choose_scales(
    image: np.ndarray,
    sigma: float | str,
    core_radius: float | str,
    grid_step: int | str,
    field_for: Callable[[float], dict],
    mask: Optional[np.ndarray] = None,
) -> tuple[Scales, dict, np.ndarray]:
    """Resolve "auto" scales.

    ``field_for(sigma)`` computes the structure tensor; ``mask`` (non-zero = analysed) keeps
    excluded regions out of the correlation length. Returns the scales, the structure tensor
    and the block means of its nematic tensor at the chosen grid step (both reused by the
    caller, so each is computed once).
    """
    from .defects import BlockMeans, smooth_blocks, valid_region

    sigma_source = "auto" if sigma == "auto" else "user"
    sigma_px = auto_sigma(image) if sigma == "auto" else float(sigma)
    field = field_for(sigma_px)
    floor = CORE_PER_SIGMA * max(sigma_px, 1.0)
    # Grid steps are multiples of one base block, so the pixels are read once.
    base = int(grid_step) if grid_step != "auto" else grid_step_for(
        floor if core_radius == "auto" else float(core_radius))
    blocks = BlockMeans(field["theta"], field["coherence"], mask, base)
    base = blocks.base
    xi_px: Optional[float] = None
    if core_radius == "auto":
        core_source = "auto"
        # A provisional coarse field at the smallest sensible core gives the director's
        # correlation length, from which the core follows. At most about 256 points a side:
        # the autocorrelation stays cheap on large images, and the correlation length is far
        # above that spacing wherever it matters.
        step0 = max(1, int(round(floor / 1.5)), math.ceil(max(image.shape) / _MAX_GRID_SIDE))
        step0 = min(base * max(1, round(step0 / base)), *image.shape)
        coarse = smooth_blocks(blocks.at(step0), step0, floor)
        valid = valid_region(coarse, floor / step0)
        xi_grid = correlation_length(coarse.director, valid)
        xi_px = xi_grid * step0 if math.isfinite(xi_grid) else math.inf
        limit = min(image.shape) / 8.0
        core_px = max(floor, min(CORE_PER_CORRELATION_LENGTH * xi_px, limit))
    else:
        core_source = "user"
        core_px = float(core_radius)
    if grid_step == "auto":
        step_source = "auto"
        step = base * max(1, round(grid_step_for(core_px) / base))
        # A step the provisional grid's blocks divide is pooled from them rather than read
        # again from the pixels; rounding down keeps the grid at least as fine as asked.
        step = blocks.pooled_step(step) or step
    else:
        step, step_source = int(grid_step), "user"
    step = min(step, *image.shape)
    scales = Scales(sigma_px, core_px, step, sigma_source, core_source, step_source, xi_px)
    return scales, field, blocks.at(step)
