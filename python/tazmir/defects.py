"""Robust detection of nematic defects on the coarse-grained director field.

The orientation field is read as the coherence-weighted nematic tensor Q = w (cos 2θ, sin 2θ),
averaged over square blocks and smoothed with a Gaussian of the defect-core scale. Its angle is
the coarse director and S = |Q| / w the local order. A +-1/2 defect is a point where the
smoothed Q vanishes with a winding of +-1 of 2θ around it, so the pass

1. keeps only points where a director is defined (ordered, supported by texture, inside the
   user's mask, at least one core radius from the border and the mask's edge);
2. finds the grid plaquettes around which 2θ winds by +-2π;
3. removes +- pairs closer than the core size (one fluctuation) and merges same-sign hits of
   one core;
4. places each defect at the zero of a linear fit of Q around it (below the grid spacing) and
   reads its orientation from the same fit's gradients;
5. scores it by how closely the director on a ring around the core follows the ideal profile.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Optional

import numpy as np

from . import _kernels
from .grid import grid_to_pixels

__all__ = ["CoarseField", "DetectedDefect", "coarse_grain", "find_defects"]

# Below this order (judged at twice the core scale) the coarse director is not trusted.
ORDER_THRESHOLD = 0.35
# Texture support: coarse coherence below this fraction of the image's typical value marks an
# empty (featureless) region even where the few orientations left happen to agree.
SUPPORT_FRACTION = 0.25
FIT_SCALE = 1.0
REFINE_ANGLE = False


@dataclass(frozen=True)
class CoarseField:
    """The coarse-grained nematic tensor on a grid of block centres.

    ``q1``, ``q2``, ``weight``: Gaussian-smoothed block means of w cos 2θ, w sin 2θ and w (w the
    structure-tensor coherence, zero outside the user's mask); ``step`` the block size (px);
    ``smoothing`` the Gaussian's standard deviation in grid units; ``inside``: the fraction of
    each block inside the user's mask, smoothed alike.
    """

    q1: np.ndarray
    q2: np.ndarray
    weight: np.ndarray
    inside: np.ndarray
    step: int
    smoothing: float
    blocks: np.ndarray

    def resmoothed(self, radius_px: float) -> "CoarseField":
        """The same blocks smoothed at another scale (pixels)."""
        return smooth_blocks(self.blocks, self.step, radius_px)

    @property
    def director(self) -> np.ndarray:
        return np.mod(0.5 * np.arctan2(self.q2, self.q1), math.pi)

    @property
    def order(self) -> np.ndarray:
        with np.errstate(divide="ignore", invalid="ignore"):
            s = np.hypot(self.q1, self.q2) / self.weight
        return np.where(self.weight > 0.0, np.clip(s, 0.0, 1.0), 0.0)


@dataclass(frozen=True)
class DetectedDefect:
    """One defect in pixel coordinates (row, col), before units are attached."""

    row: float
    col: float
    charge: float
    angle: float
    order: float
    confidence: float


def block_tensor(
    theta: np.ndarray, coherence: np.ndarray, step: int, mask: Optional[np.ndarray] = None
) -> np.ndarray:
    """Block means of (w cos 2θ, w sin 2θ, w, inside), stacked on the last axis."""
    return _kernels.nematic_block_means(
        np.ascontiguousarray(theta, dtype=np.float64),
        np.ascontiguousarray(coherence, dtype=np.float64),
        None if mask is None else np.ascontiguousarray(mask, dtype=np.uint8),
        int(step),
    )


class BlockMeans:
    """Block means of the nematic tensor at several block sizes, reading the pixels as few
    times as possible.

    Every block size read from the pixels is kept; a later size that is a multiple of one of
    them is averaged from those blocks, which costs nothing next to a pass over the pixels.
    ``base`` (the smallest block size expected) is read at once when it is at least
    ``MIN_POOLED_BASE``: below that the base grid would be nearly as large as the image (four
    float64 channels per block: more memory than the image, and slower to pool than the
    pixels are to read again).
    """

    MIN_POOLED_BASE = 4

    def __init__(self, theta: np.ndarray, coherence: np.ndarray, mask: Optional[np.ndarray],
                 base: int) -> None:
        self._pixels = (theta, coherence, mask)
        self.base = max(1, min(int(base), *theta.shape))
        self._read: dict[int, np.ndarray] = {}
        if self.base >= self.MIN_POOLED_BASE:
            self._read[self.base] = block_tensor(theta, coherence, self.base, mask)

    def pooled_step(self, step: int) -> Optional[int]:
        """The largest multiple of a block size already read that is at most ``step`` (None
        when every size read is larger)."""
        multiples = [size * (step // size) for size in self._read if size <= step]
        return max(multiples, default=None)

    def at(self, step: int) -> np.ndarray:
        sources = [size for size in self._read if step % size == 0]
        if not sources:
            theta, coherence, mask = self._pixels
            self._read[step] = block_tensor(theta, coherence, step, mask)
            return self._read[step]
        size = max(sources)
        factor = step // size
        if factor == 1:
            return self._read[size]
        base = self._read[size]
        rows, cols = base.shape[0] // factor, base.shape[1] // factor
        blocks = base[: rows * factor, : cols * factor]
        # Rows of blocks first (contiguous), then columns: twice as fast as one 2-axis mean.
        by_rows = blocks.reshape(rows, factor, cols * factor * 4).sum(axis=1)
        return by_rows.reshape(rows, cols, factor, 4).sum(axis=2) / (factor * factor)


def gaussian_smooth(values: np.ndarray, sigma: float) -> np.ndarray:
    """Gaussian smoothing of the leading two axes (truncated at 4 sigma, zero beyond the
    border, none below sigma 0.5); a trailing axis holds independent channels."""
    stack = values[..., None] if values.ndim == 2 else values
    planes = np.ascontiguousarray(np.moveaxis(stack, -1, 0), dtype=np.float64)
    smooth = np.moveaxis(_kernels.gaussian_blur_stack(planes, float(sigma)), 0, -1)
    return smooth[..., 0] if values.ndim == 2 else smooth


def _edge_support(size: int, sigma: float) -> np.ndarray:
    """The weight of the truncated Gaussian of ``gaussian_smooth`` that falls inside an axis
    of ``size`` points, at each point (1 away from the border)."""
    if sigma < 0.5:
        return np.ones(size)
    radius = math.ceil(4.0 * sigma)
    taps = np.exp(-np.arange(-radius, radius + 1) ** 2 / (2.0 * sigma * sigma))
    cumulative = np.concatenate([[0.0], np.cumsum(taps / taps.sum())])
    index = np.arange(size)
    first = np.clip(radius - index, 0, 2 * radius + 1)
    last = np.clip(radius + size - index, 0, 2 * radius + 1)
    return cumulative[last] - cumulative[first]


def coarse_grain(
    theta: np.ndarray,
    coherence: np.ndarray,
    step: int,
    core_radius_px: float,
    mask: Optional[np.ndarray] = None,
) -> CoarseField:
    """Average the nematic tensor over blocks of ``step`` px, then smooth at the core scale."""
    return smooth_blocks(block_tensor(theta, coherence, step, mask), step, core_radius_px)


def smooth_blocks(blocks: np.ndarray, step: int, radius_px: float) -> CoarseField:
    """Smooth block means (from ``block_tensor``) with a Gaussian of ``radius_px`` pixels."""
    smoothing = radius_px / step
    inside = blocks[..., 3]
    # Without a mask every block lies wholly inside: only the tensor needs smoothing.
    whole = bool(np.all(inside == 1.0))
    smooth = gaussian_smooth(blocks[..., :3] if whole else blocks, smoothing)
    # Normalised convolution: near the border (and the mask's edge) the window holds fewer
    # blocks, which must not read as lower order or weaker texture. The window's weight
    # inside the grid is separable: one factor per axis.
    support = np.multiply.outer(_edge_support(blocks.shape[0], smoothing),
                                _edge_support(blocks.shape[1], smoothing))
    smooth /= support[..., None]
    smoothed_inside = np.ones(blocks.shape[:2]) if whole else smooth[..., 3]
    return CoarseField(smooth[..., 0], smooth[..., 1], smooth[..., 2], smoothed_inside, step,
                       smoothing, blocks)


def _box_any(mask: np.ndarray, radius: int, border: bool) -> np.ndarray:
    """Whether any point within a (2r + 1)-square window is set, ``border`` beyond the edge.

    The square is separable: a running OR along each axis, each built by doubling, so that a
    window of any radius costs a few boolean passes (a disc of shifted copies would cost r^2
    passes on a large grid).
    """
    if radius <= 0:
        return mask.copy()
    out = np.pad(mask, radius, constant_values=border)
    for axis in (0, 1):
        out = _running_any(out, 2 * radius + 1, axis)
    return out


def _running_any(values: np.ndarray, width: int, axis: int) -> np.ndarray:
    """OR over each ``width`` consecutive points along ``axis`` (width - 1 points shorter)."""
    values = np.moveaxis(values, axis, 0)
    spans, span = values, 1  # spans[j]: OR over the span points from j on
    while 2 * span <= width:
        spans = spans[:-span] | spans[span:]
        span *= 2
    # Two windows of span points, overlapping, cover the width points from j on exactly.
    n = values.shape[0] - width + 1
    return np.moveaxis(spans[:n] | spans[width - span: width - span + n], 0, axis)


def _dilate(mask: np.ndarray, radius: float) -> np.ndarray:
    return _box_any(mask, int(math.ceil(radius)), border=False)


def _erode(mask: np.ndarray, radius: float, border_inside: bool = False) -> np.ndarray:
    """Binary erosion by a square window; beyond the border counts as outside unless
    ``border_inside`` (so that eroding a region also keeps it away from the image edge)."""
    return ~_box_any(~mask, int(math.ceil(radius)), border=not border_inside)


def valid_region(field: CoarseField, core_grid: float) -> np.ndarray:
    """Grid points where a director is defined and a defect may be reported.

    Order is judged at twice the core scale, where random orientations (noise, an empty
    background) average down to S of about 0.2 while a nematic texture keeps S above 0.4
    outside its defect cores (the threshold lies between). Holes up to a core across (the
    cores themselves, where S falls to zero) are closed and islands smaller than a core
    opened away; the region is then eroded by one core radius so that nothing is reported
    at the border or the mask's edge.
    """
    weight = field.weight
    typical = float(np.percentile(weight, 90)) if weight.size else 0.0
    supported = weight > SUPPORT_FRACTION * typical
    broad = field.resmoothed(2.0 * core_grid * field.step)
    ordered = broad.order > ORDER_THRESHOLD
    radius = max(1.0, core_grid)
    closed = _erode(_dilate(ordered, 2.0 * radius), 2.0 * radius, border_inside=True)
    opened = _dilate(_erode(closed, radius, border_inside=True), radius)
    region = supported & opened & (field.inside > 0.5)
    return _erode(region, radius)


def _wrap(angle: np.ndarray) -> np.ndarray:
    return angle - 2.0 * math.pi * np.round(angle / (2.0 * math.pi))


def plaquette_winding(doubled: np.ndarray) -> np.ndarray:
    """Winding number of 2θ around each plaquette (i, j) -> (i, j+1) -> (i+1, j+1) -> (i+1, j).

    The path runs from the column axis towards the row axis, the positive sense of θ, so +1
    is a +1/2 defect.
    """
    a, b = doubled[:-1, :-1], doubled[:-1, 1:]
    c, d = doubled[1:, 1:], doubled[1:, :-1]
    total = _wrap(b - a) + _wrap(c - b) + _wrap(d - c) + _wrap(a - d)
    return np.rint(total / (2.0 * math.pi)).astype(np.int8)


def _pair_and_merge(
    points: np.ndarray, signs: np.ndarray, distance: float
) -> list[tuple[float, float, int]]:
    """Annihilate +- pairs closer than ``distance`` (closest first), then merge same-sign
    clusters of that size into their mean position."""
    alive = np.ones(len(points), dtype=bool)
    if len(points) > 1:
        diff = points[:, None, :] - points[None, :, :]
        dist = np.hypot(diff[..., 0], diff[..., 1])
        opposite = signs[:, None] != signs[None, :]
        ii, jj = np.nonzero(np.triu(opposite & (dist < distance), 1))
        for k in np.argsort(dist[ii, jj], kind="stable"):
            i, j = ii[k], jj[k]
            if alive[i] and alive[j]:
                alive[i] = alive[j] = False
    merged: list[tuple[float, float, int]] = []
    remaining = list(np.nonzero(alive)[0])
    while remaining:
        seed = remaining.pop(0)
        group = [seed]
        for other in list(remaining):
            if signs[other] == signs[seed] and any(
                math.dist(points[other], points[g]) < distance for g in group
            ):
                group.append(other)
                remaining.remove(other)
        centre = points[group].mean(axis=0)
        merged.append((float(centre[0]), float(centre[1]), int(signs[seed])))
    return merged


def _local_fit(
    field: CoarseField, row: float, col: float, radius: float
) -> Optional[tuple[np.ndarray, np.ndarray]]:
    """Least-squares Q ≈ a + J (x, y) over grid points within ``radius`` of (row, col).

    Returns (a, J) with J = [[dQ1/dx, dQ1/dy], [dQ2/dx, dQ2/dy]] (x = column, y = row), in
    grid units, or None where too few points are available.
    """
    rows, cols = field.q1.shape
    r = int(math.ceil(radius))
    r0, c0 = int(round(row)), int(round(col))
    ys, xs = np.mgrid[max(0, r0 - r):min(rows, r0 + r + 1), max(0, c0 - r):min(cols, c0 + r + 1)]
    dy, dx = ys - row, xs - col
    near = dy**2 + dx**2 <= radius * radius
    if near.sum() < 4:
        return None
    design = np.column_stack([np.ones(near.sum()), dx[near], dy[near]])
    target = np.column_stack([field.q1[ys[near], xs[near]], field.q2[ys[near], xs[near]]])
    coef, *_ = np.linalg.lstsq(design, target, rcond=None)
    return coef[0], coef[1:].T


def defect_angle(charge: float, jacobian: np.ndarray) -> float:
    """Orientation of a +-1/2 defect from the gradients of Q at its core.

    +1/2: psi = atan2(dQ2/dx - dQ1/dy, dQ1/dx + dQ2/dy), the comet-tail axis in [0, 2pi);
    -1/2: psi = -1/3 atan2(-dQ2/dx - dQ1/dy, dQ1/dx - dQ2/dy), one arm, in [0, 2pi/3).
    """
    (q1x, q1y), (q2x, q2y) = jacobian
    if charge > 0:
        return math.atan2(q2x - q1y, q1x + q2y) % (2.0 * math.pi)
    return (-math.atan2(-q2x - q1y, q1x - q2y) / 3.0) % (2.0 * math.pi / 3.0)


def _ring_quality(
    field: CoarseField, valid: np.ndarray, row: float, col: float, charge: float, radius: float
) -> tuple[float, float]:
    """(mean order, profile fidelity) on a ring of the given radius (grid units).

    Fidelity is |<exp i(2θ - 2qφ)>| over the ring, invalid points counting as zero: 1 for an
    ideal defect of charge q, about 1/sqrt(points) for a disordered ring.
    """
    n = max(16, int(math.ceil(2.0 * math.pi * radius * 2)))
    phi = np.linspace(0.0, 2.0 * math.pi, n, endpoint=False)
    ys = np.rint(row + radius * np.sin(phi)).astype(np.intp)
    xs = np.rint(col + radius * np.cos(phi)).astype(np.intp)
    rows, cols = valid.shape
    inside = (ys >= 0) & (ys < rows) & (xs >= 0) & (xs < cols)
    ys, xs = np.clip(ys, 0, rows - 1), np.clip(xs, 0, cols - 1)
    usable = inside & valid[ys, xs]
    doubled = np.arctan2(field.q2[ys, xs], field.q1[ys, xs])
    phase = np.where(usable, np.exp(1j * (doubled - 2.0 * charge * phi)), 0.0)
    order = field.order[ys, xs]
    mean_order = float(order[usable].mean()) if usable.any() else 0.0
    return mean_order, float(abs(phase.mean()))


def _zero_near(
    field: CoarseField, row: float, col: float, radius: float, reach: float
) -> Optional[tuple[float, float, np.ndarray]]:
    """The zero of a linear fit of Q around (row, col), if within ``reach`` (grid units);
    returns (row, col, jacobian) or None."""
    fit = _local_fit(field, row, col, radius)
    if fit is None:
        return None
    offset, jacobian = fit
    if np.linalg.det(jacobian) == 0.0:
        return None
    shift = -np.linalg.solve(jacobian, offset)  # (dx, dy)
    if math.hypot(*shift) > reach:
        return None
    return row + float(shift[1]), col + float(shift[0]), jacobian


def find_defects(
    field: CoarseField,
    core_radius_px: float,
    valid: Optional[np.ndarray] = None,
    fine_radius_px: Optional[float] = None,
) -> list[DetectedDefect]:
    """The +-1/2 defects of a coarse field (positions in pixels, angles in radians).

    Smoothing at the core scale finds defects robustly but pulls each core towards the
    director's gradients around it (by about the square of the scale), so positions are then
    refined on the same blocks smoothed at ``fine_radius_px`` (default half the core).
    """
    step = field.step
    core_grid = core_radius_px / step
    if valid is None:
        valid = valid_region(field, core_grid)
    doubled = np.arctan2(field.q2, field.q1)
    winding = plaquette_winding(doubled)
    corners = valid[:-1, :-1] & valid[:-1, 1:] & valid[1:, :-1] & valid[1:, 1:]
    ii, jj = np.nonzero((winding != 0) & corners)
    points = np.column_stack([ii + 0.5, jj + 0.5]).astype(np.float64)
    signs = winding[ii, jj].astype(np.int64)
    candidates = _pair_and_merge(points, signs, 2.0 * core_grid)
    found = []
    fit_radius = max(1.5, FIT_SCALE * core_grid)
    fine_px = 0.5 * core_radius_px if fine_radius_px is None else fine_radius_px
    fine = field.resmoothed(fine_px) if fine_px < core_radius_px else field
    fine_fit = max(1.5, FIT_SCALE * fine_px / step)
    for row, col, sign in candidates:
        charge = 0.5 * sign
        # The zero of the linear fit is the core; trust it only near where the winding is.
        coarse = _zero_near(field, row, col, fit_radius, 1.0)
        if coarse is None:
            fit = _local_fit(field, row, col, fit_radius)
            if fit is None:
                continue
            jacobian = fit[1]
        else:
            row, col, jacobian = coarse
        refined = _zero_near(fine, row, col, fine_fit, max(1.0, 0.5 * core_grid))
        if refined is not None:
            row, col, fine_jacobian = refined
            if REFINE_ANGLE:
                jacobian = fine_jacobian
        angle = defect_angle(charge, jacobian)
        order, fidelity = _ring_quality(field, valid, row, col, charge, 2.0 * fit_radius)
        y, x = (float(v) for v in grid_to_pixels(np.array([row, col]), step))
        found.append(DetectedDefect(y, x, charge, angle, order, fidelity))
    return found
