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
    """Director differences folded into [−π/2, π/2] (rint is several times cheaper than
    a floating-point modulo)."""
    return delta - math.pi * np.rint(delta * (1 / math.pi))


def _from_axis(phi: np.ndarray, angle) -> np.ndarray:
    """Polar angles measured from the defect axis ``angle``, in [0, 2π]."""
    turned = phi - angle
    return turned - 2 * math.pi * np.floor(turned * (0.5 / math.pi))


@functools.lru_cache(maxsize=1)
def _table_by_angle() -> np.ndarray:
    """The profile table with φ first: a gather at sector angles then reads whole rows."""
    return np.ascontiguousarray(profile_table()[2].T)


def _table_costs(phi: np.ndarray, measured: np.ndarray, weight: np.ndarray, angle,
                 rows: np.ndarray) -> np.ndarray:
    """Weighted squared misfit of the tabulated ε ``rows`` for sector profiles ``measured``
    (…, sectors) seen with the defect axis along ``angle`` (broadcast against the leading
    axes: one profile on many axes, or many rings on one). ``rows`` is one list of table
    rows for every profile, or one list per profile (…, k); the costs are (…, k)."""
    grid = profile_table()[1]
    by_angle = _table_by_angle()
    if rows.ndim == 1:
        by_angle = by_angle[:, rows]
    angle = np.asarray(angle, dtype=np.float64)[..., None]
    local = _from_axis(phi, angle)
    position = local * (grid.size / (2 * math.pi))
    below = np.floor(position)
    frac = (position - below)[..., None]
    lo = below.astype(np.int64) % grid.size
    u = ((1 - frac) * np.take(by_angle, lo, axis=0)
         + frac * np.take(by_angle, (lo + 1) % grid.size, axis=0))  # (…, sectors, ε)
    if rows.ndim > 1:
        u = np.take_along_axis(u, rows[..., None, :], axis=-1)
    r = _wrap((measured - angle - 0.5 * local)[..., None] - u)
    return np.einsum("...s,...se->...e", weight, r * r)


def _lowest(costs: np.ndarray) -> np.ndarray:
    """Index of the least cost along the last axis, made fractional by a parabola through
    its neighbours."""
    i = np.argmin(costs, axis=-1)
    inner = np.clip(i, 1, costs.shape[-1] - 2)
    left, mid, right = (np.take_along_axis(costs, (inner + k)[..., None], axis=-1)[..., 0]
                        for k in (-1, 0, 1))
    curvature = left - 2 * mid + right
    shift = np.divide(0.5 * (left - right), curvature, out=np.zeros_like(curvature),
                      where=(i == inner) & (curvature > 0))
    return i + shift


def _profile_terms(local: np.ndarray, epsilon: float) -> tuple[np.ndarray, ...]:
    """u = θ − φ/2 at polar angles ``local`` ∈ [0, 2π] from the defect axis, interpolated in
    the table linearly in ε and φ as `splay_bend_profile` does, with its derivatives along φ
    and along ε (those of the interpolant)."""
    eps, grid, table = profile_table()
    position = (epsilon - eps[0]) / TABLE_STEP
    row = min(int(math.floor(position)), eps.size - 2)
    frac = position - row
    # The profile at ε and its change with ε, on the grid closed by the point at 2π.
    closed = np.append(table[row:row + 2], table[row:row + 2, :1], axis=1)
    profile = (1 - frac) * closed[0] + frac * closed[1]
    change = (closed[1] - closed[0]) / TABLE_STEP
    at = local * (grid.size / (2 * math.pi))
    lo = np.minimum(at.astype(np.int64), grid.size - 1)
    t = at - lo
    u_lo, u_hi = profile.take(lo), profile.take(lo + 1)
    e_lo, e_hi = change.take(lo), change.take(lo + 1)
    return (u_lo + t * (u_hi - u_lo), (u_hi - u_lo) * (grid.size / (2 * math.pi)),
            e_lo + t * (e_hi - e_lo))


def _misfit_terms(phi: np.ndarray, measured: np.ndarray, root_weight: np.ndarray,
                  epsilon: float, angle: float) -> tuple[np.ndarray, ...]:
    """Weighted residuals √w·(measured − model) of the profile at polar angles ``phi``, and
    their derivatives with respect to φ, ε and the defect axis."""
    local = _from_axis(phi, angle)
    u, du_dphi, du_deps = _profile_terms(local, epsilon)
    r = root_weight * _wrap(measured - (angle + 0.5 * local + u))
    # model = axis + (φ − axis)/2 + u(φ − axis)
    return (r, -root_weight * (0.5 + du_dphi), -root_weight * du_deps,
            -root_weight * (0.5 - du_dphi))


