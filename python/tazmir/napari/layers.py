"""napari layer data of an analysis, as (data, keywords, layer type) tuples.

NumPy and pandas only, no napari and no Qt: the widget, the reader and tests without a display
share these builders. Coordinates are pixels, (row, col) or (frame, row, col) for stacks; the
caller passes the image layer's ``scale`` and ``translate`` so every layer overlays the image.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any, Optional

import numpy as np

from ..grid import grid_to_pixels
from ._compat import defect_table, frames_of, nucleus_table

__all__ = [
    "LayerData",
    "analysis_layers",
    "coherence_layer",
    "defect_layers",
    "director_layer",
    "nuclei_layer",
]

LayerData = tuple[Any, dict[str, Any], str]

PLUS_COLOR = "#ff6a00"
MINUS_COLOR = "#00a2ff"
PLUS_SYMBOL = "disc"
MINUS_SYMBOL = "triangle_up"  # three arms
SEGMENT_FRACTION = 0.8  # director segments nearly touch from block to block


def _unit(theta: np.ndarray) -> np.ndarray:
    """(row, col) unit vectors of director-convention angles."""
    return np.stack([np.sin(theta), np.cos(theta)], axis=-1)


def _with_frame(coords: np.ndarray, frame: Optional[int]) -> np.ndarray:
    if frame is None:
        return coords
    column = np.full(coords.shape[:-1] + (1,), float(frame))
    return np.concatenate([column, coords], axis=-1)


def _common(name: str, kind: str, scale: Sequence[float], translate: Sequence[float]) -> dict:
    return {
        "name": name,
        "scale": tuple(scale),
        "translate": tuple(translate),
        "metadata": {"tazmir": kind},
    }


def director_layer(
    directors: Sequence[np.ndarray],
    orders: Sequence[np.ndarray],
    step: int,
    *,
    frames: Optional[Sequence[int]],
    name: str,
    scale: Sequence[float],
    translate: Sequence[float],
) -> LayerData:
    """Undirected segments centred on the block centres, coloured by the block order S.

    ``directors``/``orders`` hold one grid per frame; ``frames`` their frame numbers (None
    for a single 2-D image).
    """
    length = SEGMENT_FRACTION * step
    vectors, order = [], []
    for index, (director, s) in enumerate(zip(directors, orders)):
        rows, cols = director.shape
        r, c = np.meshgrid(np.arange(rows), np.arange(cols), indexing="ij")
        centres = grid_to_pixels(np.stack([r, c], axis=-1), step).reshape(-1, 2)
        along = length * _unit(np.asarray(director, dtype=np.float64).reshape(-1))
        frame = None if frames is None else frames[index]
        start = _with_frame(centres - 0.5 * along, frame)
        span = _with_frame(along, None if frame is None else 0)
        vectors.append(np.stack([start, span], axis=1))
        order.append(np.asarray(s, dtype=np.float64).reshape(-1))
    ndim = 2 if frames is None else 3
    data = np.concatenate(vectors) if vectors else np.zeros((0, 2, ndim))
    keywords = _common(name, "director", scale, translate)
    keywords.update(
        features={"order": np.concatenate(order) if order else np.zeros(0)},
        edge_color="order",
        edge_colormap="viridis",
        edge_contrast_limits=(0.0, 1.0),
        edge_width=0.3 * step,
        vector_style="line",
        length=1.0,
    )
    return data, keywords, "vectors"


def coherence_layer(
    coherence: np.ndarray, *, name: str, scale: Sequence[float], translate: Sequence[float]
) -> LayerData:
    """The coherence of the structure tensor, one value per pixel, in [0, 1]."""
    keywords = _common(name, "coherence", scale, translate)
    keywords.update(colormap="magma", contrast_limits=(0.0, 1.0), opacity=0.6,
                    blending="translucent", visible=False)
    return np.asarray(coherence, dtype=np.float32), keywords, "image"


def _arm_vectors(table: Any, arm_px: float, stacked: bool) -> tuple[np.ndarray, np.ndarray]:
    """One segment from each +1/2 core along its tail, three from each -1/2 core."""
    starts, spans, charges = [], [], []
    for defect in table.itertuples(index=False):
        if not math.isfinite(defect.angle_rad):
            continue
        n_arms = 1 if defect.charge > 0 else 3
        angles = defect.angle_rad + 2.0 * math.pi / 3.0 * np.arange(n_arms)
        span = arm_px * _unit(angles)
        start = np.tile([defect.row_px, defect.col_px], (n_arms, 1))
        frame = int(defect.frame) if stacked else None
        starts.append(_with_frame(start, frame))
        spans.append(_with_frame(span, 0 if stacked else None))
        charges.append(np.full(n_arms, float(defect.charge)))
    ndim = 3 if stacked else 2
    if not starts:
        return np.zeros((0, 2, ndim)), np.zeros(0)
    data = np.stack([np.concatenate(starts), np.concatenate(spans)], axis=1)
    return data, np.concatenate(charges)


def marker_size_px(step: int, core_radius_px: Optional[float]) -> float:
    """Defect markers about as wide as the core the defect was measured on."""
    if core_radius_px is not None and math.isfinite(core_radius_px) and core_radius_px > 0:
        return max(6.0, float(core_radius_px))
    return max(6.0, 2.0 * step)


def defect_layers(
    table: Any,
    step: int,
    *,
    core_radius_px: Optional[float] = None,
    stacked: bool,
    name: str,
    scale: Sequence[float],
    translate: Sequence[float],
) -> list[LayerData]:
    """Points at the cores (charge and the measured values as features), segments along the
    cores' axes where the analysis measured them, and trajectories where it linked them."""
    positive = table["charge"].to_numpy() > 0
    coords = table[["row_px", "col_px"]].to_numpy(dtype=np.float64).reshape(-1, 2)
    if stacked:
        coords = np.column_stack([table["frame"].to_numpy(dtype=np.float64), coords])
    features = table.drop(columns=["row_px", "col_px"]).reset_index(drop=True)
    points = _common(f"{name} defects", "defects", scale, translate)
    points.update(
        ndim=3 if stacked else 2,
        features=features,
        face_color=np.where(positive[:, None], _rgba(PLUS_COLOR), _rgba(MINUS_COLOR)).reshape(-1, 4),
        border_color="white",
        border_width=0.1,
        symbol=np.where(positive, PLUS_SYMBOL, MINUS_SYMBOL).tolist(),
        size=marker_size_px(step, core_radius_px),
    )
    layers: list[LayerData] = [(coords, points, "points")]
    size = marker_size_px(step, core_radius_px)
    arms, charges = _arm_vectors(table, 2.0 * size, stacked)
    if len(arms):
        layers.append(_axes_layer(arms, charges, size, name, scale, translate))
    tracked = table[table["track"].notna()] if stacked else table.iloc[:0]
    if len(tracked):
        tracked = tracked.sort_values(["track", "frame"])
        data = tracked[["track", "frame", "row_px", "col_px"]].to_numpy(dtype=np.float64)
        tracks = _common(f"{name} tracks", "tracks", scale, translate)
        tracks.update(features={"charge": tracked["charge"].to_numpy()}, tail_width=2,
                      tail_length=30, color_by="charge", colormap="turbo")
        layers.append((data, tracks, "tracks"))
    return layers


