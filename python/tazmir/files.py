"""Batch bookkeeping: output folder names, summary.csv, and the plain 2-D image reader."""

from __future__ import annotations

import json
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

import numpy as np

from .export import atomic_write, csv_text, summary_json
from .io import ImageReadError, select_planes
from .io import read_image as read_file

__all__ = [
    "ImageReadError",
    "output_names",
    "read_image",
    "read_summary",
    "summary_json",
    "write_summary_csv",
]


def read_image(path: str | Path) -> np.ndarray:
    """Read a 2-D grey or colour image file as a float64 grey image (colour by luma).

    Files with channels, Z planes or frames raise ImageReadError; `tazmir.read_image` reads
    them with their axes.
    """
    image = read_file(path)
    planes = select_planes(image)
    if planes.is_movie:
        raise ImageReadError(f"a movie of {len(planes)} frames, not a single image")
    return planes[0]


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


def read_summary(folder: Path) -> dict[str, Any]:
    """The summary.json of a results folder."""
    with open(folder / "summary.json", encoding="utf-8") as handle:
        return dict(json.load(handle))


def write_summary_csv(path: Path, rows: Sequence[tuple[str, str, Mapping[str, Any]]]) -> None:
    """``summary.csv``: columns file, name, then the summary keys; one row per image."""
    keys: list[str] = []
    for _, _, summary in rows:
        keys.extend(key for key in summary if key not in keys and key not in ("file", "name"))
    table = [{"file": file, "name": name, **{k: _flat(summary.get(k)) for k in keys}}
             for file, name, summary in rows]
    atomic_write(path, csv_text(["file", "name", *keys], table))


def _flat(value: Any) -> Any:
    # Per-frame lists (a movie's defect counts) fit in one cell as space-separated numbers.
    if isinstance(value, list):
        return " ".join(str(v) for v in value)
    return value
