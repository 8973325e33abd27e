"""Reading microscopy files as they come: axes, pixel size and frame interval from metadata.

TIFF files go through tifffile, which knows ImageJ hyperstacks and OME-TIFF; PNG, JPEG and
the rest through imageio. `read_image` returns the pixels with their axes (tifffile's letters:
T time, Z depth, C channel, Y row, X column, S colour samples) and the physical calibration;
`select_planes` picks the grey 2-D plane or the (T, Y, X) movie that the analysis runs on.
Movies are read one page at a time, so a long recording is never in memory as a whole.
"""

from __future__ import annotations

import math
import os
import threading
import xml.etree.ElementTree as ElementTree
from collections.abc import Iterator
from dataclasses import dataclass, field, replace
from pathlib import Path
from typing import Any, Optional, Union

import numpy as np

__all__ = ["ImageData", "ImageReadError", "Planes", "read_image", "select_planes"]

TIFF_SUFFIXES = frozenset({".tif", ".tiff", ".btf", ".tf8"})
# Rec. 709 luma weights, as scikit-image's rgb2gray uses.
_LUMA = np.array([0.2125, 0.7154, 0.0721])

_LENGTH_TO_UM = {
    "m": 1e6, "cm": 1e4, "mm": 1e3, "µm": 1.0, "\u03bcm": 1.0, "um": 1.0, "micron": 1.0,
    "microns": 1.0, "\\u00b5m": 1.0, "nm": 1e-3, "å": 1e-4, "pm": 1e-6,
}
_TIME_TO_S = {
    "s": 1.0, "sec": 1.0, "second": 1.0, "seconds": 1.0, "ms": 1e-3, "µs": 1e-6, "us": 1e-6,
    "min": 60.0, "h": 3600.0, "hr": 3600.0,
}


class ImageReadError(Exception):
    """A file could not be read, or its axes do not give a plane or movie to analyse."""


@dataclass(frozen=True, eq=False)
class ImageData:
    """Pixels of a file with their axes and calibration.

    ``data`` has one axis per letter of ``axes``; with ``read_image(..., lazy=True)`` it is
    a `Planes`-backed stack that reads pages on demand. ``pixel_size_um`` is None when the
    file does not state it; ``pixel_size_source`` says where it came from ("imagej", "ome",
    "tiff-resolution"). ``frame_interval_s`` is the time between frames when stated.
    """

    data: Any
    pixel_size_um: Optional[float]
    pixel_size_source: Optional[str]
    axes: str
    frame_interval_s: Optional[float] = None
    channel_names: Optional[tuple[str, ...]] = None
    path: Optional[str] = None
    _reader: Any = field(default=None, repr=False)

    @property
    def shape(self) -> tuple[int, ...]:
        return tuple(self.data.shape)

    def close(self) -> None:
        """Close the file behind a lazily read image (nothing to do otherwise)."""
        if self._reader is not None:
            self._reader.close()

    def __enter__(self) -> ImageData:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        size = "unknown" if self.pixel_size_um is None else f"{self.pixel_size_um:.4g} µm"
        extra = ""
        if self.frame_interval_s is not None:
            extra = f", frame_interval_s={self.frame_interval_s:.4g}"
        return (f"ImageData({self.path!r}, axes={self.axes!r}, shape={self.shape}, "
                f"dtype={self.data.dtype}, pixel_size={size} ({self.pixel_size_source}){extra})")


def _unit_factor(unit: Optional[str], table: dict[str, float]) -> Optional[float]:
    if unit is None:
        return None
    return table.get(unit.strip().lower().replace("\u00b5", "µ"))


def _imagej_calibration(tif: Any) -> tuple[Optional[float], Optional[float]]:
    meta = tif.imagej_metadata or {}
    factor = _unit_factor(meta.get("unit"), _LENGTH_TO_UM)
    size = _resolution_size(tif.pages[0], factor) if factor is not None else None
    interval = None
    if meta.get("finterval"):
        scale = _unit_factor(meta.get("tunit", "s"), _TIME_TO_S)
        if scale is not None:
            interval = float(meta["finterval"]) * scale
    return size, interval


def _resolution_size(page: Any, factor: float) -> Optional[float]:
    """Pixel size from the X/YResolution tags (pixels per unit), in µm."""
    tags = page.tags
    if "XResolution" not in tags:
        return None
    sizes = []
    for name in ("XResolution", "YResolution"):
        value = tags[name].value if name in tags else tags["XResolution"].value
        numerator, denominator = value
        if numerator <= 0 or denominator <= 0:
            return None
        sizes.append(factor * denominator / numerator)
    return _square(sizes[0], sizes[1])


