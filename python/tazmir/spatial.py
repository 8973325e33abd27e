"""Ripley's K and L − r of a point pattern in a rectangle, edge-corrected, with a CSR envelope.

K(r) = |W| / (n(n − 1)) · Σ_{i≠j} w_ij · 1[d_ij ≤ r] with the translation correction
w_ij = a·b / ((a − |Δx|)(b − |Δy|)) of an a × b window: each pair counts as often as a pair
with its displacement would be seen in the window, so points near the border are not taken
for isolated. Pairs are found in a grid of cells as wide as the largest radius (about
n · (neighbours within r_max) work instead of n²). Points are put in a canonical order first,
so the result does not depend on the order in which they are given, to the last bit.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Optional

import numpy as np
import numpy.typing as npt

__all__ = ["RipleyResult", "pairs_within", "ripley", "ripley_k"]

# Candidate pairs examined per vectorised chunk: bounds the memory of dense patterns.
_CHUNK_PAIRS = 1 << 22
# Default largest radius: a quarter of the window's shorter side (beyond it the correction
# weights every pair by a large factor), and no more than a few mean spacings of the points
# (the scale of tissue structure; farther, the pair count grows as n² with nothing to see).
_MAX_RADIUS_FRACTION = 0.25
_MAX_RADIUS_SPACINGS = 5.0
N_RADII = 32


@dataclass(frozen=True)
class RipleyResult:
    """Ripley's K and L − r of a pattern with the pointwise envelope of CSR simulations.

    ``r`` in the unit of the points; ``k`` = K(r), ``l_minus_r`` = √(K/π) − r; ``csr_low``/
    ``csr_high`` the pointwise minimum and maximum of L − r over ``n_simulations`` patterns of
    as many uniform random points in the same window (a two-sided test at level
    2 / (n_simulations + 1) at each r). L − r above the envelope means clustering at that
    scale, below it regularity (a hard core, a lattice).
    """

    r: np.ndarray
    k: np.ndarray
    l_minus_r: np.ndarray
    csr_low: np.ndarray
    csr_high: np.ndarray
    n_points: int
    window: tuple[float, float, float, float]
    n_simulations: int
    seed: int

    def to_csv(self) -> str:
        """``ripley.csv``: columns r_um,k,l_minus_r,csr_low,csr_high (points in µm)."""
        lines = ["r_um,k,l_minus_r,csr_low,csr_high"]
        for row in zip(self.r, self.k, self.l_minus_r, self.csr_low, self.csr_high):
            lines.append(",".join("" if math.isnan(v) else repr(float(v)) for v in row))
        return "\n".join(lines) + "\n"


def _as_points(points: npt.ArrayLike) -> np.ndarray:
    array = np.asarray(points, dtype=np.float64)
    if array.size == 0:
        return array.reshape(0, 2)
    if array.ndim != 2 or array.shape[1] != 2:
        raise ValueError(f"points must be an N x 2 array of (x, y), got shape {array.shape}")
    if not np.isfinite(array).all():
        raise ValueError("points contain NaN or infinite coordinates")
    return array


def _as_window(window: npt.ArrayLike) -> tuple[float, float, float, float]:
    values = tuple(float(v) for v in np.asarray(window, dtype=np.float64).ravel())
    if len(values) != 4:
        raise ValueError(f"window must be (x_min, y_min, x_max, y_max), got {len(values)} values")
    x0, y0, x1, y1 = values
    if not all(math.isfinite(v) for v in values) or not (x1 > x0 and y1 > y0):
        raise ValueError(f"window must be a finite rectangle with x_max > x_min and "
                         f"y_max > y_min, got {values}")
    return x0, y0, x1, y1


def _cells(points: np.ndarray, r_max: float, origin: tuple[float, float]):
    """Coordinates from ``origin``, and the column, row and row-major index of each point's
    cell of side ``r_max`` (with the number of cell columns and rows)."""
    x = points[:, 0] - origin[0]
    y = points[:, 1] - origin[1]
    cx = np.floor(x / r_max).astype(np.int64)
    cy = np.floor(y / r_max).astype(np.int64)
    cx -= cx.min()
    cy -= cy.min()
    ncx = int(cx.max()) + 1
    ncy = int(cy.max()) + 1
    return x, y, cx, cy, ncx, ncy, cy * ncx + cx


def pairs_within(points: np.ndarray, r_max: float, origin: tuple[float, float] = (0.0, 0.0)):
    """Yield chunks (i, j, dx, dy) of the unordered pairs i < j (indices into ``points``
    after `canonical_order`) whose distance is at most ``r_max``; dx = x_j − x_i."""
    n = len(points)
    if n < 2:
        return
    x, y, cx, cy, ncx, ncy, cell = _cells(points, r_max, origin)
    # Points are sorted by cell already (see `canonical_order`): cell c holds start[c]:end[c].
    start = np.searchsorted(cell, np.arange(ncx * ncy), side="left")
    end = np.searchsorted(cell, np.arange(ncx * ncy), side="right")
    own = np.arange(n)
    r2 = r_max * r_max
    # Half the 3 x 3 neighbourhood, so that each pair is met once.
    for ox, oy in ((0, 0), (1, 0), (-1, 1), (0, 1), (1, 1)):
        nx_, ny_ = cx + ox, cy + oy
        inside = (nx_ >= 0) & (nx_ < ncx) & (ny_ < ncy)
        neighbour = np.where(inside, ny_ * ncx + nx_, 0)
        first = np.where(inside, start[neighbour], 0)
        last = np.where(inside, end[neighbour], 0)
        if ox == 0 and oy == 0:
            first = own + 1
        length = np.maximum(last - first, 0)
        total_per_point = np.cumsum(length)
        lo = 0
        while lo < n:
            # Points [lo, hi) make a chunk of at most _CHUNK_PAIRS candidates (at least one).
            base = total_per_point[lo - 1] if lo else 0
            hi = int(np.searchsorted(total_per_point, base + _CHUNK_PAIRS, side="right"))
            hi = max(hi, lo + 1)
            counts = length[lo:hi]
            m = int(counts.sum())
            if m:
                i = np.repeat(own[lo:hi], counts)
                offsets = np.arange(m) - np.repeat(np.cumsum(counts) - counts, counts)
                j = np.repeat(first[lo:hi], counts) + offsets
                dx = x[j] - x[i]
                dy = y[j] - y[i]
                near = dx * dx + dy * dy <= r2
                yield i[near], j[near], dx[near], dy[near]
            lo = hi


def canonical_order(points: np.ndarray, r_max: float, origin: tuple[float, float]) -> np.ndarray:
    """Points sorted by their cell of side ``r_max`` (row-major), then by x, then by y."""
    cell = _cells(points, r_max, origin)[-1]
    return points[np.lexsort((points[:, 1], points[:, 0], cell))]


def ripley_k(
    points: npt.ArrayLike, window: npt.ArrayLike, radii: npt.ArrayLike
) -> np.ndarray:
    """K(r) at each of the increasing ``radii`` for the points (x, y) inside the rectangle
    ``window`` = (x_min, y_min, x_max, y_max), with the translation edge correction.

    NaN for fewer than two points. Points outside the window are an error (the estimator
    assumes the pattern was observed in it).
    """
    pts = _as_points(points)
    x0, y0, x1, y1 = _as_window(window)
    r = np.asarray(radii, dtype=np.float64).ravel()
    if r.size == 0 or not np.all(np.isfinite(r)) or np.any(r <= 0) or np.any(np.diff(r) <= 0):
        raise ValueError("radii must be positive, finite and strictly increasing")
    if len(pts) and (pts[:, 0].min() < x0 or pts[:, 0].max() > x1
                     or pts[:, 1].min() < y0 or pts[:, 1].max() > y1):
        raise ValueError("points must lie inside the window")
    n = len(pts)
    if n < 2:
        return np.full(r.size, math.nan)
    a, b = x1 - x0, y1 - y0
    r_max = float(r[-1])
    ordered = canonical_order(pts, r_max, (x0, y0))
    sums = np.zeros(r.size + 1)
    for _, _, dx, dy in pairs_within(ordered, r_max, (x0, y0)):
        weight = (a * b) / ((a - np.abs(dx)) * (b - np.abs(dy)))
        slot = np.searchsorted(r, np.sqrt(dx * dx + dy * dy), side="left")
        sums += np.bincount(slot, weight, minlength=r.size + 1)
    # Each unordered pair stands for the two ordered ones of the sum over i != j.
    return 2.0 * a * b / (n * (n - 1.0)) * np.cumsum(sums[:-1])


def _l_minus_r(k: np.ndarray, r: np.ndarray) -> np.ndarray:
    return np.sqrt(np.maximum(k, 0.0) / math.pi) - r


def default_radii(n: int, window: tuple[float, float, float, float]) -> np.ndarray:
    """``N_RADII`` radii up to a quarter of the shorter side, at most five mean spacings."""
    x0, y0, x1, y1 = window
    area = (x1 - x0) * (y1 - y0)
    r_max = _MAX_RADIUS_FRACTION * min(x1 - x0, y1 - y0)
    if n >= 2:
        r_max = min(r_max, _MAX_RADIUS_SPACINGS * math.sqrt(area / n))
    return np.linspace(r_max / N_RADII, r_max, N_RADII)


def ripley(
    points: npt.ArrayLike,
    window: npt.ArrayLike,
    *,
    radii: Optional[npt.ArrayLike] = None,
    n_simulations: int = 99,
    seed: int = 0,
) -> RipleyResult:
    """Ripley's K and L − r of ``points`` (x, y) in the rectangle ``window`` = (x_min, y_min,
    x_max, y_max), with the envelope of ``n_simulations`` seeded CSR patterns of as many
    points in the same window. ``radii`` default to `default_radii`."""
    pts = _as_points(points)
    box = _as_window(window)
    if n_simulations < 1:
        raise ValueError(f"n_simulations must be at least 1, got {n_simulations}")
    r = default_radii(len(pts), box) if radii is None else np.asarray(radii, dtype=np.float64)
    k = ripley_k(pts, box, r)
    x0, y0, x1, y1 = box
    rng = np.random.default_rng(seed)
    low = np.full(r.size, math.inf)
    high = np.full(r.size, -math.inf)
    for _ in range(n_simulations):
        sim = rng.uniform((x0, y0), (x1, y1), (len(pts), 2))
        l_sim = _l_minus_r(ripley_k(sim, box, r), r)
        low = np.minimum(low, l_sim)
        high = np.maximum(high, l_sim)
    if len(pts) < 2:
        low[:] = high[:] = math.nan
    return RipleyResult(r, k, _l_minus_r(k, r), low, high, len(pts), box, n_simulations, seed)
