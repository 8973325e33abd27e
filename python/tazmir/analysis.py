"""`analyze_image`: the typical analysis chain from an image to the downstream parameter set."""

from __future__ import annotations

import math
import operator
import threading
from collections.abc import Callable, Sequence
from concurrent.futures import Future
from dataclasses import replace
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

import _native

from . import _heap, labels
from ._guard import allocation_failures_as_memory_error, check_fits
from .correlation import Correlation, director_correlation
from .defects import find_defects, smooth_blocks, valid_region
from .elasticity import defect_anisotropy
from .energy import core_mask, frank_densities
from .grid import DirectorGrid, grid_to_pixels
from .result import Defect, ImageAnalysis
from .scales import choose_scales
from .spatial import RipleyResult, ripley
from .tensor import WHOLE_PIXELS, structure_tensor

__all__ = ["analyze_image"]

# Any threshold between about 1e-7 and just below pi separates defect plaquettes (holonomy
# angle near pi) from defect-free ones (near 0); the middle is farthest from both.
DEFECT_THRESHOLD = 0.5 * math.pi
# CSR patterns for the envelope of Ripley's L − r, from a fixed seed (reproducible files).
RIPLEY_SIMULATIONS = 99
RIPLEY_SEED = 0
# A director field, its defects and its correlations need a few cores of texture.
MIN_IMAGE_SIDE = 16


def _positive(name: str, value: float, *, allow_zero: bool = False) -> float:
    number = float(value)
    if not math.isfinite(number) or number < 0.0 or (number == 0.0 and not allow_zero):
        kind = "non-negative" if allow_zero else "positive"
        raise ValueError(f"{name} must be a {kind} finite number, got {value!r}")
    return number


def _count(name: str, value: int) -> int:
    number = operator.index(value)
    if number < 1:
        raise ValueError(f"{name} must be at least 1, got {number}")
    return number


def _as_image(image: npt.ArrayLike) -> np.ndarray:
    array = np.asarray(image)
    if array.ndim != 2:
        raise ValueError(f"image must be a 2-D array, got shape {array.shape}")
    if array.dtype.kind not in "biuf":
        raise TypeError(f"image must hold real numbers, got dtype {array.dtype}")
    if array.dtype.kind == "b":
        return np.asarray(array, dtype=np.float64)
    # Integer and single-precision images stay as they are: the structure tensor converts
    # them strip by strip, so a 16-bit image never exists as float64 in full.
    if array.dtype.kind == "f" and not np.isfinite(array).all():
        raise ValueError("image contains NaN or infinite values")
    return array


def _as_region(mask: npt.ArrayLike, shape: tuple[int, ...]) -> np.ndarray:
    """The analysed region from a binary or label image: non-zero pixels are analysed."""
    array = np.asarray(mask)
    if array.shape != shape:
        raise ValueError(f"mask has shape {array.shape}, the image {shape}")
    if array.dtype.kind not in "biuf":
        raise TypeError(f"mask must be a binary or label image, got dtype {array.dtype}")
    if array.dtype.kind == "f" and not np.isfinite(array).all():
        raise ValueError("mask contains NaN or infinite values")
    return np.ascontiguousarray(array != 0, dtype=np.uint8)


def _scale(name: str, value: Any, *, integer: bool = False, allow_zero: bool = False) -> Any:
    """"auto", or a positive number (a whole one for ``integer``)."""
    if isinstance(value, str):
        if value != "auto":
            raise ValueError(f'{name} must be "auto" or a positive number, got {value!r}')
        return value
    if integer:
        return _count(name, value)
    return _positive(name, value, allow_zero=allow_zero)


def _as_contours(contours: Sequence[npt.ArrayLike]) -> list[np.ndarray]:
    arrays = []
    for index, contour in enumerate(contours):
        array = np.asarray(contour, dtype=np.float64)
        if array.ndim != 2 or array.shape[1] != 2 or array.shape[0] < 3:
            raise ValueError(
                f"contour {index} must be an N x 2 array of at least 3 (x, y) points, "
                f"got shape {array.shape}"
            )
        if not np.isfinite(array).all():
            raise ValueError(f"contour {index} contains NaN or infinite coordinates")
        arrays.append(array)
    return arrays