def _levenberg_marquardt(evaluate, start: np.ndarray, lower: np.ndarray, upper: np.ndarray,
                         precision: np.ndarray) -> np.ndarray:
    """Minimise |r(p)|² from ``start`` within [``lower``, ``upper``]; ``evaluate(p)`` gives
    the residuals r and their Jacobian. Stops once a step moves no parameter by its
    ``precision`` (or improves the cost by less than a part in 1e10)."""
    p = start.astype(np.float64).copy()
    r, jac = evaluate(p)
    cost = float(r @ r)
    damping = 1e-3
    for _ in range(40):
        normal = jac.T @ jac
        gradient = jac.T @ r
        improved = converged = False
        for _ in range(8):
            try:
                delta = np.linalg.solve(normal + damping * np.diag(np.diag(normal)), -gradient)
            except np.linalg.LinAlgError:
                break
            trial = np.clip(p + delta, lower, upper)
            r_trial, jac_trial = evaluate(trial)
            c_trial = float(r_trial @ r_trial)
            if c_trial < cost:
                converged = (cost - c_trial < 1e-10 * cost
                             or bool(np.all(np.abs(trial - p) < precision)))
                p, r, jac, cost, improved = trial, r_trial, jac_trial, c_trial, True
                damping *= 0.3
                break
            damping *= 10.0
        if not improved or converged:
            break
    return p


