"""Reading microscopy images and writing analysis outputs (params, summaries, CSV)."""

from __future__ import annotations

import csv
import json
import math
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

import numpy as np

__all__ = [
    "ImageReadError",
    "output_names",
    "read_image",
    "summary_json",
    "to_grey",
    "write_summary_csv",
]

TIFF_SUFFIXES = frozenset({".tif", ".tiff"})
# Rec. 709 luma weights, as scikit-image's rgb2gray uses.
_LUMA = np.array([0.2125, 0.7154, 0.0721])


class ImageReadError(Exception):
    """An image file could not be read or is not a 2-D grey or colour image."""


def to_grey(data: np.ndarray) -> np.ndarray:
    """A float64 grey-level image from decoded pixel data (grey, grey+alpha, RGB or RGBA)."""
    array = np.asarray(data)
    while array.ndim > 2 and array.shape[0] == 1:  # a single page or frame
        array = array[0]
    if array.ndim == 3 and array.shape[-1] in (3, 4):
        array = array[..., :3].astype(np.float64) @ _LUMA
    elif array.ndim == 3 and array.shape[-1] == 2:
        array = array[..., 0]
    if array.ndim != 2:
        raise ImageReadError(f"expected a 2-D grey or RGB image, got pixel data of shape {array.shape}")
    if array.dtype.kind not in "biuf":
        raise ImageReadError(f"unsupported pixel type {array.dtype}")
    return np.ascontiguousarray(array, dtype=np.float64)


def read_image(path: str | Path) -> np.ndarray:
    """Read a 2-D TIFF (tifffile) or PNG/JPEG/... (imageio) as a float64 grey image."""
    path = Path(path)
    try:
        if path.suffix.lower() in TIFF_SUFFIXES:
            import tifffile

            data = tifffile.imread(path)
        else:
            import imageio.v3 as iio

            # From bytes: imageio leaves the file open when no plugin can decode it.
            data = iio.imread(path.read_bytes(), extension=path.suffix.lower() or None)
    except ImportError:
        raise
    except Exception as exc:  # every decoder has its own exception types
        reason = str(exc) or type(exc).__name__
        if reason.startswith("Could not find a backend"):
            reason = "no image decoder recognises its contents"
        raise ImageReadError(reason) from exc
    return to_grey(data)


def output_names(paths: Sequence[str | Path]) -> list[str]:
    """One folder name per input file: its stem, numbered from -2 on for repeated stems."""
    seen: dict[str, int] = {}
    names = []
    for path in paths:
        stem = Path(path).stem or "image"
        count = seen.get(stem, 0) + 1
        seen[stem] = count
        names.append(stem if count == 1 else f"{stem}-{count}")
    return names


def _plain(value: Any) -> Any:
    """Non-finite floats become None: JSON has no infinity or NaN."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def summary_json(summary: Mapping[str, Any]) -> str:
    """The summary as indented JSON text (non-finite numbers as null), newline-terminated."""
    plain = {key: _plain(value) for key, value in summary.items()}
    return json.dumps(plain, indent=2, allow_nan=False) + "\n"


def _csv_cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(value)  # shortest text that reads back to the same float
    return str(value)


def write_summary_csv(path: Path, rows: Sequence[tuple[str, str, Mapping[str, Any]]]) -> None:
    """``summary.csv``: columns file, name, then the summary keys; one row per image."""
    keys: list[str] = []
    for _, _, summary in rows:
        keys.extend(key for key in summary if key not in keys)
    with open(path, "w", newline="", encoding="utf-8") as handle:
        writer = csv.writer(handle, lineterminator="\n")
        writer.writerow(["file", "name", *keys])
        for file, name, summary in rows:
            writer.writerow([file, name, *(_csv_cell(summary.get(key)) for key in keys)])
