"""The few places where the plugin meets the analysis API: running it, reading its defects,
exporting its folder and reading a file's pixel size.

Kept in one module so the widget, the layers and the reader only see plain arrays and tables.
"""

from __future__ import annotations

import inspect
import math
from collections.abc import Callable, Generator, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional

import numpy as np

from .. import analysis as _analysis

__all__ = [
    "FrameSeries",
    "analysis_steps",
    "analyze",
    "defect_table",
    "export_results",
    "file_pixel_size_um",
    "frames_of",
]

DEFECT_TABLE_COLUMNS = (
    "frame", "row_px", "col_px", "row_um", "col_um", "charge", "angle_rad", "order",
    "confidence", "track",
)


@dataclass(frozen=True)
class FrameSeries:
    """Analyses of the frames of a stack, made one by one (no trajectories)."""

    frames: list[Any]


def _accepts(function: Callable[..., Any], name: str) -> bool:
    return name in inspect.signature(function).parameters


def _image_keywords(
    pixel_size_um: float,
    sigma: Optional[float],
    grid_step: Optional[int],
    labels: dict[str, Optional[np.ndarray]],
) -> dict[str, Any]:
    """Keyword arguments of `analyze_image`; None scales keep its own (automatic) choice."""
    keywords: dict[str, Any] = {"pixel_size_um": pixel_size_um}
    if sigma is not None:
        keywords["sigma"] = sigma
    if grid_step is not None:
        keywords["grid_step"] = grid_step
    analyze_image = _analysis.analyze_image
    for name, value in labels.items():
        if value is None:
            continue
        if name == "nuclei" and not _accepts(analyze_image, "nuclei"):
            keywords["nuclear_mask"] = value
        elif _accepts(analyze_image, name):
            keywords[name] = value
        else:
            raise ValueError(f"this version of tazmir cannot use a {name} label layer")
    return keywords


def _frame(value: Optional[np.ndarray], index: int) -> Optional[np.ndarray]:
    """The labels of one frame: a 2-D layer serves every frame of a stack."""
    if value is None or value.ndim == 2:
        return value
    return value[index]


def analysis_steps(
    data: np.ndarray,
    *,
    pixel_size_um: float,
    sigma: Optional[float] = None,
    grid_step: Optional[int] = None,
    mask: Optional[np.ndarray] = None,
    nuclei: Optional[np.ndarray] = None,
    cells: Optional[np.ndarray] = None,
    frame_interval_s: Optional[float] = None,
) -> Generator[tuple[int, int], None, Any]:
    """Analyse a 2-D image (an `ImageAnalysis`) or a T x Y x X stack (a movie analysis).

    A generator: it yields (frames done, frames in all) as it goes and returns the result,
    so a worker thread can report progress. Label arrays are 2-D or one per frame.
    """
    import tazmir

    labels = {"mask": mask, "nuclei": nuclei, "cells": cells}
    if data.ndim == 2:
        keywords = _image_keywords(pixel_size_um, sigma, grid_step, labels)
        result = tazmir.analyze_image(data, **keywords)
        yield 1, 1
        return result
    if data.ndim != 3:
        raise ValueError(f"expected a 2-D image or a T x Y x X stack, got shape {data.shape}")
    total = data.shape[0]
    analyze_movie = getattr(tazmir, "analyze_movie", None)
    if analyze_movie is not None:
        keywords = _image_keywords(pixel_size_um, sigma, grid_step, labels)
        if frame_interval_s is not None and _accepts(analyze_movie, "frame_interval_s"):
            keywords["frame_interval_s"] = frame_interval_s
        result = analyze_movie(data, **keywords)
        yield total, total
        return result
    frames = []
    for index in range(total):
        per_frame = {name: _frame(value, index) for name, value in labels.items()}
        keywords = _image_keywords(pixel_size_um, sigma, grid_step, per_frame)
        frames.append(tazmir.analyze_image(data[index], **keywords))
        yield index + 1, total
    return FrameSeries(frames)


def analyze(data: np.ndarray, **keywords: Any) -> Any:
    """`analysis_steps` run to its end: the result alone."""
    steps = analysis_steps(data, **keywords)
    while True:
        try:
            next(steps)
        except StopIteration as stop:
            return stop.value


def frames_of(result: Any) -> Sequence[Any]:
    """The per-image analyses of a result: its frames, or the result itself."""
    frames = getattr(result, "frames", None)
    return [result] if frames is None else list(frames)


def _defect_row(defect: Any, frame: int) -> dict[str, Any]:
    row = getattr(defect, "row_px", None)
    col = getattr(defect, "col_px", None)
    if row is None:  # analyses from before sub-pixel positions
        row, col = defect.row, defect.col
    return {
        "frame": frame,
        "row_px": float(row),
        "col_px": float(col),
        "row_um": float(defect.row_um),
        "col_um": float(defect.col_um),
        "charge": float(defect.charge),
        "angle_rad": float(getattr(defect, "angle_rad", math.nan)),
        "order": float(getattr(defect, "order", math.nan)),
        "confidence": float(getattr(defect, "confidence", math.nan)),
        "track": getattr(defect, "track", None),
    }


def defect_table(result: Any) -> Any:
    """Every defect of a result as a pandas DataFrame with `DEFECT_TABLE_COLUMNS` (NaN where
    the analysis did not measure a value; ``track`` is a nullable integer)."""
    import pandas as pd

    table = None
    if hasattr(result, "defects_frame"):
        table = result.defects_frame()
    if table is None:
        rows = [
            _defect_row(defect, index)
            for index, frame in enumerate(frames_of(result))
            for defect in frame.defects
        ]
        table = pd.DataFrame(rows, columns=list(DEFECT_TABLE_COLUMNS))
    return normalise_defect_table(table)


def normalise_defect_table(table: Any) -> Any:
    """Add the columns an older table lacks (NaN) and make ``track`` a nullable integer."""
    import pandas as pd

    table = table.copy()
    if "row_px" not in table and "row" in table:
        table = table.rename(columns={"row": "row_px", "col": "col_px"})
    for column in DEFECT_TABLE_COLUMNS:
        if column not in table:
            table[column] = 0 if column == "frame" else math.nan
    table["frame"] = table["frame"].astype(np.int64)
    table["track"] = pd.array(table["track"], dtype="Int64")
    return table


def export_results(folder: Path, result: Any, image: np.ndarray) -> None:
    """Write the folder the command line writes for this result and image."""
    try:
        from ..export import write_results
    except ImportError:  # the batch writer of params.json, summary.json and analysis.png
        from ..batch import FileOutcome, write_outcome
        from ..figures import render_png

        if folder.exists() and any(folder.iterdir()):
            raise FileExistsError(f"{folder} exists and is not empty")
        frames = frames_of(result)
        if len(frames) != 1:
            raise ValueError("this version of tazmir exports single images only")
        outcome = FileOutcome(
            str(folder), summary=result.summary(), params_json=result.to_json(),
            png=render_png(result, image),
        )
        write_outcome(folder, outcome)
        return
    write_results(folder, result, image=image)


def file_pixel_size_um(path: Optional[str]) -> Optional[float]:
    """The pixel size an image file records (µm), or None when it records none."""
    if not path:
        return None
    import tazmir

    read_image = getattr(tazmir, "read_image", None)
    if read_image is None:
        return None
    try:
        size = read_image(path).pixel_size_um
    except Exception:  # a file tazmir cannot read has no pixel size to offer
        return None
    return None if size is None else float(size)
