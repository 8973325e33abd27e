"""The per-image (or per-movie) results folder: tables, maps, summary, parameters, figure.

Every folder is built under a hidden temporary name beside its final place and renamed into
place when complete, so an interrupted run never leaves a half-written folder or file, and a
folder that exists is always whole (what ``--resume`` relies on).
"""

from __future__ import annotations

import contextlib
import csv
import dataclasses
import errno
import io
import json
import math
import os
import shutil
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Optional

import numpy as np

from .labels import CELL_COLUMNS, NUCLEUS_COLUMNS
from .result import DEFECT_COLUMNS

__all__ = [
    "DEFECT_COLUMNS",
    "MAP_CHANNELS",
    "MapsFile",
    "csv_text",
    "defect_rows",
    "order_map",
    "staged_folder",
    "summary_json",
    "write_maps",
    "write_results",
]

MAP_CHANNELS = ("theta_rad", "coherence", "order")
RESULT_FILES = ("summary.json", "params.json", "defects.csv", "tracks.csv", "nuclei.csv",
                "cells.csv", "ripley.csv", "maps.tif", "analysis.png")


def _plain(value: Any) -> Any:
    """Non-finite floats become None: JSON has no infinity or NaN."""
    if isinstance(value, (float, np.floating)):
        return float(value) if math.isfinite(value) else None
    if isinstance(value, np.integer):
        return int(value)
    if isinstance(value, np.bool_):
        return bool(value)
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, dict):
        return {k: _plain(v) for k, v in value.items()}
    return value


def summary_json(summary: Mapping[str, Any]) -> str:
    """The summary as indented JSON text (non-finite numbers as null), newline-terminated."""
    plain = {key: _plain(value) for key, value in summary.items()}
    return json.dumps(plain, indent=2, allow_nan=False, ensure_ascii=False) + "\n"


def csv_cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, (bool, np.bool_)):
        return "true" if value else "false"
    if isinstance(value, (float, np.floating)):
        value = float(value)
        return repr(value) if math.isfinite(value) else ""  # shortest exact text
    return str(value)


def csv_text(columns: Sequence[str], rows: Sequence[Mapping[str, Any]]) -> str:
    """A CSV table (header row, then one line per row; empty cells for missing values)."""
    buffer = io.StringIO()
    writer = csv.writer(buffer, lineterminator="\n")
    writer.writerow(columns)
    for row in rows:
        writer.writerow([csv_cell(row.get(c)) for c in columns])
    return buffer.getvalue()


def defect_rows(defects: Sequence[Any], columns: Sequence[str] = DEFECT_COLUMNS) -> list[dict]:
    """One dict per defect with the given columns."""
    return [{c: getattr(d, c) for c in columns} for d in defects]


def order_map(result: Any) -> np.ndarray:
    """The local order S of the coarse director grid at pixel resolution: each block's value
    on its pixels, NaN where no director is defined (masked, border, trailing pixels)."""
    grid = result.grid
    step = grid.step
    rows, cols = grid.shape
    order = np.asarray(grid.order, dtype=np.float32)
    if grid.valid is not None:
        order = np.where(grid.valid, order, np.float32(np.nan))
    full = np.empty(result.image_shape, dtype=np.float32)
    full[rows * step:] = np.nan
    full[: rows * step, cols * step:] = np.nan
    # One row of pixels per block row, broadcast down the block: no image-sized temporaries.
    block_rows = full[: rows * step, : cols * step].reshape(rows, step, cols * step)
    block_rows[...] = np.repeat(order, step, axis=1)[:, None, :]
    return full


def _map_planes(result: Any) -> Iterator[np.ndarray]:
    """The float32 channels of one frame, one plane at a time: none is held longer than it
    takes to write it, nor stacked with the others."""
    yield np.asarray(result.theta, dtype=np.float32)
    yield np.asarray(result.coherence, dtype=np.float32)
    yield order_map(result)


def _maps_layout(n_frames: Optional[int], frame_shape: tuple[int, int], pixel_size_um: float,
                 frame_interval_s: Optional[float]) -> dict[str, Any]:
    """tifffile's arguments for maps.tif: a float32 ImageJ hyperstack (C, Y, X), or
    (T, C, Y, X) for a movie (``n_frames`` not None), with the pixel size in µm in the
    resolution tags. The data start on a memory-map boundary, so a movie's maps can be
    filled in place (`MapsFile`) and give the same bytes as when written at once."""
    import mmap

    shape: tuple[int, ...] = (len(MAP_CHANNELS), *frame_shape)
    metadata: dict[str, Any] = {"axes": "CYX", "unit": "um", "Labels": list(MAP_CHANNELS),
                                "mode": "grayscale"}
    if n_frames is not None:
        shape = (n_frames, *shape)
        metadata.update(axes="TCYX", Labels=list(MAP_CHANNELS) * n_frames)
        if frame_interval_s is not None:
            metadata["finterval"] = frame_interval_s
    return {"shape": shape, "dtype": np.float32, "imagej": True, "metadata": metadata,
            "resolution": (1.0 / pixel_size_um, 1.0 / pixel_size_um),
            "align": mmap.ALLOCATIONGRANULARITY}


