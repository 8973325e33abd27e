"""Frank splay and bend of a director grid as densities over the analysed area.

The gradient of the director angle is taken from nematic differences (each central difference
of θ wrapped into (−π/2, π/2]), so no lift of the whole field is needed and a director and its
turn by π are one axis. Splay (∇·n)² and bend (n × ∇ × n)² diverge as 1/r² at a defect core:
core discs are left out, and the totals are divided by the area that was summed over.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Optional

import numpy as np
import numpy.typing as npt

__all__ = ["FrankDensities", "core_mask", "frank_densities"]


@dataclass(frozen=True)
class FrankDensities:
    """Splay and bend over the analysed area.

    ``splay_density`` = (1/A) ∫_A (∇·n)² dA and ``bend_density`` = (1/A) ∫_A (n × ∇ × n)² dA,
    in µm⁻² (energy per µm² in units of the elastic constant, without the factor ½);
    ``splay``/``bend`` the integrals themselves (dimensionless, in units of the elastic
    constant) and ``area_um2`` = A, the grid cells of the valid points whose four neighbours
    are valid too, outside the core discs.
    """

    splay_density: float
    bend_density: float
    splay: float
    bend: float
    area_um2: float


def _nematic_difference(a: np.ndarray, b: np.ndarray) -> np.ndarray:
    """a − b for director angles, wrapped into [−π/2, π/2)."""
    return np.mod(a - b + 0.5 * math.pi, math.pi) - 0.5 * math.pi


def core_mask(
    shape: tuple[int, int], centres_px: Sequence[tuple[float, float]], radius_px: float,
    step: float,
) -> np.ndarray:
    """Grid points (block centres ((b + 0.5)·step − 0.5 px)) within ``radius_px`` of any of
    the (row, col) pixel positions ``centres_px``."""
    rows, cols = shape
    y = (np.arange(rows) + 0.5) * step - 0.5
    x = (np.arange(cols) + 0.5) * step - 0.5
    inside = np.zeros(shape, bool)
    for row, col in centres_px:
        inside |= (y[:, None] - row) ** 2 + (x[None, :] - col) ** 2 <= radius_px**2
    return inside


def frank_densities(
    theta: npt.ArrayLike,
    valid: Optional[npt.ArrayLike] = None,
    *,
    spacing_um: float,
    exclude: Optional[npt.ArrayLike] = None,
) -> FrankDensities:
    """Frank splay and bend densities of the director angles ``theta`` on a grid of spacing
    ``spacing_um``, over the ``valid`` points (all when None) not in ``exclude`` (for
    example `core_mask` around the defects). Central differences need both neighbours along
    each axis, so a point counts only when its four neighbours are valid too."""
    angles = np.asarray(theta, dtype=np.float64)
    if angles.ndim != 2:
        raise ValueError(f"theta must be a 2-D grid, got shape {angles.shape}")
    ok = np.ones(angles.shape, bool) if valid is None else np.asarray(valid, dtype=bool).copy()
    if ok.shape != angles.shape:
        raise ValueError(f"valid has shape {ok.shape}, theta {angles.shape}")
    ok &= np.isfinite(angles)
    h = float(spacing_um)
    if not (math.isfinite(h) and h > 0):
        raise ValueError(f"spacing_um must be a positive finite number, got {spacing_um!r}")
    counted = np.zeros(angles.shape, bool)
    if angles.shape[0] >= 3 and angles.shape[1] >= 3:
        counted[1:-1, 1:-1] = (
            ok[1:-1, 1:-1] & ok[2:, 1:-1] & ok[:-2, 1:-1] & ok[1:-1, 2:] & ok[1:-1, :-2]
        )
    if exclude is not None:
        counted &= ~np.asarray(exclude, dtype=bool)
    safe = np.where(ok, angles, 0.0)
    d_x = np.zeros(angles.shape)
    d_y = np.zeros(angles.shape)
    d_x[:, 1:-1] = _nematic_difference(safe[:, 2:], safe[:, :-2]) / (2.0 * h)
    d_y[1:-1, :] = _nematic_difference(safe[2:, :], safe[:-2, :]) / (2.0 * h)
    cos_t, sin_t = np.cos(safe), np.sin(safe)
    # n = (cos θ, sin θ) in (x = column, y = row): ∇·n = −sin θ ∂xθ + cos θ ∂yθ and the
    # bend magnitude |n × ∇ × n| = |cos θ ∂xθ + sin θ ∂yθ|.
    splay = (-sin_t * d_x + cos_t * d_y)[counted] ** 2
    bend = (cos_t * d_x + sin_t * d_y)[counted] ** 2
    cell = h * h
    area = float(counted.sum()) * cell
    splay_total = float(splay.sum()) * cell
    bend_total = float(bend.sum()) * cell
    return FrankDensities(
        splay_density=splay_total / area if area > 0 else math.nan,
        bend_density=bend_total / area if area > 0 else math.nan,
        splay=splay_total,
        bend=bend_total,
        area_um2=area,
    )