def _square(x_size: float, y_size: float) -> float:
    if not math.isclose(x_size, y_size, rel_tol=1e-4):
        raise ImageReadError(
            f"pixels are not square ({x_size:.6g} x {y_size:.6g} µm); "
            "the analysis needs square pixels"
        )
    return x_size


def _ome_calibration(
    tif: Any,
) -> tuple[Optional[float], Optional[float], Optional[tuple[str, ...]]]:
    root = ElementTree.fromstring(tif.ome_metadata)
    pixels = next((e for e in root.iter() if e.tag.endswith("}Pixels")), None)
    if pixels is None:
        return None, None, None
    sizes = []
    for axis in ("X", "Y"):
        value = pixels.get(f"PhysicalSize{axis}")
        factor = _unit_factor(pixels.get(f"PhysicalSize{axis}Unit", "µm"), _LENGTH_TO_UM)
        sizes.append(None if value is None or factor is None else float(value) * factor)
    size = None
    if sizes[0] is not None:
        size = _square(sizes[0], sizes[0] if sizes[1] is None else sizes[1])
    interval = None
    if pixels.get("TimeIncrement") is not None:
        scale = _unit_factor(pixels.get("TimeIncrementUnit", "s"), _TIME_TO_S)
        if scale is not None:
            interval = float(pixels.get("TimeIncrement")) * scale
    names = tuple(
        e.get("Name", "") for e in pixels if e.tag.endswith("}Channel")
    )
    return size, interval, names if any(names) else None


def _plain_tiff_calibration(tif: Any) -> Optional[float]:
    page = tif.pages[0]
    # Only centimetres are a physical statement; an inch resolution is usually a 72 dpi default.
    if "ResolutionUnit" in page.tags and int(page.tags["ResolutionUnit"].value) == 3:
        return _resolution_size(page, 1e4)
    return None


class _TiffPages:
    """Reads single planes of a tifffile series by page index, keeping the file open."""

    def __init__(self, path: Path) -> None:
        import tifffile

        self.tif = tifffile.TiffFile(path)
        series = self.tif.series[0]
        self.series = series
        self.shape = tuple(series.shape)
        self.dtype = np.dtype(series.dtype)
        trailing = 3 if series.axes.endswith("YXS") else 2
        self.leading = self.shape[:-trailing]
        first = series.pages[0]
        self.paged = (
            series.axes.endswith(("YX", "YXS"))
            and len(series.pages) == math.prod(self.leading)
            and first is not None
            and tuple(first.shape) == self.shape[-trailing:]
        )
        self._whole: Optional[np.ndarray] = None

    def plane(self, index: tuple[int, ...]) -> np.ndarray:
        if self.paged:
            key = int(np.ravel_multi_index(index, self.leading)) if self.leading else 0
            return np.asarray(self.series.asarray(key=key))
        if self._whole is None:  # pages do not map to planes: read the series once
            self._whole = np.asarray(self.series.asarray())
        return self._whole[index]

    def close(self) -> None:
        self.tif.close()


class _LazyStack:
    """An array-like over the pages of a TIFF series: shape, dtype, and indexing of planes."""

    def __init__(self, pages: _TiffPages) -> None:
        self._pages = pages
        self.shape = pages.shape
        self.dtype = pages.dtype
        self.ndim = len(self.shape)

    def __getitem__(self, index: Union[int, tuple[int, ...]]) -> np.ndarray:
        index = index if isinstance(index, tuple) else (index,)
        lead = len(self._pages.leading)
        if len(index) >= lead and all(isinstance(i, (int, np.integer)) for i in index[:lead]):
            plane = self._pages.plane(tuple(int(i) for i in index[:lead]))
            return plane[index[lead:]] if len(index) > lead else plane
        return np.asarray(self)[index]

    def __array__(self, dtype: Any = None, copy: Any = None) -> np.ndarray:
        whole = np.stack([self._pages.plane(i) for i in np.ndindex(*self._pages.leading)])
        whole = whole.reshape(self.shape)
        return whole if dtype is None else whole.astype(dtype)

    def __len__(self) -> int:
        return self.shape[0]