def write_maps(path: Path, frames: Sequence[Any], pixel_size_um: float,
               frame_interval_s: Optional[float] = None) -> None:
    """maps.tif: channels theta_rad, coherence and order of every frame (`_maps_layout`).
    Frames are computed and written one at a time."""
    import tifffile

    def planes() -> Iterator[np.ndarray]:
        for frame in frames:
            yield from _map_planes(frame)

    layout = _maps_layout(len(frames) if len(frames) > 1 else None, frames[0].theta.shape,
                          pixel_size_um, frame_interval_s)
    with open(path, "wb") as handle:
        tifffile.imwrite(handle, planes(), **layout)
        _write_through(handle)


# What a file system answers to a sync it does not offer.
_UNSUPPORTED = {errno.EINVAL, errno.ENOSYS, errno.ENOTSUP, errno.EOPNOTSUPP}


def _write_through(handle: Any) -> None:
    """Put a file just written on disk and out of the page cache.

    The maps are most of a results folder: on disk before the folder is moved into place, a
    crash cannot leave a complete-looking folder with an empty maps.tif. Out of the cache,
    write-once results do not push the user's images out of memory, and the next file's
    maps reuse the pages (on some virtual machines every fresh page of cache costs about as
    much as the disk write itself).
    """
    handle.flush()
    try:
        getattr(os, "fdatasync", os.fsync)(handle.fileno())
    except OSError as exc:
        # A file system that cannot sync (some network and FUSE mounts) still holds the
        # file; a failed write-back (EIO, ENOSPC) is a failed write.
        if exc.errno not in _UNSUPPORTED:
            raise
    _release(handle)


def _release(handle: Any) -> None:
    """Let the page cache go of a file's pages: those already on disk are dropped, the others
    start on their way there (without waiting) and go at a later call."""
    handle.flush()
    if hasattr(os, "posix_fadvise"):
        with contextlib.suppress(OSError):  # advice only
            os.posix_fadvise(handle.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)


@dataclass(frozen=True)
class MapsFile:
    """A movie's maps.tif, made before its analysis and filled frame by frame, in this
    process or in frame workers.

    Each frame's maps go straight into the file and are read back from it, so a long movie's
    maps are neither held in memory nor sent between processes, and nothing is left to write
    once the last frame is done.
    """

    path: str
    offset: int
    shape: tuple[int, ...]

    @classmethod
    def create(cls, path: str | Path, n_frames: int, frame_shape: tuple[int, int],
               pixel_size_um: float, frame_interval_s: Optional[float]) -> "MapsFile":
        import tifffile

        layout = _maps_layout(n_frames, frame_shape, pixel_size_um, frame_interval_s)
        offset, _ = tifffile.imwrite(path, None, returnoffset=True, **layout)
        return cls(str(path), int(offset), tuple(layout["shape"]))

    def _frames(self, mode: str) -> np.memmap:
        return np.memmap(self.path, dtype=np.float32, mode=mode, offset=self.offset,
                         shape=self.shape)

    def store(self, t: int, result: Any, *, wait: bool = False) -> Any:
        """Write frame ``t``'s maps; return the result without them (`attach` puts them back
        as views of the file), light enough to send from a worker. With ``wait`` (for a
        thread beside the analysis) the frame is on disk on return; otherwise it goes there
        in the background, and the folder's writer puts the whole file through at the end."""
        frame_bytes = int(np.prod(self.shape[1:])) * 4
        # Plain writes, not a writable memory map: a full disk is an OSError, not a crash.
        with open(self.path, "r+b") as handle:
            handle.seek(self.offset + t * frame_bytes)
            for plane in _map_planes(result):
                handle.write(np.ascontiguousarray(plane, dtype=np.float32).data)
            (_write_through if wait else _release)(handle)
        return dataclasses.replace(result, theta=None, coherence=None)

    def attach(self, t: int, result: Any) -> Any:
        """``result`` with its pixel maps as read-only views of frame ``t`` in the file."""
        planes = self._frames("r")
        return dataclasses.replace(result, theta=planes[t, 0], coherence=planes[t, 1])


@contextlib.contextmanager
def staged_folder(folder: Path, *, overwrite: bool = False) -> Iterator[Path]:
    """Yield a hidden temporary folder beside ``folder``; when the block ends normally its
    files take their places in ``folder`` (which must be empty or new unless ``overwrite``),
    otherwise it is removed."""
    folder = Path(folder)
    if folder.exists() and (not folder.is_dir() or any(folder.iterdir())) and not overwrite:
        raise FileExistsError(f"{folder} is not empty (pass overwrite=True to replace it)")
    folder.parent.mkdir(parents=True, exist_ok=True)
    stage = folder.parent / f".{folder.name}.partial-{os.getpid()}"
    shutil.rmtree(stage, ignore_errors=True)
    stage.mkdir()
    try:
        yield stage
        if not folder.exists():
            os.replace(stage, folder)
        else:
            _merge(stage, folder)
    finally:
        shutil.rmtree(stage, ignore_errors=True)


