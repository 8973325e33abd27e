"""Reader of what the command line writes: a result folder or its ``maps.tif``.

The layers are rebuilt with the same builders the widget uses, so an exported folder opens
as the session that wrote it looked: the director coarse-grained again from the maps on the
same grid and core scale, the defects from ``defects.csv``, the nuclei from ``nuclei.csv``.
"""

from __future__ import annotations

import json
from collections.abc import Callable
from pathlib import Path
from typing import Any, Optional

import numpy as np

from ..defects import coarse_grain
from ._compat import normalise_defect_table, normalise_nucleus_table
from .layers import LayerData, coherence_layer, defect_layers, director_layer, nuclei_layer

__all__ = ["get_reader", "read_result"]

MAPS_NAME = "maps.tif"
MAP_CHANNELS = ("theta_rad", "coherence", "order")
DEFAULT_GRID_STEP = 8


def _is_result_folder(path: Path) -> bool:
    return path.is_dir() and ((path / MAPS_NAME).is_file() or (path / "defects.csv").is_file())


def get_reader(path: str | list[str]) -> Optional[Callable[[Any], list[LayerData]]]:
    """napari's reader hook: a reader for a result folder or a ``maps.tif``, else None."""
    if isinstance(path, list):
        if len(path) != 1:
            return None
        path = path[0]
    candidate = Path(path)
    if candidate.name == MAPS_NAME and candidate.is_file():
        return read_result
    if _is_result_folder(candidate):
        return read_result
    return None


def _read_maps(path: Path) -> tuple[np.ndarray, Optional[float]]:
    """The maps as a (T, C, Y, X) float array and the pixel size from the resolution tags."""
    import tifffile

    with tifffile.TiffFile(path) as tif:
        series = tif.series[0]
        data = series.asarray()
        axes = series.axes
        page = tif.pages[0]
        size = None
        tag = page.tags.get("XResolution")
        if tag is not None:
            numerator, denominator = tag.value
            if numerator > 0 and denominator > 0 and (numerator, denominator) != (1, 1):
                size = denominator / numerator
    if "C" not in axes:
        raise ValueError(f"{path} holds no channels, so it is not a tazmir maps file")
    order = [axes.index(a) for a in "TCYX" if a in axes]
    data = np.transpose(data, order)
    if "T" not in axes:
        data = data[np.newaxis]
    if data.shape[1] != len(MAP_CHANNELS):
        raise ValueError(f"{path} has {data.shape[1]} channels, expected {len(MAP_CHANNELS)}: "
                         f"{', '.join(MAP_CHANNELS)}")
    return data.astype(np.float64), size


def _read_json(path: Path) -> dict[str, Any]:
    if not path.is_file():
        return {}
    return json.loads(path.read_text(encoding="utf-8"))


def read_result(path: str | list[str]) -> list[LayerData]:
    """Layers of a result folder (or of its maps.tif alone): the image when the folder has
    it, coherence, director, defects with axes and tracks, nuclear ellipses."""
    if isinstance(path, list):
        path = path[0]
    given = Path(path)
    folder = given if given.is_dir() else given.parent
    summary = _read_json(folder / "summary.json")
    name = folder.name if given.is_dir() else given.stem
    maps_path = folder / MAPS_NAME
    maps, tif_size = _read_maps(maps_path) if maps_path.is_file() else (None, None)
    pixel_size = summary.get("pixel_size_um") or tif_size or 1.0
    step = int(summary.get("grid_step") or DEFAULT_GRID_STEP)
    tables = _tables(folder, pixel_size) if given.is_dir() else {}
    n_frames = summary.get("n_frames") or (1 if maps is None else maps.shape[0])
    stacked = n_frames > 1
    scale = (1.0, pixel_size, pixel_size) if stacked else (pixel_size, pixel_size)
    translate = (0.0,) * len(scale)
    layers: list[LayerData] = []
    image_path = folder / "image.tif"
    if given.is_dir() and image_path.is_file():
        import tifffile

        layers.append((tifffile.imread(image_path), {"name": name, "scale": scale}, "image"))
    if maps is not None:
        # The analysis's coarse grid: block means of the nematic tensor smoothed at the core
        # scale (the maps hold the unmasked field; a user's mask is not recorded).
        core_radius = float(summary.get("core_radius_px") or 2 * step)
        grids = [coarse_grain(frame[0], frame[1], step, core_radius) for frame in maps]
        layers.append(director_layer(
            [g.director for g in grids], [g.order for g in grids], step,
            frames=list(range(len(grids))) if stacked else None,
            name=f"{name} director", scale=scale, translate=translate,
        ))
        coherence = maps[:, 1] if stacked else maps[0, 1]
        layers.append(coherence_layer(coherence, name=f"{name} coherence", scale=scale,
                                      translate=translate))
    if "defects" in tables:
        layers.extend(defect_layers(tables["defects"], step,
                                    core_radius_px=summary.get("core_radius_px"),
                                    stacked=stacked, name=name, scale=scale,
                                    translate=translate))
    if "nuclei" in tables:
        layers.append(nuclei_layer(tables["nuclei"], stacked=stacked, name=name, scale=scale,
                                   translate=translate))
    if not layers:
        raise ValueError(f"{given} holds no tazmir maps or defects")
    return layers


def _tables(folder: Path, pixel_size_um: float) -> dict[str, Any]:
    """defects.csv and nuclei.csv of a result folder, where present, as the layers read them."""
    import pandas as pd

    tables = {}
    if (folder / "defects.csv").is_file():
        tables["defects"] = normalise_defect_table(pd.read_csv(folder / "defects.csv"))
    if (folder / "nuclei.csv").is_file():
        tables["nuclei"] = normalise_nucleus_table(pd.read_csv(folder / "nuclei.csv"),
                                                   pixel_size_um)
    return tables
