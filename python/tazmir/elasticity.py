"""Splay–bend anisotropy ε = (K1 − K3)/(K1 + K3) from the director around a +1/2 defect.

Around a +1/2 core the director depends on the polar angle φ alone, θ = θ(φ); the Frank energy
per ln r is ∝ ∫ θ′² [1 + ε cos 2(θ − φ)] dφ, whose Euler–Lagrange equation

    θ″·[1 + ε cos 2(θ − φ)] − ε·sin 2(θ − φ)·(θ′² − 2θ′) = 0,   θ(φ + 2π) = θ(φ) + π,

fixes the profile for each ε (θ = φ/2 at ε = 0). The periodic part u = θ − φ/2 is solved by
Newton's method on a periodic grid, for every tabulated ε at once, once per process. A measured
profile is fitted by least squares against that table.
"""

from __future__ import annotations

import functools
import math
from dataclasses import dataclass
from typing import Optional

import numpy as np
import numpy.typing as npt

from . import _kernels

__all__ = ["AnisotropyFit", "defect_anisotropy", "profile_table", "splay_bend_profile"]

# The equation degenerates as |ε| → 1 (one of the constants vanishes).
EPSILON_LIMIT = 0.9
TABLE_STEP = 0.01
TABLE_POINTS = 128
N_SECTORS = 48


def _residual(u: np.ndarray, phi: np.ndarray, epsilon: np.ndarray, h: float):
    """The Euler–Lagrange residual at every grid point and the three diagonals of its
    (cyclic) Jacobian: ∂f_j/∂u_{j−1}, ∂f_j/∂u_j, ∂f_j/∂u_{j+1}; one profile per row of
    ``u``, ``epsilon`` a column."""
    up, um = np.roll(u, -1, axis=-1), np.roll(u, 1, axis=-1)
    d1 = 0.5 + (up - um) / (2 * h)
    d2 = (up - 2 * u + um) / (h * h)
    angle = 2 * u - phi  # 2(θ − φ)
    c, s = np.cos(angle), np.sin(angle)
    g = 1 + epsilon * c
    q = d1 * d1 - 2 * d1
    f = d2 * g - epsilon * s * q
    diag = -2 / (h * h) * g - 2 * epsilon * s * d2 - 2 * epsilon * c * q
    dq = (2 * d1 - 2) / (2 * h)
    return f, g / (h * h) + epsilon * s * dq, diag, g / (h * h) - epsilon * s * dq


def _solve_tridiagonal(lower: np.ndarray, diag: np.ndarray, upper: np.ndarray,
                       rhs: np.ndarray) -> np.ndarray:
    """Solve the tridiagonal systems along the last axis of the arguments, all at once
    (``lower[..., 0]`` and ``upper[..., -1]`` unused).

    Cyclic reduction: combining every odd row with its two even neighbours leaves a
    tridiagonal system in the odd unknowns alone, half the size; 2^k − 1 unknowns (padded
    with identity rows) halve down to one, and the even unknowns follow level by level on
    the way back. Each level is a few array operations over every system together.
    """
    n = diag.shape[-1]
    a, b, c, d = np.zeros((4,) + diag.shape[:-1] + ((1 << n.bit_length()) - 1,))
    a[..., 1:n], b[..., :n], c[..., :n - 1], d[..., :n] = (
        lower[..., 1:], diag, upper[..., :-1], rhs)
    b[..., n:] = 1.0
    levels = []
    while b.shape[-1] > 1:
        levels.append((a, b, c, d))
        # Row 2i+1 minus multiples of rows 2i and 2i+2 no longer involves their unknowns.
        left, right = -a[..., 1::2] / b[..., :-1:2], -c[..., 1::2] / b[..., 2::2]
        a, b, c, d = (left * a[..., :-1:2],
                      b[..., 1::2] + left * c[..., :-1:2] + right * a[..., 2::2],
                      right * c[..., 2::2],
                      d[..., 1::2] + left * d[..., :-1:2] + right * d[..., 2::2])
    x = d / b
    for a, b, c, d in reversed(levels):
        # The odd unknowns are known; each even one follows from its own row.
        known = np.zeros(x.shape[:-1] + (x.shape[-1] + 2,))  # zero beyond both ends
        known[..., 1:-1] = x
        full = np.empty_like(b)
        full[..., 1::2] = x
        full[..., ::2] = (d[..., ::2] - a[..., ::2] * known[..., :-1]
                          - c[..., ::2] * known[..., 1:]) / b[..., ::2]
        x = full
    return x[..., :n]


