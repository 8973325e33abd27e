"""`analyze_image`: the typical analysis chain from an image to the downstream parameter set."""

from __future__ import annotations

import math
import operator
from collections.abc import Sequence
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

import _native

from . import labels
from .correlation import Correlation, director_correlation
from .energy import core_mask, frank_densities
from .grid import DirectorGrid, block_director, grid_to_pixels
from .result import Defect, ImageAnalysis
from .spatial import RipleyResult, ripley

__all__ = ["analyze_image"]

# Any threshold between about 1e-7 and just below pi separates defect plaquettes (holonomy
# angle near pi) from defect-free ones (near 0); the middle is farthest from both.
DEFECT_THRESHOLD = 0.5 * math.pi
# CSR patterns for the envelope of Ripley's L − r, from a fixed seed (reproducible files).
RIPLEY_SIMULATIONS = 99
RIPLEY_SEED = 0
# Frank energies diverge at defect cores: discs of this many grid spacings are left out.
CORE_RADIUS_STEPS = 2.0


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
    array = np.asarray(array, dtype=np.float64)
    if not np.isfinite(array).all():
        raise ValueError("image contains NaN or infinite values")
    return array


def _as_mask(mask: npt.ArrayLike, shape: tuple[int, ...]) -> np.ndarray:
    array = np.asarray(mask)
    if array.shape != shape:
        raise ValueError(f"nuclear_mask has shape {array.shape}, the image {shape}")
    if array.dtype.kind not in "iu":
        raise TypeError(f"nuclear_mask must hold integer labels, got dtype {array.dtype}")
    info = np.iinfo(np.int32)
    if array.size and (array.min() < info.min or array.max() > info.max):
        raise ValueError("nuclear_mask labels must fit in 32-bit signed integers")
    return np.asarray(array, dtype=np.int32)


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


def _defects(grid: DirectorGrid, k: int, pixel_size_um: float) -> tuple[Defect, ...]:
    rows, cols = grid.shape
    # The topology path reads point (i, j) at i*ny + j with i the row: pass (rows, cols).
    found = _native.detect_defects(grid.director.ravel(), rows, cols, k, DEFECT_THRESHOLD)
    defects = []
    for item in found:
        row, col = (float(v) for v in grid_to_pixels(item["position"], grid.step))
        defects.append(
            Defect(
                charge=item["charge"],
                row=row,
                col=col,
                row_um=row * pixel_size_um,
                col_um=col * pixel_size_um,
                grid_position=(item["position"][0], item["position"][1]),
                holonomy_angle=item["angle"],
            )
        )
    return tuple(defects)


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


def analyze_image(
    image: npt.ArrayLike,
    *,
    pixel_size_um: float,
    sigma: float = 2.0,
    grid_step: int = 8,
    k: int = 2,
    nuclear_mask: Optional[npt.ArrayLike] = None,
    contours: Optional[Sequence[npt.ArrayLike]] = None,
    nuclei: Optional[npt.ArrayLike] = None,
    cells: Optional[npt.ArrayLike] = None,
) -> ImageAnalysis:
    """Run the whole analysis of one grey-level image.

    The structure tensor at scale ``sigma`` (pixels) gives the orientation field; blocks of
    ``grid_step`` pixels average its coherence-weighted nematic tensor into a coarse
    director grid with a block order parameter S. On that grid the chain finds the
    k-atic defects, checks their charges (Poincaré–Hopf), measures G_k(r) and its
    correlation length, estimates the Landau–de Gennes coefficients from S and the Frank
    energies, and builds the fenwold parameter set. ``nuclear_mask`` (integer labels, the
    image's shape, 0 = background) adds nuclear ellipses and Ripley's K of their centroids;
    ``contours`` (N x 2 arrays of (x, y) = (column, row) in µm) add cell-shape descriptors.
    ``k`` is the k-atic order of the defects and of G_k; the structure tensor measures axes,
    so it must be even (a higher order needs blocks whose directors turn by less than
    pi / (2k) between neighbours, or the lift to the k-atic angle invents defects).

    ``nuclei`` and ``cells`` are integer label images of the image's shape (0 = background,
    as segmentation tools write them): nucleus labels give the nuclear ellipses (and replace
    ``nuclear_mask``), cell labels are outlined with sub-pixel contours (this needs
    scikit-image) and replace ``contours``. Each label gets a row of ``nuclei_frame()`` or
    ``cells_frame()``, with the reason when it is too small or thin to measure.

    Raises ValueError or TypeError for unusable input (a non-2-D or non-finite image, an
    image smaller than one block, a non-positive pixel size, a degenerate contour).
    """
    pixels = _as_image(image)
    pixel_size_um = _positive("pixel_size_um", pixel_size_um)
    sigma = _positive("sigma", sigma, allow_zero=True)
    grid_step = _count("grid_step", grid_step)
    k = _count("k", k)
    if k % 2:
        # A structure-tensor axis and its turn by pi are one angle; only an even order sees
        # them as the same k-atic director.
        raise ValueError(f"k must be even for an orientation field of axes, got {k}")
    if pixels.shape[0] < grid_step or pixels.shape[1] < grid_step:
        raise ValueError(
            f"image of shape {pixels.shape} holds no whole {grid_step} x {grid_step} block"
        )
    if nuclei is not None:
        nuclear_mask = labels.as_labels(nuclei, pixels.shape, "nuclei")
    mask = None if nuclear_mask is None else _as_mask(nuclear_mask, pixels.shape)
    outlines = None if contours is None else _as_contours(contours)
    cell_labels = None if cells is None else labels.as_labels(cells, pixels.shape, "cells")

    field = _native.compute_structure_tensor(pixels, sigma)
    grid = block_director(field["theta"], field["coherence"], grid_step)
    rows, cols = grid.shape
    defects = _defects(grid, k, pixel_size_um)
    check = _native.validate_poincare_hopf([d.charge for d in defects], 0, 0.5 / k)
    spacing_um = grid_step * pixel_size_um
    valid = np.ones(grid.shape, bool)
    correlation = director_correlation(grid.director, valid, spacing_um=spacing_um, k=k)
    ldg = _native.estimate_ldg_params(
        grid.order[valid], _ldg_length_px(correlation, pixel_size_um), pixel_size_um
    )
    core_radius_px = CORE_RADIUS_STEPS * grid_step
    cores = core_mask(grid.shape, [(d.row, d.col) for d in defects], core_radius_px, grid_step)
    energy = frank_densities(grid.director, valid, spacing_um=spacing_um, exclude=cores)
    area_um2 = float(valid.sum()) * spacing_um**2
    params = _native.build_fenwold_params(
        ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], energy.splay, energy.bend,
        len(defects), area_um2,
    )
    text = params.pop("json")
    nuclei, pattern = (None, None) if mask is None else _nuclei(mask, pixel_size_um)
    shapes = None if outlines is None else _shapes(outlines)
    nucleus_table = None if mask is None else labels.measure_nuclei(mask, pixel_size_um)
    cell_table = None
    if cell_labels is not None:
        cell_table, shapes = labels.measure_cells(cell_labels, pixel_size_um)
    elif outlines is not None and shapes is not None:
        cell_table = labels.measure_contours(shapes, outlines, pixel_size_um)
    return ImageAnalysis(
        image_shape=(int(pixels.shape[0]), int(pixels.shape[1])),
        pixel_size_um=pixel_size_um,
        sigma=sigma,
        grid_step=grid_step,
        k=k,
        theta=field["theta"],
        coherence=field["coherence"],
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
    )