def _defects(
    coarse: Any, valid: np.ndarray, k: int, core_radius_px: float, pixel_size_um: float
) -> tuple[Defect, ...]:
    if k == 2:
        found = [
            (d.row, d.col, d.charge, d.angle, d.order, d.confidence)
            for d in find_defects(coarse, core_radius_px, valid)
        ]
    else:
        found = _katic_defects(coarse, valid, k)
    defects = [
        Defect(row_px=row, col_px=col, row_um=row * pixel_size_um, col_um=col * pixel_size_um,
               charge=charge, angle_rad=angle, order=order, confidence=confidence)
        for row, col, charge, angle, order, confidence in found
    ]
    return tuple(sorted(defects, key=lambda d: (d.row_px, d.col_px)))


def _katic_defects(coarse: Any, valid: np.ndarray, k: int) -> list[tuple]:
    """Defects of charge +-1/k of a k-atic reading of the coarse director (k = 4, 6, ...):
    plaquettes of valid points around which k θ winds by +-2π; no orientation."""
    rows, cols = coarse.q1.shape
    # The topology path reads point (i, j) at i*ny + j with i the row: pass (rows, cols).
    hits = _native.detect_defects(
        np.ascontiguousarray(coarse.director).ravel(), rows, cols, k, DEFECT_THRESHOLD
    )
    order = coarse.order
    found = []
    for item in hits:
        i, j = (int(math.floor(v)) for v in item["position"])
        if not (valid[i:i + 2, j:j + 2].all()):
            continue
        row, col = (float(v) for v in grid_to_pixels(item["position"], coarse.step))
        found.append((row, col, item["charge"], math.nan,
                      float(order[i:i + 2, j:j + 2].mean()), math.nan))
    return found


# Rings for the splay–bend anisotropy of a +1/2 defect: from two to six core radii, where the
# director follows the one-angle profile and a core position a few pixels off matters little.
ANISOTROPY_RADII = (2.0, 6.0)
N_ANISOTROPY_RINGS = 4


def _with_anisotropy(defects: tuple[Defect, ...], theta: np.ndarray, weight: np.ndarray,
                     core_radius_px: float) -> tuple[Defect, ...]:
    """Each +1/2 defect with ε fitted on rings that stay inside the image and closer to it
    than to any other defect."""
    out = []
    rows, cols = theta.shape
    for d in defects:
        if d.charge != 0.5 or not math.isfinite(d.angle_rad):
            out.append(d)
            continue
        r_in = ANISOTROPY_RADII[0] * core_radius_px
        r_out = min(ANISOTROPY_RADII[1] * core_radius_px, d.row_px, d.col_px,
                    rows - 1 - d.row_px, cols - 1 - d.col_px)
        others = [math.hypot(o.row_px - d.row_px, o.col_px - d.col_px)
                  for o in defects if o is not d]
        if others:
            r_out = min(r_out, 0.5 * min(others))
        if r_out < r_in + N_ANISOTROPY_RINGS:
            out.append(d)
            continue
        fit = defect_anisotropy(theta, weight, d.row_px, d.col_px, d.angle_rad,
                                np.linspace(r_in, r_out, N_ANISOTROPY_RINGS + 1))
        if math.isfinite(fit.epsilon) and math.isfinite(fit.epsilon_err):
            d = replace(d, anisotropy=fit.epsilon, anisotropy_err=fit.epsilon_err)
        out.append(d)
    return tuple(out)


def _ldg_length_px(correlation: Correlation, pixel_size_um: float) -> float:
    """The correlation length handed to the Landau–de Gennes estimate, in pixels: the fitted
    decay length when the fit describes G_k, else the distance where G_k falls below 1/e,
    else infinity (no decay within the measured range: long-range order)."""
    if correlation.fit_ok:
        return correlation.length_um / pixel_size_um
    if math.isfinite(correlation.length_1e_um):
        return correlation.length_1e_um / pixel_size_um
    return math.inf


def _nuclei(mask: np.ndarray, pixel_size_um: float) -> tuple[list[dict[str, float]], RipleyResult]:
    nuclei = _native.fit_nuclear_ellipses(mask)
    points = np.array(
        [[n["centroid_col"], n["centroid_row"]] for n in nuclei], dtype=np.float64
    ).reshape(-1, 2) * pixel_size_um
    rows, cols = mask.shape
    window = (-0.5 * pixel_size_um, -0.5 * pixel_size_um,
              (cols - 0.5) * pixel_size_um, (rows - 0.5) * pixel_size_um)
    return nuclei, ripley(points, window, n_simulations=RIPLEY_SIMULATIONS, seed=RIPLEY_SEED)