def _axes_layer(
    arms: np.ndarray, charges: np.ndarray, size: float, name: str, scale: Sequence[float],
    translate: Sequence[float],
) -> LayerData:
    axes = _common(f"{name} defect axes", "defect_axes", scale, translate)
    axes.update(
        features={"charge": charges},
        edge_color=np.where(charges[:, None] > 0, _rgba(PLUS_COLOR), _rgba(MINUS_COLOR)).reshape(-1, 4),
        edge_width=0.2 * size,
        vector_style="line",
        length=1.0,
    )
    return arms, axes, "vectors"


def _rgba(color: str) -> np.ndarray:
    value = int(color.lstrip("#"), 16)
    return np.array([(value >> 16) / 255, ((value >> 8) & 255) / 255, (value & 255) / 255, 1.0])


def nuclei_layer(
    table: Any,
    *,
    stacked: bool,
    name: str,
    scale: Sequence[float],
    translate: Sequence[float],
) -> LayerData:
    """Fitted nuclear ellipses as napari ellipses (the corners of their bounding boxes), from
    a table with centroids and semi-axes in pixels and the long-axis angle (director
    convention), as `nucleus_table` gives it."""
    centre = table[["centroid_row_px", "centroid_col_px"]].to_numpy(dtype=np.float64)
    theta = table["orientation_rad"].to_numpy(dtype=np.float64)
    major = table["semi_major_px"].to_numpy(dtype=np.float64)[:, None] * _unit(theta)
    minor = table["semi_minor_px"].to_numpy(dtype=np.float64)[:, None] * _unit(theta + 0.5 * math.pi)
    boxes = np.stack([centre + major + minor, centre + major - minor,
                      centre - major - minor, centre - major + minor], axis=1)
    if stacked:
        frames = np.broadcast_to(table["frame"].to_numpy(dtype=np.float64)[:, None, None],
                                 (len(boxes), 4, 1))
        boxes = np.concatenate([frames, boxes], axis=-1)
    with np.errstate(divide="ignore"):
        aspect = table["semi_major_px"].to_numpy(dtype=np.float64) / table["semi_minor_px"].to_numpy(dtype=np.float64)
    keywords = _common(f"{name} nuclei", "nuclei", scale, translate)
    keywords.update(
        ndim=3 if stacked else 2,
        shape_type="ellipse",
        features={"aspect_ratio": aspect},
        edge_color="#ffe000",
        edge_width=0.5,
        face_color="transparent",
    )
    return list(boxes), keywords, "shapes"


