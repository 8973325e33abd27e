"""Synthetic tissue images with planted topological defects, for the demo and for tests.

The tissue is a dense layer of elongated cells whose long axes follow a nematic director
field with known +-1/2 defects; nothing is downloaded. Cells are drawn on a margin around the
image so that the border looks like the interior.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass, replace

import numpy as np

__all__ = [
    "FibrousTexture",
    "PlantedDefect",
    "SyntheticMovie",
    "SyntheticTissue",
    "anisotropic_defect_tissue",
    "fibrous_texture",
    "planted_director",
    "planted_orientations",
    "score_links",
    "synthetic_movie",
    "synthetic_tissue",
]

_HALF_WINDOW = 7  # pixels: a cell is drawn in a (2*7 + 1)-pixel square
_LONG_SIGMA = 3.5  # pixels, along the long axis
_SHORT_SIGMA = 1.0  # pixels, across it
_NOISE = 0.02
_CELLS_PER_PIXEL = 0.1
_CHUNK_VALUES = 1 << 22  # drawing work per chunk: bounds the memory of large images


@dataclass(frozen=True)
class PlantedDefect:
    """A defect built into a synthetic director field: pixel position, charge and, once the
    whole field is known, its orientation (``angle_rad``, the convention of detected defects:
    +1/2 comet-tail axis in [0, 2pi), -1/2 one arm in [0, 2pi/3))."""

    row: float
    col: float
    charge: float
    angle_rad: float = math.nan


@dataclass(frozen=True)
class SyntheticTissue:
    """A synthetic tissue image with its ground truth.

    ``contours`` are cell outlines as (x, y) = (column, row) times the pixel size, in µm.
    """

    image: np.ndarray
    nuclear_mask: np.ndarray
    contours: list[np.ndarray]
    pixel_size_um: float
    defects: tuple[PlantedDefect, ...]


def planted_director(
    rows: np.ndarray, cols: np.ndarray, defects: Sequence[PlantedDefect], base_angle: float = 0.0
) -> np.ndarray:
    """Director angle at the given pixel coordinates (director convention, not folded).

    Each defect of charge q turns the director by q times the polar angle around it, measured
    from the column axis towards the row axis, so a +1/2 defect has charge +0.5 in
    ``detect_defects``.
    """
    angle = np.full(np.broadcast(rows, cols).shape, float(base_angle))
    for defect in defects:
        angle = angle + defect.charge * np.arctan2(rows - defect.row, cols - defect.col)
    return angle


def planted_orientations(
    defects: Sequence[PlantedDefect], base_angle: float = 0.0
) -> tuple[PlantedDefect, ...]:
    """The planted defects with ``angle_rad`` set from the field they sit in.

    Near defect i the director is q_i * phi + beta_i, beta_i being the base angle plus what
    every other defect contributes at its core. A +1/2 defect is radial (its tail) where
    phi/2 + beta = phi, so psi = 2 beta; a -1/2 defect has arms where -phi/2 + beta = phi, so
    psi = 2 beta / 3 modulo 2pi/3.
    """
    out = []
    for i, defect in enumerate(defects):
        beta = float(base_angle) + sum(
            other.charge * math.atan2(defect.row - other.row, defect.col - other.col)
            for j, other in enumerate(defects)
            if j != i
        )
        if defect.charge > 0:
            angle = (2.0 * beta) % (2.0 * math.pi)
        else:
            angle = (2.0 * beta / 3.0) % (2.0 * math.pi / 3.0)
        out.append(replace(defect, angle_rad=angle))
    return tuple(out)


def _default_defects(shape: tuple[int, int]) -> tuple[PlantedDefect, ...]:
    rows, cols = shape
    return (
        PlantedDefect(rows / 2, cols / 3, 0.5),
        PlantedDefect(rows / 2, 2 * cols / 3, -0.5),
    )


def _window_offsets() -> tuple[np.ndarray, np.ndarray]:
    half = _HALF_WINDOW
    dy, dx = np.mgrid[-half : half + 1, -half : half + 1].astype(np.float64)
    return dy.ravel(), dx.ravel()


def _draw_cells(canvas: np.ndarray, centres: np.ndarray, angles: np.ndarray) -> None:
    """Add one elongated Gaussian per cell, in place, chunk by chunk."""
    dy, dx = _window_offsets()
    width = canvas.shape[1]
    flat = canvas.ravel()
    anchor_rows = centres[:, 0].astype(np.int64) + _HALF_WINDOW
    anchor_cols = centres[:, 1].astype(np.int64) + _HALF_WINDOW
    chunk = max(1, _CHUNK_VALUES // dy.size)
    for start in range(0, len(centres), chunk):
        part = slice(start, start + chunk)
        cos_d = np.cos(angles[part])[:, None]
        sin_d = np.sin(angles[part])[:, None]
        along = cos_d * dx + sin_d * dy
        across = -sin_d * dx + cos_d * dy
        weights = np.exp(
            -(along**2 / (2 * _LONG_SIGMA**2) + across**2 / (2 * _SHORT_SIGMA**2))
        )
        index = (anchor_rows[part, None] + dy.astype(np.int64)) * width + (
            anchor_cols[part, None] + dx.astype(np.int64)
        )
        flat += np.bincount(index.ravel(), weights.ravel(), minlength=flat.size)


def _nuclei_and_outlines(
    shape: tuple[int, int],
    centres: np.ndarray,
    angles: np.ndarray,
    pixel_size_um: float,
) -> tuple[np.ndarray, list[np.ndarray]]:
    """Labelled nuclei (on the margin canvas) and outlines in µm, one per given cell."""
    half = _HALF_WINDOW
    labels = np.zeros((shape[0] + 2 * half, shape[1] + 2 * half), np.int32)
    dy, dx = np.mgrid[-half : half + 1, -half : half + 1].astype(np.float64)
    t = np.linspace(0.0, 2 * np.pi, 24, endpoint=False)
    outlines = []
    for label, ((row, col), angle) in enumerate(zip(centres, angles), start=1):
        along = np.cos(angle) * dx + np.sin(angle) * dy
        across = -np.sin(angle) * dx + np.cos(angle) * dy
        r0, c0 = int(row) + half, int(col) + half
        window = labels[r0 - half : r0 + half + 1, c0 - half : c0 + half + 1]
        nucleus = (along / 3.0) ** 2 + (across / 1.2) ** 2 <= 1.0
        window[nucleus & (window == 0)] = label
        x = col + 5.0 * np.cos(t) * np.cos(angle) - 2.0 * np.sin(t) * np.sin(angle)
        y = row + 5.0 * np.cos(t) * np.sin(angle) + 2.0 * np.sin(t) * np.cos(angle)
        outlines.append(np.column_stack([x, y]) * pixel_size_um)
    crop = (slice(half, half + shape[0]), slice(half, half + shape[1]))
    return np.ascontiguousarray(labels[crop]), outlines


def synthetic_tissue(
    shape: int | tuple[int, int] = 192,
    *,
    pixel_size_um: float = 0.5,
    defects: Sequence[PlantedDefect] | None = None,
    base_angle: float = 0.0,
    n_outlined: int = 400,
    seed: int = 7,
) -> SyntheticTissue:
    """Synthesise a tissue-like nematic texture with known defects.

    ``shape`` is the image size in pixels (one number for a square). ``defects`` defaults to a
    +1/2 defect at (rows/2, cols/3) and a -1/2 defect at (rows/2, 2*cols/3); pass ``()`` for
    a uniform texture along ``base_angle``. The first ``n_outlined`` cells also get a nucleus
    in ``nuclear_mask`` and an outline in ``contours``. The same arguments give the same
    image.
    """
    rows, cols = (shape, shape) if isinstance(shape, int) else (int(shape[0]), int(shape[1]))
    if rows < 1 or cols < 1:
        raise ValueError(f"image shape must be positive, got {(rows, cols)}")
    planted = _default_defects((rows, cols)) if defects is None else tuple(defects)
    rng = np.random.default_rng(seed)
    half = _HALF_WINDOW
    canvas = rng.normal(0.0, _NOISE, (rows + 2 * half, cols + 2 * half))
    n_cells = max(1, int(rows * cols * _CELLS_PER_PIXEL))
    centres = rng.uniform(0.0, 1.0, (n_cells, 2)) * np.array([rows, cols], dtype=np.float64)
    angles = planted_director(centres[:, 0], centres[:, 1], planted, base_angle)
    _draw_cells(canvas, centres, angles)
    n_outlined = min(n_outlined, n_cells)
    mask, outlines = _nuclei_and_outlines(
        (rows, cols), centres[:n_outlined], angles[:n_outlined], pixel_size_um
    )
    image = np.ascontiguousarray(canvas[half : half + rows, half : half + cols])
    truth = planted_orientations(planted, base_angle)
    return SyntheticTissue(image, mask, outlines, float(pixel_size_um), truth)

@dataclass(frozen=True)
class SyntheticMovie:
    """A (T, Y, X) movie of a synthetic tissue whose defects drift along known paths.

    ``positions[t, i]`` is the (row, col) pixel position of planted defect ``i`` in frame
    ``t``; ``charges[i]`` its charge.
    """

    frames: np.ndarray
    positions: np.ndarray
    charges: np.ndarray
    pixel_size_um: float


def synthetic_movie(
    n_frames: int = 8,
    shape: int | tuple[int, int] = 160,
    *,
    defects: Sequence[PlantedDefect] | None = None,
    velocities: Sequence[tuple[float, float]] | None = None,
    pixel_size_um: float = 0.5,
    seed: int = 7,
) -> SyntheticMovie:
    """A movie whose planted defects move at constant ``velocities`` ((row, col) pixels per
    frame). Defaults: two +-1/2 pairs drifting in different directions at 1-2 px/frame. Each
    frame is a fresh `synthetic_tissue` (new cells, same director law), as consecutive
    micrographs of a turning-over layer are."""
    rows, cols = (shape, shape) if isinstance(shape, int) else (int(shape[0]), int(shape[1]))
    if defects is None:
        defects = (
            PlantedDefect(0.3 * rows, 0.3 * cols, 0.5), PlantedDefect(0.3 * rows, 0.7 * cols, -0.5),
            PlantedDefect(0.7 * rows, 0.7 * cols, 0.5), PlantedDefect(0.7 * rows, 0.3 * cols, -0.5),
        )
        velocities = velocities or ((1.0, 1.5), (-0.5, -1.0), (-1.2, 0.8), (0.8, -0.6))
    velocities = velocities or tuple((0.0, 0.0) for _ in defects)
    if len(velocities) != len(defects):
        raise ValueError(f"{len(velocities)} velocities for {len(defects)} defects")
    start = np.array([[d.row, d.col] for d in defects], dtype=np.float64).reshape(-1, 2)
    steps = np.asarray(velocities, dtype=np.float64).reshape(-1, 2)
    positions = start[None] + np.arange(n_frames)[:, None, None] * steps[None]
    charges = np.array([d.charge for d in defects], dtype=np.float64)
    frames = np.empty((n_frames, rows, cols))
    for t in range(n_frames):
        planted = [PlantedDefect(r, c, q) for (r, c), q in zip(positions[t], charges)]
        frames[t] = synthetic_tissue((rows, cols), pixel_size_um=pixel_size_um, defects=planted,
                                     n_outlined=0, seed=seed + t).image
    return SyntheticMovie(frames, positions, charges, float(pixel_size_um))


def score_links(defects: Sequence, movie: SyntheticMovie, tolerance_px: float) -> dict[str, float]:
    """Score linked defects (with ``frame`` and ``track``) against a movie's planted paths.

    Each detection is matched to the nearest planted defect of its charge within
    ``tolerance_px`` in its frame (``matched_fraction``). A link joins two detections of one
    track in consecutive frames; among the links whose two ends are matched,
    ``correct_fraction`` is the share that join the same planted defect. ``recall`` is the
    share of planted defects matched in two consecutive frames whose detections are linked.
    """
    matched = {}
    for d in defects:
        planted = movie.positions[d.frame]
        distance = np.hypot(planted[:, 0] - d.row, planted[:, 1] - d.col)
        distance[np.sign(movie.charges) != np.sign(d.charge)] = np.inf
        best = int(np.argmin(distance)) if len(distance) else -1
        matched[(d.frame, d.track)] = best if best >= 0 and distance[best] <= tolerance_px else None
    links = [(t, track) for (t, track) in matched
             if (t + 1, track) in matched and matched[(t, track)] is not None
             and matched[(t + 1, track)] is not None]
    correct = sum(1 for t, track in links if matched[(t, track)] == matched[(t + 1, track)])
    present = {(t, i) for (t, _), i in matched.items() if i is not None}
    possible = sum(1 for t, i in present if (t + 1, i) in present)
    return {
        "links": float(len(links)),
        "correct_fraction": correct / len(links) if links else float("nan"),
        "recall": correct / possible if possible else float("nan"),
        "matched_fraction": sum(i is not None for i in matched.values()) / max(1, len(matched)),
    }


@dataclass(frozen=True)
class FibrousTexture:
    """A fibrous nematic texture with its ground truth.

    ``director`` is the planted director angle at every pixel (folded into [0, pi));
    ``fibre_width_px`` the transverse scale of the fibres (the Gaussian blur across them).
    """

    image: np.ndarray
    director: np.ndarray
    pixel_size_um: float
    fibre_width_px: float
    defects: tuple[PlantedDefect, ...]


def _scatter_defects(
    rng: np.random.Generator, shape: tuple[int, int], count: int, spacing: float, margin: float
) -> list[PlantedDefect]:
    """Dart throwing: ``count`` defects of alternating sign, no two closer than ``spacing``."""
    rows, cols = shape
    placed: list[PlantedDefect] = []
    for _ in range(200 * max(count, 1)):
        if len(placed) == count:
            break
        row = rng.uniform(margin, rows - margin)
        col = rng.uniform(margin, cols - margin)
        if all(math.hypot(row - d.row, col - d.col) >= spacing for d in placed):
            placed.append(PlantedDefect(row, col, 0.5 if len(placed) % 2 == 0 else -0.5))
    if len(placed) < count:
        raise ValueError(
            f"cannot place {count} defects {spacing} px apart in a {rows} x {cols} image"
        )
    return placed


def _gaussian_blur(values: np.ndarray, sigma: float) -> np.ndarray:
    """Periodic Gaussian blur through the FFT (the caller keeps a margin)."""
    if sigma <= 0.0:
        return values
    rows, cols = values.shape
    fy = np.fft.fftfreq(rows)[:, None]
    fx = np.fft.rfftfreq(cols)[None, :]
    transfer = np.exp(-2.0 * (math.pi * sigma) ** 2 * (fx**2 + fy**2))
    return np.fft.irfft2(np.fft.rfft2(values) * transfer, s=values.shape)


def _director_at(q_cos: np.ndarray, q_sin: np.ndarray, r: np.ndarray, c: np.ndarray
                 ) -> tuple[np.ndarray, np.ndarray]:
    """Unit director (x, y) at fractional pixel positions: bilinear in (cos 2θ, sin 2θ), so
    the director turns smoothly between pixels instead of jumping near a core."""
    rows, cols = q_cos.shape
    r = np.clip(r, 0.0, rows - 1.001)
    c = np.clip(c, 0.0, cols - 1.001)
    r0, c0 = r.astype(np.intp), c.astype(np.intp)
    fr, fc = r - r0, c - c0

    def bilinear(values: np.ndarray) -> np.ndarray:
        return ((1 - fr) * ((1 - fc) * values[r0, c0] + fc * values[r0, c0 + 1])
                + fr * ((1 - fc) * values[r0 + 1, c0] + fc * values[r0 + 1, c0 + 1]))

    doubled = np.arctan2(bilinear(q_sin), bilinear(q_cos))
    return np.cos(0.5 * doubled), np.sin(0.5 * doubled)


def _streak_noise(
    noise: np.ndarray, director: np.ndarray, length: float
) -> np.ndarray:
    """Line-integral convolution: white noise averaged along the director's streamlines.

    Each pixel follows the director both ways in one-pixel midpoint steps (keeping the sense
    of travel, since a director has none of its own) and sums the noise it meets, bilinearly
    interpolated, with Gaussian weights of standard deviation ``length``.
    """
    rows, cols = noise.shape
    q_cos, q_sin = np.cos(2.0 * director), np.sin(2.0 * director)
    ux, uy = np.cos(director), np.sin(director)
    total = noise.copy()
    norm = np.ones_like(noise)
    steps = int(math.ceil(2.0 * length))
    r0, c0 = np.mgrid[0:rows, 0:cols].astype(np.float64)

    def aligned(x: np.ndarray, y: np.ndarray, dx: np.ndarray, dy: np.ndarray
                ) -> tuple[np.ndarray, np.ndarray]:
        flip = np.where(x * dx + y * dy < 0.0, -1.0, 1.0)
        return x * flip, y * flip

    for sense in (1.0, -1.0):
        r, c = r0.copy(), c0.copy()
        dx, dy = sense * ux, sense * uy
        for step in range(1, steps + 1):
            dx, dy = aligned(*_director_at(q_cos, q_sin, r + 0.5 * dy, c + 0.5 * dx), dx, dy)
            r += dy
            c += dx
            weight = math.exp(-0.5 * (step / length) ** 2)
            rr = np.clip(r, 0.0, rows - 1.001)
            cc = np.clip(c, 0.0, cols - 1.001)
            ri, ci = rr.astype(np.intp), cc.astype(np.intp)
            fr, fc = rr - ri, cc - ci
            sample = ((1 - fr) * ((1 - fc) * noise[ri, ci] + fc * noise[ri, ci + 1])
                      + fr * ((1 - fc) * noise[ri + 1, ci] + fc * noise[ri + 1, ci + 1]))
            total += weight * sample
            norm += weight
    return total / norm


def fibrous_texture(
    shape: int | tuple[int, int] = 512,
    *,
    n_defects: int = 16,
    defects: Sequence[PlantedDefect] | None = None,
    min_spacing_px: float = 48.0,
    fibre_width_px: float = 1.5,
    fibre_length_px: float = 8.0,
    noise: float = 0.3,
    base_angle: float | None = None,
    pixel_size_um: float = 0.5,
    seed: int = 0,
) -> FibrousTexture:
    """A fibrous texture whose fibres follow a director with many planted +-1/2 defects.

    White noise is smeared along the director over ``fibre_length_px`` (line-integral
    convolution), blurred across by ``fibre_width_px`` and normalised to unit standard
    deviation; then white noise of standard deviation ``noise`` is added (0.3: fibres clearly
    visible; 1: barely). ``n_defects`` defects of alternating sign are scattered at random, no
    two closer than ``min_spacing_px`` and none nearer the border than half that, unless
    ``defects`` gives them. The truth carries each defect's orientation.
    """
    rows, cols = (shape, shape) if isinstance(shape, int) else (int(shape[0]), int(shape[1]))
    if rows < 8 or cols < 8:
        raise ValueError(f"image shape must be at least 8 x 8, got {(rows, cols)}")
    rng = np.random.default_rng(seed)
    if defects is None:
        planted = _scatter_defects(rng, (rows, cols), n_defects, min_spacing_px,
                                   0.5 * min_spacing_px)
    else:
        planted = list(defects)
    base = rng.uniform(0.0, math.pi) if base_angle is None else float(base_angle)
    margin = int(math.ceil(2.0 * fibre_length_px + 4.0 * fibre_width_px)) + 2
    rr, cc = np.mgrid[-margin : rows + margin, -margin : cols + margin].astype(np.float64)
    director = planted_director(rr, cc, planted, base)
    fibres = _streak_noise(rng.standard_normal(rr.shape), director, fibre_length_px)
    fibres = _gaussian_blur(fibres, fibre_width_px)
    crop = (slice(margin, margin + rows), slice(margin, margin + cols))
    image = fibres[crop]
    image = (image - image.mean()) / image.std()
    image = image + noise * rng.standard_normal(image.shape)
    return FibrousTexture(
        image=np.ascontiguousarray(image),
        director=np.mod(director[crop], math.pi),
        pixel_size_um=float(pixel_size_um),
        fibre_width_px=float(fibre_width_px),
        defects=planted_orientations(planted, base),
    )


def anisotropic_defect_tissue(
    shape: int = 160,
    *,
    epsilon: float,
    angle_rad: float = 0.0,
    pixel_size_um: float = 0.5,
    seed: int = 7,
) -> SyntheticTissue:
    """A tissue around one +1/2 defect at the image centre whose director follows the
    two-constant profile of splay–bend anisotropy ``epsilon`` = (K1 − K3)/(K1 + K3)
    (`tazmir.elasticity.splay_bend_profile`), comet tail along ``angle_rad``. No nuclei or
    outlines; the planted defect is the ground truth."""
    from .elasticity import splay_bend_profile

    rows = cols = int(shape)
    centre = (rows / 2, cols / 2)
    rng = np.random.default_rng(seed)
    half = _HALF_WINDOW
    canvas = rng.normal(0.0, _NOISE, (rows + 2 * half, cols + 2 * half))
    n_cells = max(1, int(rows * cols * _CELLS_PER_PIXEL))
    centres = rng.uniform(0.0, 1.0, (n_cells, 2)) * np.array([rows, cols], dtype=np.float64)
    phi = np.arctan2(centres[:, 0] - centre[0], centres[:, 1] - centre[1])
    _draw_cells(canvas, centres, splay_bend_profile(phi, epsilon, angle_rad))
    image = np.ascontiguousarray(canvas[half : half + rows, half : half + cols])
    planted = (PlantedDefect(centre[0], centre[1], 0.5, angle_rad % (2 * math.pi)),)
    return SyntheticTissue(image, np.zeros((rows, cols), np.int32), [], float(pixel_size_um),
                           planted)