def _read_tiff(path: Path, lazy: bool) -> ImageData:
    pages = _TiffPages(path)
    try:
        tif = pages.tif
        axes = pages.series.axes
        size, source, interval, names = None, None, None, None
        if tif.is_ome and tif.ome_metadata:
            size, interval, names = _ome_calibration(tif)
            source = "ome" if size is not None else None
        elif tif.is_imagej:
            size, interval = _imagej_calibration(tif)
            source = "imagej" if size is not None else None
            labels = (tif.imagej_metadata or {}).get("Labels")
            n_channels = pages.shape[axes.index("C")] if "C" in axes else 0
            if labels and n_channels and len(labels) % n_channels == 0:
                names = tuple(str(label) for label in labels[:n_channels])
        if size is None:
            size = _plain_tiff_calibration(tif)
            source = "tiff-resolution" if size is not None else None
        if pages.series.axes.endswith("S") and int(tif.pages[0].photometric) != 2:
            axes = axes[:-1] + "C"  # extra samples that are not RGB colour are channels
        data: Any = _LazyStack(pages) if lazy else np.asarray(_LazyStack(pages))
    except BaseException:
        pages.close()
        raise
    if not lazy:
        pages.close()
        pages = None
    return ImageData(data, size, source, axes, interval, names, str(path), pages)


def _read_other(path: Path) -> ImageData:
    import imageio.v3 as iio

    # From bytes: imageio leaves the file open when no plugin can decode it.
    data = np.asarray(iio.imread(path.read_bytes(), extension=path.suffix.lower() or None))
    axes = {2: "YX", 3: "YXS"}.get(data.ndim)
    if axes is None:
        raise ImageReadError(f"pixel data of shape {data.shape} is not a 2-D image")
    if data.ndim == 3 and data.shape[2] == 2:  # grey and alpha
        data, axes = data[..., 0], "YX"
    return ImageData(data, None, None, axes, None, None, str(path))


def read_image(path: Union[str, Path], *, lazy: bool = False) -> ImageData:
    """Read an image or movie file with its axes, pixel size and frame interval.

    TIFF (plain, ImageJ hyperstack, OME-TIFF) through tifffile, other formats (PNG, JPEG, ...)
    through imageio. With ``lazy=True`` a TIFF's pages are read only when indexed (close the
    file with ``image.close()`` or a ``with`` block); use it for long movies.
    Raises ImageReadError when the file cannot be decoded.
    """
    path = Path(path)
    try:
        if path.suffix.lower() in TIFF_SUFFIXES:
            return _read_tiff(path, lazy)
        return _read_other(path)
    except (ImportError, ImageReadError, KeyboardInterrupt, MemoryError):
        raise
    except Exception as exc:  # every decoder has its own exception types
        reason = str(exc) or type(exc).__name__
        if reason.startswith("Could not find a backend"):
            reason = "no image decoder recognises its contents"
        if isinstance(exc, FileNotFoundError):
            reason = "no such file"
        raise ImageReadError(reason) from exc


def _grey(plane: np.ndarray, colour: bool) -> np.ndarray:
    if plane.dtype.kind not in "biuf":
        raise ImageReadError(f"unsupported pixel type {plane.dtype}")
    if colour:
        plane = plane[..., :3].astype(np.float64) @ _LUMA
    return np.ascontiguousarray(plane, dtype=np.float64)


@dataclass(frozen=True, eq=False)
class Planes:
    """The grey planes to analyse: one (a still image) or one per time point (a movie).

    Indexing reads and converts one frame (float64, or the raw integers for label images).
    """

    image: ImageData
    index: tuple[Any, ...]  # per axis of the data: an int, or None for T, Y, X (and S)
    n_frames: int
    is_movie: bool
    colour: bool
    labels: bool = False

    @property
    def frame_shape(self) -> tuple[int, int]:
        axes, shape = self.image.axes, self.image.shape
        return shape[axes.index("Y")], shape[axes.index("X")]

    def __len__(self) -> int:
        return self.n_frames

    def __getitem__(self, t: int) -> np.ndarray:
        if not 0 <= t < self.n_frames:
            raise IndexError(f"frame {t} out of range for {self.n_frames} frames")
        axes = self.image.axes
        full = tuple(
            slice(None) if a in "YXS" else t if i is None else i for i, a in zip(self.index, axes)
        )
        plane = np.asarray(self.image.data[full])
        kept = [a for a in axes if a in "YXS"]
        if "S" in kept and kept[-1] != "S":  # planar colour: samples last
            plane = np.moveaxis(plane, kept.index("S"), -1)
        if self.labels:
            return plane
        return _grey(plane, self.colour)

    def __iter__(self) -> Iterator[np.ndarray]:
        for t in range(self.n_frames):
            yield self[t]

    def stored_frame(self, t: int) -> Optional[StoredFrame]:
        """Frame ``t`` as a reference that another process reads from the file itself (a
        few hundred bytes to send instead of the pixels), or None when the frames are not
        pages of a file on disk."""
        reader = self.image._reader
        if self.image.path is None or not isinstance(reader, _TiffPages) or not reader.paged:
            return None
        if not 0 <= t < self.n_frames:
            raise IndexError(f"frame {t} out of range for {self.n_frames} frames")
        path = os.path.abspath(self.image.path)  # workers may start elsewhere
        stat = os.stat(path)
        return StoredFrame(path, (stat.st_mtime_ns, stat.st_size), self.index, self.n_frames,
                           self.colour, self.labels, t)

    def as_stored(self) -> Planes:
        """These planes with grey frames in their stored type (16-bit stays 16-bit; colour
        is still converted): the analysis converts them strip by strip, so a large frame
        never exists as float64 in full."""
        return self if self.colour else replace(self, labels=True)