def analysis_layers(
    result: Any,
    *,
    name: str,
    scale: Sequence[float],
    translate: Optional[Sequence[float]] = None,
    frame: Optional[int] = None,
) -> list[LayerData]:
    """Every layer of an analysis: director, coherence, defects (with axes and tracks) and
    nuclear ellipses when nuclei were fitted.

    A movie analysis (one with ``frames``) gives stacked layers, as does a single image
    analysed on ``frame`` of a stack. ``scale``/``translate`` are the image layer's, one
    value per axis of the layers made.
    """
    frames = frames_of(result)
    is_movie = hasattr(result, "frames")
    stacked = is_movie or frame is not None
    numbers = None
    if stacked:
        numbers = list(range(len(frames))) if is_movie else [int(frame or 0)]
    translate = tuple(translate) if translate is not None else (0.0,) * len(scale)
    if len(scale) != (3 if stacked else 2) or len(translate) != len(scale):
        raise ValueError(f"need {3 if stacked else 2} scale and translate values, got "
                         f"{len(scale)} and {len(translate)}")
    step = frames[0].grid.step
    layers = [
        director_layer(
            [f.grid.director for f in frames], [f.grid.order for f in frames], step,
            frames=numbers, name=f"{name} director", scale=scale, translate=translate,
        )
    ]
    coherence = np.stack([f.coherence for f in frames]) if stacked else frames[0].coherence
    coherence_translate = translate
    if stacked and not is_movie:  # one frame of a stack: a one-frame image at that frame
        coherence_translate = (translate[0] + numbers[0] * scale[0], *translate[1:])
    layers.append(coherence_layer(coherence, name=f"{name} coherence", scale=scale,
                                  translate=coherence_translate))
    table = defect_table(result)
    if frame is not None:
        table = table.assign(frame=int(frame))
    layers.extend(defect_layers(table, step, core_radius_px=getattr(frames[0], "core_radius_px", None),
                                stacked=stacked, name=name, scale=scale, translate=translate))
    nuclei = nucleus_table(result)
    if nuclei is not None:
        if frame is not None:
            nuclei = nuclei.assign(frame=int(frame))
        layers.append(nuclei_layer(nuclei, stacked=stacked, name=name, scale=scale,
                                   translate=translate))
    return layers