def _merge(stage: Path, folder: Path) -> None:
    """Move the staged results into an existing folder file by file, leaving other files of
    the user alone. summary.json goes first and comes back last: a folder without it is
    incomplete, and ``--resume`` redoes it."""
    (folder / "summary.json").unlink(missing_ok=True)
    made = {p.name for p in stage.iterdir()}
    for name in RESULT_FILES:
        if name not in made:
            (folder / name).unlink(missing_ok=True)
    for name in sorted(made - {"summary.json"}):
        os.replace(stage / name, folder / name)
    if "summary.json" in made:
        os.replace(stage / "summary.json", folder / "summary.json")


def atomic_write(path: Path, data: bytes | str) -> None:
    """Write a file under a temporary name and rename it into place."""
    path = Path(path)
    temporary = path.parent / f".{path.name}.partial-{os.getpid()}"
    try:
        if isinstance(data, str):
            temporary.write_text(data, encoding="utf-8")
        else:
            temporary.write_bytes(data)
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def write_results(
    folder: str | Path,
    result: Any,
    *,
    image: Optional[np.ndarray] = None,
    figure: bool = True,
    overwrite: bool = False,
    info: Optional[Mapping[str, Any]] = None,
    png: Optional[bytes] = None,
    maps_file: Optional[str | Path] = None,
) -> Path:
    """Write the results folder of an `ImageAnalysis` or `MovieAnalysis`, as the command line
    does: summary.json (with ``info`` such as the file and the pixel-size source added),
    params.json, defects.csv, nuclei.csv, ripley.csv and cells.csv (when labels were given),
    maps.tif (``maps_file``: a movie's `MapsFile` already filled, moved in) and analysis.png
    (unless ``figure`` is False; ``png`` passes a figure already drawn, ``image`` is drawn
    under the director field). The folder appears complete or not at all; an existing
    non-empty one is written into only with ``overwrite`` (its results are replaced, other
    files left alone). Returns the folder.
    """
    folder = Path(folder)
    if figure and png is None:
        from .figures import render_png

        png = render_png(result, image)
    summary: dict[str, Any] = {}
    extra = dict(info or {})
    for key, value in result.summary().items():
        summary[key] = value
        if key == "pixel_size_um" and "pixel_size_source" in extra:
            summary["pixel_size_source"] = extra.pop("pixel_size_source")
    summary.update(extra)
    frames = getattr(result, "frames", None) or [result]
    with staged_folder(folder, overwrite=overwrite) as stage:
        (stage / "params.json").write_text(result.to_json(), encoding="utf-8")
        columns = getattr(result, "defect_columns", DEFECT_COLUMNS)
        (stage / "defects.csv").write_text(
            csv_text(columns, defect_rows(result.defects, columns)), encoding="utf-8")
        tracks = getattr(result, "track_rows", None)
        if tracks is not None:
            from .movie import TRACK_COLUMNS

            (stage / "tracks.csv").write_text(csv_text(TRACK_COLUMNS, tracks()), encoding="utf-8")
        for name, attribute, columns in (("nuclei.csv", "nucleus_table", NUCLEUS_COLUMNS),
                                         ("cells.csv", "cell_table", CELL_COLUMNS)):
            rows = _table(frames, attribute)
            if rows is not None:
                if len(frames) > 1:
                    columns = ("frame", *columns)
                (stage / name).write_text(csv_text(columns, rows), encoding="utf-8")
        pattern = getattr(result, "ripley", None)
        if pattern is not None:
            (stage / "ripley.csv").write_text(pattern.to_csv(), encoding="utf-8")
        if maps_file is not None:
            with open(maps_file, "rb+") as handle:  # filled while the frames were analysed
                _write_through(handle)
            os.replace(maps_file, stage / "maps.tif")
        else:
            write_maps(stage / "maps.tif", frames, result.pixel_size_um,
                       getattr(result, "frame_interval_s", None))
        if png is not None:
            (stage / "analysis.png").write_bytes(png)
        (stage / "summary.json").write_text(summary_json(summary), encoding="utf-8")
    return folder


def _table(frames: Sequence[Any], attribute: str) -> Optional[list[dict[str, Any]]]:
    if getattr(frames[0], attribute, None) is None:
        return None
    if len(frames) == 1:
        return list(getattr(frames[0], attribute))
    return [{"frame": t, **row} for t, frame in enumerate(frames)
            for row in getattr(frame, attribute)]
