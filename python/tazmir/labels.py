"""Nuclei and cells from integer label images (0 = background), one table row per label.

Nuclear ellipses come from the core's moment fit of each nucleus label; cell outlines are
traced with sub-pixel marching squares (scikit-image's ``find_contours``) around each cell
label and measured by the core's shape descriptors in µm, (x, y) = (column, row). A label that
cannot be measured keeps its row, with empty values and the reason.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

import _native

from .angles import normal_to_director, row_axis_to_director

__all__ = [
    "CELL_COLUMNS",
    "NUCLEUS_COLUMNS",
    "as_labels",
    "cell_outlines",
    "measure_cells",
    "measure_contours",
    "measure_nuclei",
]

NUCLEUS_COLUMNS = (
    "label", "centroid_row_px", "centroid_col_px", "centroid_row_um", "centroid_col_um",
    "semi_major_um", "semi_minor_um", "orientation_rad", "aspect_ratio", "area_um2", "reason",
)
CELL_COLUMNS = (
    "label", "centroid_row_px", "centroid_col_px", "area_um2", "perimeter_um", "shape_index",
    "convexity", "elongation", "elongation_angle_rad", "katic_q1", "katic_q2", "katic_q4",
    "katic_q6", "touches_border", "reason",
)
# A moment fit or an outline needs a few pixels to tell two axes apart.
MIN_PIXELS = 5


def as_labels(labels: npt.ArrayLike, shape: tuple[int, ...], name: str) -> np.ndarray:
    """Validate an integer label image of the given shape; returns it as int32."""
    array = np.asarray(labels)
    if array.shape != shape:
        raise ValueError(f"{name} has shape {array.shape}, the image {shape}")
    if array.dtype.kind not in "iu":
        raise TypeError(f"{name} must hold integer labels, got dtype {array.dtype}")
    info = np.iinfo(np.int32)
    if array.size and (array.min() < 0 or array.max() > info.max):
        raise ValueError(f"{name} labels must be non-negative 32-bit integers")
    return np.ascontiguousarray(array, dtype=np.int32)


def _empty(label: int, columns: Sequence[str], reason: str, **known: Any) -> dict[str, Any]:
    row: dict[str, Any] = {c: None for c in columns}
    row.update(known, label=label, reason=reason)
    return row


def measure_nuclei(labels: np.ndarray, pixel_size_um: float,
                   ellipses: Optional[Sequence[dict[str, Any]]] = None) -> list[dict[str, Any]]:
    """One row per nucleus label: centroid, semi-axes, orientation (director convention:
    from the column axis towards the row axis, in [0, pi)), aspect ratio and area.
    ``ellipses``: `_native.fit_nuclear_ellipses` of ``labels`` when already at hand."""
    present, counts = np.unique(labels[labels > 0], return_counts=True)
    if ellipses is None:
        ellipses = _native.fit_nuclear_ellipses(labels)
    fits = {int(f["label"]): f for f in ellipses}
    rows = []
    for label, count in zip(present.tolist(), counts.tolist()):
        fit = fits.get(label)
        area = count * pixel_size_um**2
        if count < MIN_PIXELS or fit is None or not fit["semi_minor"] > 0.0:
            reason = (f"only {count} pixels" if count < MIN_PIXELS
                      else "too thin for an ellipse")
            rows.append(_empty(label, NUCLEUS_COLUMNS, reason, area_um2=area))
            continue
        rows.append({
            "label": label,
            "centroid_row_px": fit["centroid_row"],
            "centroid_col_px": fit["centroid_col"],
            "centroid_row_um": fit["centroid_row"] * pixel_size_um,
            "centroid_col_um": fit["centroid_col"] * pixel_size_um,
            "semi_major_um": fit["semi_major"] * pixel_size_um,
            "semi_minor_um": fit["semi_minor"] * pixel_size_um,
            "orientation_rad": float(row_axis_to_director(fit["angle"])),
            "aspect_ratio": fit["aspect_ratio"],
            "area_um2": area,
            "reason": None,
        })
    return rows


def cell_outlines(labels: np.ndarray) -> list[tuple[int, Optional[np.ndarray], bool, tuple, int]]:
    """Per label: its sub-pixel outline (x, y) = (column, row) in pixels (the longest closed
    contour of its padded mask at level 0.5; None where there is no area to trace), whether
    it touches the image border, its pixel centroid (row, col) and its number of pixels."""
    try:
        from skimage.measure import find_contours
    except ImportError:
        raise ImportError("cell labels need scikit-image: pip install 'tazmir[cli]'") from None
    present = np.unique(labels[labels > 0]).tolist()
    cols = labels.shape[1]
    border = np.zeros_like(labels, dtype=bool)
    border[[0, -1], :] = True
    border[:, [0, -1]] = True
    touching = set(np.unique(labels[border]).tolist())
    # One bounding box per label from the row/column extents.
    index = np.flatnonzero(labels)
    values = labels.ravel()[index]
    order = np.argsort(values, kind="stable")
    values, index = values[order], index[order]
    starts = np.searchsorted(values, present)
    ends = np.searchsorted(values, present, side="right")
    out = []
    for label, start, end in zip(present, starts, ends):
        r, c = np.divmod(index[start:end], cols)
        centroid = (float(r.mean()), float(c.mean()))
        r0, r1, c0, c1 = r.min(), r.max() + 1, c.min(), c.max() + 1
        window = np.pad((labels[r0:r1, c0:c1] == label).astype(np.float64), 1)
        contours = [k for k in find_contours(window, 0.5) if len(k) >= 4]
        outline = None
        if contours:
            longest = max(contours, key=len)[:-1]  # closed: the last point repeats the first
            outline = np.column_stack([longest[:, 1] + c0 - 1, longest[:, 0] + r0 - 1])
        out.append((label, outline, label in touching, centroid, end - start))
    return out


def _shape_row(label: int, shape: dict[str, Any], pixel_size_um: float) -> dict[str, Any]:
    katic = [float(v) for v in shape["shape_katic"]]
    return {
        "label": label,
        "area_um2": shape["area"],
        "perimeter_um": shape["perimeter"],
        "shape_index": shape["shape_index"],
        "convexity": shape["convexity"],
        "elongation": shape["elongation"],
        "elongation_angle_rad": float(normal_to_director(shape["elongation_angle"])),
        "katic_q1": katic[0], "katic_q2": katic[1], "katic_q4": katic[2], "katic_q6": katic[3],
        "reason": None,
    }


def _measure_one(outline: np.ndarray) -> Optional[dict[str, Any]]:
    try:
        shape = _native.analyze_shape(outline)
    except (ValueError, _native.PanicException):
        return None
    return shape if shape["area"] > 0.0 and math.isfinite(shape["shape_index"]) else None


def measure_cells(
    labels: np.ndarray, pixel_size_um: float
) -> tuple[list[dict[str, Any]], list[dict[str, Any]]]:
    """One row per cell label: area, perimeter, shape index, convexity, elongation and its
    long-axis angle (director convention), k-atic amplitudes, whether it touches the border;
    and the core's shape dicts of the measured labels."""
    rows, shapes = [], []
    for label, outline, touches, centroid, count in cell_outlines(labels):
        shape = None
        if count >= MIN_PIXELS and outline is not None and len(outline) >= 3:
            shape = _measure_one(outline * pixel_size_um)
        if shape is None:
            reason = f"only {count} pixels" if count < MIN_PIXELS else "too thin to outline"
            row = _empty(label, CELL_COLUMNS, reason, touches_border=touches)
        else:
            shapes.append(shape)
            row = _shape_row(label, shape, pixel_size_um)
            row["touches_border"] = touches
        row["centroid_row_px"], row["centroid_col_px"] = centroid
        rows.append({c: row.get(c) for c in CELL_COLUMNS})
    return rows, shapes


def measure_contours(shapes: Sequence[dict[str, Any]], contours: Sequence[np.ndarray],
                     pixel_size_um: float) -> list[dict[str, Any]]:
    """Rows for outlines given as contours (in µm), numbered from 1 in the given order."""
    rows = []
    for number, (shape, contour) in enumerate(zip(shapes, contours), start=1):
        row = _shape_row(number, shape, pixel_size_um)
        x, y = (np.asarray(contour, dtype=np.float64) / pixel_size_um).T
        # Area centroid of the polygon (shoelace), not the mean of its vertices.
        cross = x * np.roll(y, -1) - np.roll(x, -1) * y
        six_area = 3.0 * cross.sum()
        row["centroid_col_px"] = float(((x + np.roll(x, -1)) * cross).sum() / six_area)
        row["centroid_row_px"] = float(((y + np.roll(y, -1)) * cross).sum() / six_area)
        rows.append({c: row.get(c) for c in CELL_COLUMNS})
    return rows