def _solve(epsilon: np.ndarray, phi: np.ndarray) -> np.ndarray:
    """The periodic parts u of the profiles for the anisotropies ``epsilon``, by Newton's
    method on all of them at once."""
    h = phi[1] - phi[0]
    # Start from the first order in ε: u″ = (3ε/4) sin φ. Newton converges from there in a
    # handful of steps up to ε = 0.9, without continuation in ε.
    u = -0.75 * epsilon[:, None] * np.sin(phi)
    active = np.ones(epsilon.size, dtype=bool)
    for _ in range(50):
        f, lower, diag, upper = _residual(u[active], phi, epsilon[active, None], h)
        # The whole defect may turn (θ(φ − α) + α solves too): pin the radial direction
        # θ(0) = 0, i.e. u_0 = 0, which the mirror-symmetric solution satisfies. With u_0
        # fixed, the cyclic system for u_1 … u_{n−1} is tridiagonal (its corners touch u_0).
        step = _solve_tridiagonal(lower[:, 1:], diag[:, 1:], upper[:, 1:], -f[:, 1:])
        u[active, 1:] += step
        # Newton converges quadratically here (steps of about 1e-1, 1e-2, 1e-4, 1e-7, 1e-14):
        # after a step below 1e-7 the profile sits within rounding of the discrete solution.
        active[active] = np.max(np.abs(step), axis=1) >= 1e-7
        if not active.any():
            return u
    raise RuntimeError(f"the defect profile did not converge at epsilon = {epsilon[active][0]}")


@functools.lru_cache(maxsize=1)
def profile_table() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(ε values, φ grid on [0, 2π), u = θ − φ/2 per ε): the +1/2 profiles, solved once."""
    phi = np.arange(TABLE_POINTS) * (2 * math.pi / TABLE_POINTS)
    n_side = int(round(EPSILON_LIMIT / TABLE_STEP))
    eps = np.arange(-n_side, n_side + 1) * TABLE_STEP
    table = np.empty((eps.size, phi.size))
    table[n_side:] = _solve(eps[n_side:], phi)
    # Exchanging K1 and K3 (ε → −ε) is turning the director by a right angle everywhere,
    # which makes the comet's head (φ = π, where the director is tangential) its tail:
    # u_{−ε}(φ) = u_ε(φ + π). The solve for ε ≥ 0 is the better conditioned one.
    table[:n_side] = np.roll(table[:n_side:-1], -(TABLE_POINTS // 2), axis=1)
    table.setflags(write=False)
    return eps, phi, table


def splay_bend_profile(phi: npt.ArrayLike, epsilon: float, angle_rad: float = 0.0) -> np.ndarray:
    """Director angle (not folded) at polar angles ``phi`` around a +1/2 defect whose comet
    tail (radial side) points along ``angle_rad``, for anisotropy ``epsilon``."""
    eps, grid, table = profile_table()
    if not abs(epsilon) <= EPSILON_LIMIT:
        raise ValueError(f"epsilon must lie in [-{EPSILON_LIMIT}, {EPSILON_LIMIT}], got {epsilon}")
    position = (epsilon - eps[0]) / TABLE_STEP
    lo = min(int(math.floor(position)), eps.size - 2)
    frac = position - lo
    u_table = (1 - frac) * table[lo] + frac * table[lo + 1]
    local = np.mod(np.asarray(phi, dtype=np.float64) - angle_rad, 2 * math.pi)
    u = np.interp(local, np.append(grid, 2 * math.pi), np.append(u_table, u_table[0]))
    return angle_rad + 0.5 * local + u


@dataclass(frozen=True)
class AnisotropyFit:
    """ε fitted on each ring (``per_ring``), their mean ``epsilon`` and its standard error."""

    epsilon: float
    epsilon_err: float
    per_ring: np.ndarray
    angle_rad: float


def _wrap(delta: np.ndarray) -> np.ndarray:
    return np.mod(delta + 0.5 * math.pi, math.pi) - 0.5 * math.pi


def _misfit(phi: np.ndarray, measured: np.ndarray, weight: np.ndarray, epsilon: float,
            angle: float) -> float:
    r = _wrap(measured - splay_bend_profile(phi, epsilon, angle))
    return float(np.sum(weight * r * r))


def _golden(fun, lo: float, hi: float, tol: float = 1e-4) -> float:
    g = (math.sqrt(5) - 1) / 2
    a, b = lo, hi
    c, d = b - g * (b - a), a + g * (b - a)
    fc, fd = fun(c), fun(d)
    while b - a > tol:
        if fc < fd:
            b, d, fd = d, c, fc
            c = b - g * (b - a)
            fc = fun(c)
        else:
            a, c, fc = c, d, fd
            d = a + g * (b - a)
            fd = fun(d)
    return 0.5 * (a + b)


def _table_costs(phi: np.ndarray, measured: np.ndarray, weight: np.ndarray,
                 angle: float) -> tuple[np.ndarray, np.ndarray]:
    """Weighted squared misfit of every tabulated ε at once, for one defect axis."""
    eps, grid, table = profile_table()
    local = np.mod(phi - angle, 2 * math.pi)
    position = local / (2 * math.pi) * grid.size
    lo = np.floor(position).astype(np.int64) % grid.size
    frac = position - np.floor(position)
    u = (1 - frac) * table[:, lo] + frac * table[:, (lo + 1) % grid.size]
    r = _wrap(measured - (angle + 0.5 * local + u))
    return eps, (weight * r * r).sum(axis=1)


def _best_epsilon(eps: np.ndarray, costs: np.ndarray) -> float:
    """The minimum of the tabulated costs, refined by a parabola through its neighbours."""
    i = int(np.argmin(costs))
    if 0 < i < eps.size - 1:
        left, mid, right = costs[i - 1], costs[i], costs[i + 1]
        curvature = left - 2 * mid + right
        if curvature > 0:
            return float(eps[i] + 0.5 * (left - right) / curvature * (eps[1] - eps[0]))
    return float(eps[i])


def _fit_ring(phi: np.ndarray, measured: np.ndarray, weight: np.ndarray,
              angle: float) -> tuple[float, float]:
    """Least-squares ε and defect axis for one ring: every tabulated ε on a scan of axes,
    then a golden-section refinement of the axis and a last pass over ε."""
    turns = angle + np.linspace(-0.4, 0.4, 17)
    best = [(_table_costs(phi, measured, weight, t)[1].min(), t) for t in turns]
    turn = min(best)[1]
    turn = _golden(lambda t: _misfit(phi, measured, weight,
                                     _best_epsilon(*_table_costs(phi, measured, weight, t)), t),
                   turn - 0.05, turn + 0.05, tol=1e-3)
    return _best_epsilon(*_table_costs(phi, measured, weight, turn)), turn


def ring_profile(
    theta: np.ndarray, weight: np.ndarray, row: float, col: float, r_in: float, r_out: float,
    n_sectors: int = N_SECTORS,
) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Director per angular sector of the annulus r_in ≤ r < r_out around (row, col): the
    weighted mean nematic tensor of its pixels. Returns (sector centres φ, θ, the length of
    the summed tensor, which weighs the sector in a fit)."""
    return ring_profiles(theta, weight, row, col, np.array([r_in, r_out]), n_sectors)[0]