@dataclass(frozen=True)
class StoredFrame:
    """One frame of a movie file, read where it is analysed (`Planes.stored_frame`)."""

    path: str
    stamp: tuple[int, int]  # modification time (ns) and size when the movie was opened
    index: tuple[Any, ...]
    n_frames: int
    colour: bool
    labels: bool
    t: int

    def read(self) -> np.ndarray:
        """The frame as `Planes` gives it; raises ImageReadError when the file has changed
        since the movie was opened."""
        with _held_lock:
            image = _held_file(self.path, self.stamp)
            return Planes(image, self.index, self.n_frames, self.n_frames > 1, self.colour,
                          self.labels)[self.t]


# The movie file whose frames this process reads, kept open from frame to frame. One lock:
# the threads of a Dask worker share the file handle, and a read is a seek and a read.
_held: dict[str, Any] = {}
_held_lock = threading.Lock()


def _held_file(path: str, stamp: tuple[int, int]) -> ImageData:
    try:
        stat = os.stat(path)
    except OSError as exc:
        raise ImageReadError(f"{path}: {exc.strerror or exc}") from None
    if (stat.st_mtime_ns, stat.st_size) != stamp:
        raise ImageReadError(f"{path} changed while its frames were analysed")
    held = _held.get("file")
    if held is None or held[0] != (path, stamp):
        if held is not None:
            del _held["file"]
            held[1].close()
        _held["file"] = ((path, stamp), read_image(path, lazy=True))
    return _held["file"][1]


def _channel_list(image: ImageData, count: int) -> str:
    names = image.channel_names or ()
    return ", ".join(
        f"{i}: {names[i]}" if i < len(names) and names[i] else str(i) for i in range(count)
    )


def select_planes(
    image: ImageData, *, channel: Optional[int] = None, z: Optional[int] = None,
    labels: bool = False,
) -> Planes:
    """The plane (Y, X) or movie (T, Y, X) to analyse, picking ``channel`` and ``z``.

    A multi-channel file needs ``channel``, a Z stack needs ``z``; colour (RGB) becomes grey
    by luma unless ``labels`` (label images keep their integers). Raises ImageReadError
    saying what to choose when the axes leave the choice open.
    """
    axes, shape = image.axes, image.shape
    sizes = dict(zip(axes, shape))
    unknown = [a for a, n in zip(axes, shape) if a not in "TZCYXS" and n > 1]
    if "Y" not in axes or "X" not in axes or unknown:
        raise ImageReadError(
            f"axes {axes} of shape {shape} do not say which is time, depth or channel; "
            "save the file as an ImageJ hyperstack or OME-TIFF"
        )
    colour = "S" in axes and not labels and sizes["S"] in (3, 4)
    if "S" in axes and not colour:
        raise ImageReadError(f"label images must have one channel, got axes {axes} {shape}")
    index: list[Any] = []
    for a, n in zip(axes, shape):
        if a == "C":
            if channel is None and n > 1:
                raise ImageReadError(
                    f"{n} channels ({_channel_list(image, n)}): choose one with --channel N"
                )
            chosen = 0 if channel is None else channel
            if not 0 <= chosen < n:
                raise ImageReadError(
                    f"no channel {chosen}: {n} channel{'s' * (n > 1)} ({_channel_list(image, n)})"
                )
            index.append(chosen)
        elif a == "Z":
            if z is None and n > 1:
                raise ImageReadError(
                    f"a Z stack of {n} planes: choose one with --z N (0 to {n - 1}); "
                    "volumes are not analysed"
                )
            chosen = 0 if z is None else z
            if not 0 <= chosen < n:
                raise ImageReadError(f"no plane z={chosen}: the Z stack has {n} planes")
            index.append(chosen)
        elif a == "T":
            index.append(None)
        elif a in "YXS":
            index.append(None)
        else:
            index.append(0)
    if channel not in (None, 0) and "C" not in axes:
        raise ImageReadError(f"no channel {channel}: the file has one channel")
    if z not in (None, 0) and "Z" not in axes:
        raise ImageReadError(f"no plane z={z}: the file has no Z axis")
    frames = sizes.get("T", 1)
    return Planes(image, tuple(index), frames, frames > 1, colour, labels)
