"""Ripley's K and L − r of a point pattern in a rectangle, edge-corrected, with a CSR envelope.

K(r) = |W| / (n(n − 1)) · Σ_{i≠j} w_ij · 1[d_ij ≤ r] with the translation correction
w_ij = a·b / ((a − |Δx|)(b − |Δy|)) of an a × b window: each pair counts as often as a pair
with its displacement would be seen in the window, so points near the border are not taken
for isolated. Pairs are found in a grid of cells as wide as the largest radius (about
n · (neighbours within r_max) work instead of n²), by a compiled kernel that adds them in a
fixed order. Points are put in a canonical order first, so the result does not depend on the
order in which they are given, to the last bit.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Optional

import numpy as np
import numpy.typing as npt

from . import _kernels

__all__ = ["RipleyResult", "ripley", "ripley_k"]

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


def canonical_order(points: np.ndarray, side: float, origin: tuple[float, float]) -> np.ndarray:
    """Points sorted by their cell of side ``side`` (row-major, counted from the smallest
    coordinates measured from ``origin``), then by x, then by y: each cell one run, as the
    pair kernel reads them."""
    cx = np.floor((points[:, 0] - origin[0]) / side).astype(np.int64)
    cy = np.floor((points[:, 1] - origin[1]) / side).astype(np.int64)
    cx -= cx.min()
    cy -= cy.min()
    cell = cy * (int(cx.max()) + 1) + cx
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
    # Cells as wide as the largest radius, but no more cells than points: a few points spread
    # far apart with a small radius must not make a huge, empty grid.
    extent = float(max(np.ptp(pts[:, 0]), np.ptp(pts[:, 1])))
    cell = max(float(r[-1]), extent / math.isqrt(n))
    ordered = canonical_order(pts, cell, (x0, y0))
    sums = _kernels.translation_pair_sums(
        np.ascontiguousarray(ordered[:, 0] - x0), np.ascontiguousarray(ordered[:, 1] - y0),
        a, b, cell, np.ascontiguousarray(r))
    # Each unordered pair stands for the two ordered ones of the sum over i != j.
    return 2.0 * a * b / (n * (n - 1.0)) * np.cumsum(sums)


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