def _shapes(contours: list[np.ndarray]) -> list[dict[str, Any]]:
    try:
        return _native.analyze_shapes_batch(contours)
    except _native.PanicException:
        # Only an outline whose points all lie on one line (no convex hull) fails here.
        for index, contour in enumerate(contours):
            try:
                _native.analyze_shape(contour)
            except _native.PanicException:
                raise ValueError(
                    f"contour {index} cannot be measured: its points all lie on one line"
                ) from None
        raise


def _beside(function: Callable[..., Any], *args: Any) -> Future:
    """``function(*args)`` run in a thread of its own: the steps around the structure tensor
    run on one processor and leave the others idle. Its exception, if any, is raised again
    by ``result()`` in the caller's thread."""
    future: Future = Future()

    def run() -> None:
        try:
            future.set_result(function(*args))
        except BaseException as exc:
            future.set_exception(exc)

    threading.Thread(target=run, daemon=True).start()
    return future


def _float32_maps(theta: np.ndarray, coherence: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    return theta.astype(np.float32), coherence.astype(np.float32)


@allocation_failures_as_memory_error
def analyze_image(
    image: npt.ArrayLike,
    *,
    pixel_size_um: float,
    sigma: float | str = "auto",
    grid_step: int | str = "auto",
    core_radius: float | str = "auto",
    k: int = 2,
    mask: Optional[npt.ArrayLike] = None,
    nuclear_mask: Optional[npt.ArrayLike] = None,
    contours: Optional[Sequence[npt.ArrayLike]] = None,
    nuclei: Optional[npt.ArrayLike] = None,
    cells: Optional[npt.ArrayLike] = None,
) -> ImageAnalysis:
    """Run the whole analysis of one grey-level image.

    The structure tensor at scale ``sigma`` (pixels) gives the orientation field. Its
    coherence-weighted nematic tensor is averaged over blocks of ``grid_step`` pixels and
    smoothed with a Gaussian of ``core_radius`` pixels (the defect-core scale) into the
    coarse director grid with its local order S. Points where no director is defined (low
    order, no texture, outside ``mask``, within a core radius of the border or the mask's
    edge) are left out. On the rest the chain finds the +-1/2 defects with their positions,
    orientations and confidence, checks their charges (Poincaré–Hopf), measures G_k(r) and
    its correlation length, estimates the Landau–de Gennes coefficients from S and the Frank
    energies, and builds the fenwold parameter set.

    ``sigma``, ``grid_step`` and ``core_radius`` default to "auto": sigma follows the
    fibre width read from the image's power spectrum, the core radius a fifth of the
    director's correlation length (at least 2.5 sigma) and the grid step about a third of
    the core radius; the chosen values are in ``result.scales``. ``mask`` (a binary or label
    image of the image's shape, non-zero = analysed) restricts the analysis.
    ``nuclear_mask`` (integer labels, 0 = background) adds nuclear ellipses and Ripley's K
    of their centroids; ``contours`` (N x 2 arrays of (x, y) = (column, row) in µm) add
    cell-shape descriptors. ``k`` is the k-atic order of the defects and of G_k; the
    structure tensor measures axes, so it must be even; orientations are given for k = 2.

    ``nuclei`` and ``cells`` are integer label images of the image's shape (0 = background,
    as segmentation tools write them): nucleus labels give the nuclear ellipses (and replace
    ``nuclear_mask``), cell labels are outlined with sub-pixel contours (this needs
    scikit-image) and replace ``contours``. Each label gets a row of ``nuclei_frame()`` or
    ``cells_frame()``, with the reason when it is too small or thin to measure.

    Raises ValueError or TypeError for unusable input (a non-2-D or non-finite image, an
    image smaller than one block, a non-positive pixel size or scale, a mask of another
    shape, a degenerate contour), and MemoryError for an image or a scale too large for the
    machine's memory.
    """
    pixels = _as_image(image)
    _heap.suit(pixels.size)
    pixel_size_um = _positive("pixel_size_um", pixel_size_um)
    sigma = _scale("sigma", sigma, allow_zero=True)
    grid_step = _scale("grid_step", grid_step, integer=True)
    core_radius = _scale("core_radius", core_radius)
    k = _count("k", k)
    if k % 2:
        # A structure-tensor axis and its turn by pi are one angle; only an even order sees
        # them as the same k-atic director.
        raise ValueError(f"k must be even for an orientation field of axes, got {k}")
    if min(pixels.shape) < MIN_IMAGE_SIDE:
        raise ValueError(
            f"image of shape {pixels.shape} is smaller than the {MIN_IMAGE_SIDE} x "
            f"{MIN_IMAGE_SIDE} pixels the analysis needs"
        )
    if grid_step != "auto" and (pixels.shape[0] < grid_step or pixels.shape[1] < grid_step):
        raise ValueError(
            f"image of shape {pixels.shape} holds no whole {grid_step} x {grid_step} block"
        )
    check_fits(pixels.shape, sigma)
    region = None if mask is None else _as_region(mask, pixels.shape)
    if nuclei is not None:
        nuclear_mask = labels.as_labels(nuclei, pixels.shape, "nuclei")
    nucleus_labels = (
        None if nuclear_mask is None
        else labels.as_labels(nuclear_mask, pixels.shape, "nuclear_mask")
    )
    outlines = None if contours is None else _as_contours(contours)
    cell_labels = None if cells is None else labels.as_labels(cells, pixels.shape, "cells")

    # An image analysed whole is converted to float64 while its fibre width is measured,
    # and its float32 display maps while the defects are found. Larger images convert in
    # strips, and each map as its float64 original is let go, to bound the peak memory.
    whole = pixels.size <= WHOLE_PIXELS
    as_float = (_beside(np.ascontiguousarray, pixels, np.float64)
                if whole and sigma == "auto" and pixels.dtype != np.float64 else None)
    scales, field, blocks = choose_scales(
        pixels, sigma, core_radius, grid_step,
        lambda s: structure_tensor(pixels if as_float is None else as_float.result(), s),
        region,
    )
    as_float = None  # the float64 copy of the image is let go
    display = _beside(_float32_maps, field["theta"], field["coherence"]) if whole else None
    step = scales.grid_step
    coarse = smooth_blocks(blocks, step, scales.core_radius_px)
    valid = valid_region(coarse, scales.core_radius_px / step)
    grid = DirectorGrid(coarse.director, coarse.order, coarse.weight, step, valid)
    defects = _defects(coarse, valid, k, scales.core_radius_px, pixel_size_um)
    check = _native.validate_poincare_hopf([d.charge for d in defects], 0, 0.5 / k)
    if k == 2:
        weight = field["coherence"] if region is None else field["coherence"] * region
        defects = _with_anisotropy(defects, field["theta"], weight, scales.core_radius_px)
    spacing_um = step * pixel_size_um
    correlation = director_correlation(grid.director, valid, spacing_um=spacing_um, k=k)
    ldg = _native.estimate_ldg_params(
        grid.order[valid], _ldg_length_px(correlation, pixel_size_um), pixel_size_um
    )
    cores = core_mask(grid.shape, [(d.row, d.col) for d in defects], scales.core_radius_px,
                      step)
    energy = frank_densities(grid.director, valid, spacing_um=spacing_um, exclude=cores)
    area_um2 = float(valid.sum()) * spacing_um**2
    params = _native.build_fenwold_params(
        ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], energy.splay, energy.bend,
        len(defects), area_um2,
    )
    text = params.pop("json")
    nuclei, pattern = (
        (None, None) if nucleus_labels is None else _nuclei(nucleus_labels, pixel_size_um)
    )
    shapes = None if outlines is None else _shapes(outlines)
    nucleus_table = (
        None if nucleus_labels is None
        else labels.measure_nuclei(nucleus_labels, pixel_size_um, ellipses=nuclei)
    )
    cell_table = None
    if cell_labels is not None:
        cell_table, shapes = labels.measure_cells(cell_labels, pixel_size_um)
    elif outlines is not None and shapes is not None:
        cell_table = labels.measure_contours(shapes, outlines, pixel_size_um)
    if display is None:
        theta = field.pop("theta").astype(np.float32)
        coherence = field.pop("coherence").astype(np.float32)
    else:
        field.clear()
        theta, coherence = display.result()
    return ImageAnalysis(
        image_shape=(int(pixels.shape[0]), int(pixels.shape[1])),
        pixel_size_um=pixel_size_um,
        sigma=scales.sigma,
        grid_step=step,
        k=k,
        theta=theta,
        coherence=coherence,
        grid=grid,
        defects=defects,
        poincare_hopf=check,
        correlation=correlation,
        ldg=ldg,
        energy=energy,
        analysed_area_um2=area_um2,
        fenwold=params,
        fenwold_json=text,
        nuclei=nuclei,
        ripley=pattern,
        shapes=shapes,
        nucleus_table=nucleus_table,
        cell_table=cell_table,
        scales=scales,
    )