def ring_profiles(
    theta: np.ndarray, weight: np.ndarray, row: float, col: float, edges: np.ndarray,
    n_sectors: int = N_SECTORS,
) -> list[tuple[np.ndarray, np.ndarray, np.ndarray]]:
    """`ring_profile` of every ring between consecutive ``edges``, from one pass over the
    pixels of the outermost ring's bounding box (a compiled kernel: no box-sized arrays)."""
    sums = _kernels.annulus_sectors(
        np.ascontiguousarray(theta, dtype=np.float64),
        np.ascontiguousarray(weight, dtype=np.float64), float(row), float(col),
        np.ascontiguousarray(edges, dtype=np.float64), int(n_sectors))
    centres = (np.arange(n_sectors) + 0.5) * (2 * math.pi / n_sectors)
    return [(centres, 0.5 * np.arctan2(q[:, 1], q[:, 0]), np.hypot(q[:, 0], q[:, 1]))
            for q in sums]


def _annulus(theta: np.ndarray, weight: np.ndarray, row: float, col: float, r_in: float,
             r_out: float, max_points: int = 2000) -> tuple[np.ndarray, ...]:
    """Pixel rows, columns, director angles and weights with r_in <= r < r_out around
    (row, col), thinned by a fixed stride to at most about ``max_points``."""
    rows, cols = theta.shape
    r0, r1 = max(0, int(row - r_out)), min(rows, int(row + r_out) + 2)
    c0, c1 = max(0, int(col - r_out)), min(cols, int(col + r_out) + 2)
    y, x = np.mgrid[r0:r1, c0:c1]
    r = np.hypot(x - col, y - row)
    inside = (r >= r_in) & (r < r_out) & (weight[r0:r1, c0:c1] > 0)
    stride = max(1, int(np.count_nonzero(inside) // max_points))
    pick = np.flatnonzero(inside.ravel())[::stride]
    return (y.ravel()[pick].astype(np.float64), x.ravel()[pick].astype(np.float64),
            theta[r0:r1, c0:c1].ravel()[pick], weight[r0:r1, c0:c1].ravel()[pick])


def _refine(y: np.ndarray, x: np.ndarray, t: np.ndarray, w: np.ndarray,
            start: np.ndarray) -> np.ndarray:
    """Levenberg–Marquardt on (row, col, ε, axis) of the profile model over pixel samples."""

    def residual(p: np.ndarray) -> np.ndarray:
        eps = float(np.clip(p[2], -EPSILON_LIMIT, EPSILON_LIMIT))
        model = splay_bend_profile(np.arctan2(y - p[0], x - p[1]), eps, float(p[3]))
        return np.sqrt(w) * _wrap(t - model)

    steps = np.array([0.05, 0.05, 1e-3, 1e-3])
    p = start.astype(np.float64).copy()
    r = residual(p)
    cost = float(r @ r)
    damping = 1e-3
    for _ in range(40):
        jac = np.column_stack([(residual(p + h * e) - r) / h
                               for h, e in zip(steps, np.eye(4))])
        normal = jac.T @ jac
        gradient = jac.T @ r
        improved = False
        for _ in range(8):
            try:
                delta = np.linalg.solve(normal + damping * np.diag(np.diag(normal)), -gradient)
            except np.linalg.LinAlgError:
                break
            trial = p + delta
            trial[2] = np.clip(trial[2], -EPSILON_LIMIT, EPSILON_LIMIT)
            r_trial = residual(trial)
            c_trial = float(r_trial @ r_trial)
            if c_trial < cost:
                converged = cost - c_trial < 1e-10 * cost
                p, r, cost, damping, improved = trial, r_trial, c_trial, damping * 0.3, True
                break
            damping *= 10.0
        if not improved or converged:
            break
    return p


def defect_anisotropy(
    theta: npt.ArrayLike,
    weight: Optional[npt.ArrayLike],
    row: float,
    col: float,
    angle_rad: float,
    radii_px: npt.ArrayLike,
) -> AnisotropyFit:
    """ε of the +1/2 defect near (``row``, ``col``) px with comet-tail axis near
    ``angle_rad``, from the director angles ``theta`` (pixels; ``weight`` e.g. the
    coherence, zero where there is no director, None for equal weights) between the first
    and last of ``radii_px``.

    The core position, the axis and ε are first fitted together over the whole annulus (a
    detected core sits a few pixels off where the profile is anisotropic, and rings around
    the wrong centre bias ε towards 0); then ε is fitted on each ring between consecutive
    radii around that centre. ``epsilon`` is the mean over rings; ``epsilon_err`` combines
    their standard error with the change of ε between the detected and the fitted core (NaN
    with fewer than two rings).
    """
    angles = np.asarray(theta, dtype=np.float64)
    w = np.ones_like(angles) if weight is None else np.asarray(weight, dtype=np.float64)
    edges = np.asarray(radii_px, dtype=np.float64)
    if edges.ndim != 1 or edges.size < 2 or np.any(np.diff(edges) <= 0) or edges[0] < 0:
        raise ValueError("radii_px must be at least two increasing non-negative radii")
    phi, measured, sector_weight = ring_profile(angles, w, row, col, edges[0], edges[-1])
    if np.count_nonzero(sector_weight) < N_SECTORS // 2:
        return AnisotropyFit(math.nan, math.nan, np.zeros(0), angle_rad)
    eps0, turn0 = _fit_ring(phi, measured, sector_weight, angle_rad)
    samples = _annulus(angles, w, row, col, edges[0], edges[-1])
    centre_row, centre_col, _, turn = _refine(*samples, np.array([row, col, eps0, turn0]))
    if math.hypot(centre_row - row, centre_col - col) > edges[0]:
        centre_row, centre_col, turn = row, col, turn0  # the fit wandered off this core
    per_ring = _ring_estimates(angles, w, centre_row, centre_col, turn, edges)
    if per_ring.size < 2:
        return AnisotropyFit(math.nan, math.nan, per_ring, angle_rad)
    epsilon = float(per_ring.mean())
    # ε and the core position trade off against each other along the axis; the change of ε
    # between the detected and the fitted core enters the error beside the spread of rings.
    at_detected = _ring_estimates(angles, w, row, col, turn0, edges)
    shift = abs(epsilon - float(at_detected.mean())) if at_detected.size else 0.0
    spread = float(per_ring.std(ddof=1) / math.sqrt(per_ring.size))
    return AnisotropyFit(epsilon, math.hypot(spread, shift), per_ring, float(turn) % (2 * math.pi))


def _ring_estimates(angles: np.ndarray, w: np.ndarray, row: float, col: float, turn: float,
                    edges: np.ndarray) -> np.ndarray:
    """ε on each ring between consecutive ``edges`` around (row, col), axis fixed."""
    estimates = []
    for phi, measured, sector_weight in ring_profiles(angles, w, row, col, edges):
        if np.count_nonzero(sector_weight) < N_SECTORS // 2:
            continue  # mostly outside the image or the analysed region
        estimates.append(_best_epsilon(*_table_costs(phi, measured, sector_weight, turn)))
    return np.array(estimates)