def _fit_ring(phi: np.ndarray, measured: np.ndarray, weight: np.ndarray,
              angle: float) -> tuple[float, float]:
    """Least-squares ε and defect axis for one ring: a coarse scan of tabulated ε on axes
    around ``angle``, then both refined together by Levenberg–Marquardt."""
    eps = profile_table()[0]
    turns = angle + np.linspace(-0.4, 0.4, 17)
    rows = np.arange(0, eps.size, 10)
    i, j = np.unravel_index(np.argmin(_table_costs(phi, measured, weight, turns, rows)),
                            (turns.size, rows.size))
    root_weight = np.sqrt(weight)

    def evaluate(p: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        r, _, d_eps, d_axis = _misfit_terms(phi, measured, root_weight, p[0], p[1])
        return r, np.column_stack([d_eps, d_axis])

    limit = np.array([EPSILON_LIMIT, np.inf])
    start = np.array([eps[rows[j]], turns[i]])
    # A thousandth (of a radian, for the axis) is as close as the fit of the core position
    # needs to start from, and moves ε on the rings around the detected core far less.
    epsilon, turn = _levenberg_marquardt(evaluate, start, -limit, limit, np.array([1e-3, 1e-3]))
    return float(epsilon), float(turn)


def _sector_sums(theta: np.ndarray, weight: np.ndarray, row: float, col: float,
                 edges: np.ndarray, n_sectors: int, step: int = 1) -> np.ndarray:
    """Summed nematic tensor (cos 2θ, sin 2θ) per ring and sector: (rings, sectors, 2), over
    every ``step``-th pixel row and column of the rings' bounding box."""
    if step > 1:
        reach = float(edges[-1])
        r0, c0 = max(0, int(row - reach)), max(0, int(col - reach))
        box = (slice(r0, int(row + reach) + 2, step), slice(c0, int(col + reach) + 2, step))
        theta, weight = theta[box], weight[box]
        row, col, edges = (row - r0) / step, (col - c0) / step, edges / step
    return _kernels.annulus_sectors(
        np.ascontiguousarray(theta, dtype=np.float64),
        np.ascontiguousarray(weight, dtype=np.float64), float(row), float(col),
        np.ascontiguousarray(edges, dtype=np.float64), int(n_sectors))


def _lattice_step(edges: np.ndarray) -> int:
    """Every how many pixel rows and columns the rings are read: 1 unless even the smallest
    sector holds several hundred pixels. The director barely changes from one pixel to the
    next after the structure tensor's smoothing, and each sector still averages about a
    hundred of them."""
    smallest = math.pi * float(np.min(np.diff(edges**2))) / N_SECTORS
    return max(1, int(math.sqrt(smallest / 100)))


def _sector_directors(sums: np.ndarray) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """(sector centres φ, director θ, tensor length) from the sector sums (…, sectors, 2)."""
    n_sectors = sums.shape[-2]
    centres = (np.arange(n_sectors) + 0.5) * (2 * math.pi / n_sectors)
    return (centres, 0.5 * np.arctan2(sums[..., 1], sums[..., 0]),
            np.hypot(sums[..., 0], sums[..., 1]))


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
    return [_sector_directors(q) for q in _sector_sums(theta, weight, row, col, edges, n_sectors)]


def _annulus(theta: np.ndarray, weight: np.ndarray, row: float, col: float, r_in: float,
             r_out: float, max_points: int = 2000) -> tuple[np.ndarray, ...]:
    """Pixel rows, columns, director angles and weights with r_in <= r < r_out around
    (row, col), thinned by a fixed stride to at most about ``max_points``. An annulus many
    times larger is first read on a lattice of every k-th row and column, which keeps the
    samples spread alike at a fraction of the cost."""
    rows, cols = theta.shape
    k = max(1, int(math.sqrt(math.pi * (r_out**2 - r_in**2) / (4 * max_points))))
    r0, r1 = max(0, int(row - r_out)), min(rows, int(row + r_out) + 2)
    c0, c1 = max(0, int(col - r_out)), min(cols, int(col + r_out) + 2)
    r2 = (np.arange(c0, c1, k) - col) ** 2 + ((np.arange(r0, r1, k) - row) ** 2)[:, None]
    inside = (r2 >= r_in * r_in) & (r2 < r_out * r_out) & (weight[r0:r1:k, c0:c1:k] > 0)
    stride = max(1, int(np.count_nonzero(inside) // max_points))
    y, x = np.divmod(np.flatnonzero(inside)[::stride], inside.shape[1])
    y, x = r0 + k * y, c0 + k * x
    return y.astype(np.float64), x.astype(np.float64), theta[y, x], weight[y, x]


def _refine(y: np.ndarray, x: np.ndarray, t: np.ndarray, w: np.ndarray,
            start: np.ndarray) -> np.ndarray:
    """Levenberg–Marquardt on (row, col, ε, axis) of the profile model over pixel samples."""
    root_weight = np.sqrt(w)

    def evaluate(p: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        dy, dx = y - p[0], x - p[1]
        r, d_phi, d_eps, d_axis = _misfit_terms(np.arctan2(dy, dx), t, root_weight, p[2], p[3])
        # φ = atan2(y − row, x − col): ∂φ/∂row = −dx/ρ², ∂φ/∂col = dy/ρ².
        rho2 = dx * dx + dy * dy
        d_phi = np.divide(d_phi, rho2, out=np.zeros_like(rho2), where=rho2 > 0)
        return r, np.column_stack([-dx * d_phi, dy * d_phi, d_eps, d_axis])

    limit = np.array([np.inf, np.inf, EPSILON_LIMIT, np.inf])
    # A hundredth of a pixel moves ε on rings some pixels wide by far less than its error.
    return _levenberg_marquardt(evaluate, start, -limit, limit,
                                np.array([0.01, 0.01, 1e-4, 1e-4]))


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
    # The rings around the detected core, and the whole annulus as their sum.
    step = _lattice_step(edges)
    at_detected = _sector_sums(angles, w, row, col, edges, N_SECTORS, step)
    phi, measured, sector_weight = _sector_directors(at_detected.sum(axis=0))
    if np.count_nonzero(sector_weight) < N_SECTORS // 2:
        return AnisotropyFit(math.nan, math.nan, np.zeros(0), angle_rad)
    eps0, turn0 = _fit_ring(phi, measured, sector_weight, angle_rad)
    samples = _annulus(angles, w, row, col, edges[0], edges[-1])
    centre_row, centre_col, _, turn = _refine(*samples, np.array([row, col, eps0, turn0]))
    if math.hypot(centre_row - row, centre_col - col) > edges[0]:
        centre_row, centre_col, turn = row, col, turn0  # the fit wandered off this core
        at_centre = at_detected
    else:
        at_centre = _sector_sums(angles, w, centre_row, centre_col, edges, N_SECTORS, step)
    per_ring, detected = _ring_estimates(np.stack([at_centre, at_detected]),
                                         np.array([turn, turn0]))
    if per_ring.size < 2:
        return AnisotropyFit(math.nan, math.nan, per_ring, angle_rad)
    epsilon = float(per_ring.mean())
    # ε and the core position trade off against each other along the axis; the change of ε
    # between the detected and the fitted core enters the error beside the spread of rings.
    shift = abs(epsilon - float(detected.mean())) if detected.size else 0.0
    spread = float(per_ring.std(ddof=1) / math.sqrt(per_ring.size))
    return AnisotropyFit(epsilon, math.hypot(spread, shift), per_ring, float(turn) % (2 * math.pi))


def _ring_estimates(sums: np.ndarray, turns: np.ndarray) -> list[np.ndarray]:
    """ε on each ring of the sector sums (centres, rings, sectors, 2) with the defect axis
    fixed, one axis per centre: the least-squares ε of the table, every ring at once."""
    eps = profile_table()[0]
    phi, measured, sector_weight = _sector_directors(sums)
    angle = np.asarray(turns)[:, None]
    # Every fifth ε first, then every ε within five rows of the best: the costs fall and
    # rise smoothly along ε, so the least of them lies there.
    coarse = _table_costs(phi, measured, sector_weight, angle, np.arange(0, eps.size, 5))
    first = np.clip(5 * np.argmin(coarse, axis=-1) - 5, 0, eps.size - 11)
    rows = first[..., None] + np.arange(11)
    fine = _table_costs(phi, measured, sector_weight, angle, rows)
    estimates = eps[0] + TABLE_STEP * (first + _lowest(fine))
    # Rings mostly outside the image or the analysed region tell nothing.
    kept = np.count_nonzero(sector_weight, axis=-1) >= N_SECTORS // 2
    return [e[k] for e, k in zip(estimates, kept)]
