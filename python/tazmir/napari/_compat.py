"""Where the plugin meets the analysis API: running it with progress, reading its defects
and nuclei as tables, reading a file's calibration and exporting the results folder.

Kept in one module so the widget, the layers and the reader only see arrays and tables.
"""

from __future__ import annotations

import inspect
import math
from collections.abc import Callable, Iterator, Sequence
from pathlib import Path
from typing import Any, Optional

import numpy as np

from .. import analysis as _analysis

__all__ = [
    "DEFECT_TABLE_COLUMNS",
    "FileCalibration",
    "analyze",
    "defect_table",
    "export_results",
    "file_calibration",
    "frames_of",
    "nucleus_table",
]

DEFECT_TABLE_COLUMNS = (
    "frame", "row_px", "col_px", "row_um", "col_um", "charge", "angle_rad", "order",
    "confidence", "track",
)
# The nucleus columns the layers need: centroid and semi-axes in pixels, long-axis angle in
# the director convention.
NUCLEUS_TABLE_COLUMNS = (
    "frame", "centroid_row_px", "centroid_col_px", "semi_major_px", "semi_minor_px",
    "orientation_rad",
)


def _accepts(function: Callable[..., Any], name: str) -> bool:
    return name in inspect.signature(function).parameters


def _scales(**scales: Optional[float]) -> dict[str, Any]:
    """Scale keywords: a None scale keeps the analysis's own default (its automatic choice)."""
    return {name: value for name, value in scales.items() if value is not None}


def analyze(
    data: np.ndarray,
    *,
    pixel_size_um: float,
    sigma: Optional[float] = None,
    core_radius: Optional[float] = None,
    grid_step: Optional[int] = None,
    mask: Optional[np.ndarray] = None,
    nuclei: Optional[np.ndarray] = None,
    cells: Optional[np.ndarray] = None,
    frame_interval_s: Optional[float] = None,
    on_frame: Optional[Callable[[int, int], None]] = None,
) -> Any:
    """Analyse a 2-D image (an `ImageAnalysis`) or a T x Y x X stack (a `MovieAnalysis`).

    Label images are 2-D (for every frame) or one per frame; ``mask`` is one 2-D image.
    ``on_frame(done, total)`` is called as frames are analysed (from the calling thread).
    """
    import tazmir

    keywords: dict[str, Any] = {
        "pixel_size_um": pixel_size_um,
        **_scales(sigma=sigma, core_radius=core_radius, grid_step=grid_step),
    }
    if mask is not None:
        if not _accepts(_analysis.analyze_image, "mask"):
            raise ValueError("this version of tazmir cannot use a mask layer")
        if mask.ndim != 2:
            raise ValueError(f"the mask must be one 2-D image, got shape {mask.shape}")
        keywords["mask"] = mask
    if data.ndim == 2:
        result = tazmir.analyze_image(data, nuclei=nuclei, cells=cells, **keywords)
        if on_frame is not None:
            on_frame(1, 1)
        return result
    if data.ndim != 3:
        raise ValueError(f"expected a 2-D image or a T x Y x X stack, got shape {data.shape}")
    total = data.shape[0]

    def frames() -> Iterator[np.ndarray]:
        for t in range(total):
            if on_frame is not None:
                on_frame(t, total)
            yield data[t]

    labels = {name: None if value is None else (value if value.ndim == 3 else [value] * total)
              for name, value in (("nuclei", nuclei), ("cells", cells))}
    result = tazmir.analyze_movie(frames(), frame_interval_s=frame_interval_s, **labels,
                                  **keywords)
    if on_frame is not None:
        on_frame(total, total)
    return result


def frames_of(result: Any) -> Sequence[Any]:
    """The per-image analyses of a result: a movie's frames, or the image result itself."""
    frames = getattr(result, "frames", None)
    return [result] if frames is None else list(frames)


def defect_table(result: Any) -> Any:
    """Every defect of a result as a pandas DataFrame with `DEFECT_TABLE_COLUMNS`."""
    import pandas as pd

    from ..export import defect_rows

    if hasattr(result, "defects_frame"):
        table = result.defects_frame()
    else:  # the rows defects.csv holds
        columns = list(DEFECT_TABLE_COLUMNS)
        table = pd.DataFrame.from_records(defect_rows(result.defects, columns), columns=columns)
    return normalise_defect_table(table)


def normalise_defect_table(table: Any) -> Any:
    """Add the columns a table lacks (NaN; frame 0) and make ``track`` a nullable integer."""
    import pandas as pd

    table = table.copy()
    for column in DEFECT_TABLE_COLUMNS:
        if column not in table:
            table[column] = 0 if column == "frame" else math.nan
    table["frame"] = table["frame"].fillna(0).astype(np.int64)
    for column in DEFECT_TABLE_COLUMNS[1:-1]:
        table[column] = pd.to_numeric(table[column]).astype(np.float64)
    table["track"] = pd.array(table["track"], dtype="Int64")
    return table


def nucleus_table(result: Any) -> Optional[Any]:
    """The fitted nuclei of a result with `NUCLEUS_TABLE_COLUMNS`, or None without nuclei."""
    frames = frames_of(result)
    if frames[0].nucleus_table is None:
        return None
    table = result.nuclei_frame()
    if "frame" not in table:
        table = table.assign(frame=0)
    return normalise_nucleus_table(table, frames[0].pixel_size_um)


def normalise_nucleus_table(table: Any, pixel_size_um: float) -> Any:
    """nuclei.csv columns (semi-axes in µm) as `NUCLEUS_TABLE_COLUMNS`; nuclei that could not
    be measured are left out."""
    table = table.assign(
        semi_major_px=table["semi_major_um"] / pixel_size_um,
        semi_minor_px=table["semi_minor_um"] / pixel_size_um,
    )
    if "frame" not in table:
        table = table.assign(frame=0)
    measured = table[list(NUCLEUS_TABLE_COLUMNS)].apply(np.isfinite).all(axis=1)
    return table.loc[measured, list(NUCLEUS_TABLE_COLUMNS)].reset_index(drop=True)


class FileCalibration:
    """What an image file says about itself: axes, pixel size (µm) and its source, frame
    interval (s). Empty when the file is unknown or unreadable."""

    def __init__(self, path: Optional[str]) -> None:
        self.path = path
        self.axes: Optional[str] = None
        self.pixel_size_um: Optional[float] = None
        self.pixel_size_source: Optional[str] = None
        self.frame_interval_s: Optional[float] = None
        if not path:
            return
        from ..io import ImageReadError, read_image

        try:
            with read_image(path, lazy=True) as image:
                self.axes = image.axes
                self.pixel_size_um = image.pixel_size_um
                self.pixel_size_source = image.pixel_size_source
                self.frame_interval_s = image.frame_interval_s
        except (ImageReadError, OSError):
            self.path = None


def file_calibration(path: Optional[str]) -> FileCalibration:
    return FileCalibration(path)


def export_results(
    folder: Path, result: Any, image: np.ndarray, *, info: dict[str, Any], overwrite: bool
) -> Path:
    """Write the results folder the command line writes for this result; the figure shows
    ``image`` (the last frame of a movie, as the command line draws it)."""
    from ..export import write_results

    shown = image if image.ndim == 2 else image[-1]
    return write_results(folder, result, image=shown, overwrite=overwrite, info=info)
