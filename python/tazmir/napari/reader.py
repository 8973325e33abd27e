"""Reader of what the command line writes: a result folder or its ``maps.tif``.

The layers are rebuilt with the same builders the widget uses, so an exported folder opens
as the session that wrote it looked: the director recomputed from the maps on the same blocks,
the defects from ``defects.csv``, the nuclei from ``nuclei.csv``.
"""

from __future__ import annotations

import json
from collections.abc import Callable
from pathlib import Path
from typing import Any, Optional

import numpy as np

from ..grid import block_director
from ._compat import normalise_defect_table
from .layers import LayerData, coherence_layer, defect_layers, director_layer, nuclei_layer

__all__ = ["get_reader", "read_result"]

MAPS_NAME = "maps.tif"
MAP_CHANNELS = ("theta_rad", "coherence", "order")
DEFAULT_GRID_STEP = 8
# nuclei.csv columns, with units, and the keys of the fitted ellipses they hold
_NUCLEUS_KEYS = {
    "centroid_row": ("centroid_row_px", "centroid_row"),
    "centroid_col": ("centroid_col_px", "centroid_col"),
    "semi_major": ("semi_major_px", "semi_major"),
    "semi_minor": ("semi_minor_px", "semi_minor"),
    "angle": ("angle_row_axis_rad", "angle_rad", "angle"),
}


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


def _nuclei_rows(path: Path) -> Optional[list[list[dict[str, float]]]]:
    """nuclei.csv as one list of ellipse dicts per frame, or None without the file."""
    import pandas as pd

    if not path.is_file():
        return None
    table = pd.read_csv(path)
    columns = {}
    for key, names in _NUCLEUS_KEYS.items():
        found = next((name for name in names if name in table), None)
        if found is None:
            return None  # a table without ellipses (only centroids or shapes)
        columns[found] = key
    frames = table["frame"] if "frame" in table else pd.Series(0, index=table.index)
    table = table.rename(columns=columns)
    return [
        table.loc[frames == frame, list(_NUCLEUS_KEYS)].to_dict("records")
        for frame in range(int(frames.max()) + 1 if len(frames) else 1)
    ]


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
    stacked = maps is not None and maps.shape[0] > 1
    scale = (1.0, pixel_size, pixel_size) if stacked else (pixel_size, pixel_size)
    translate = (0.0,) * len(scale)
    frames = list(range(maps.shape[0])) if stacked else None
    layers: list[LayerData] = []
    image_path = folder / "image.tif"
    if given.is_dir() and image_path.is_file():
        import tifffile

        layers.append((tifffile.imread(image_path), {"name": name, "scale": scale}, "image"))
    if maps is not None:
        grids = [block_director(frame[0], frame[1], step) for frame in maps]
        layers.append(director_layer(
            [g.director for g in grids], [g.order for g in grids], step, frames=frames,
            name=f"{name} director", scale=scale, translate=translate,
        ))
        coherence = maps[:, 1] if stacked else maps[0, 1]
        layers.append(coherence_layer(coherence, name=f"{name} coherence", scale=scale,
                                      translate=translate))
    defects_path = folder / "defects.csv"
    if given.is_dir() and defects_path.is_file():
        import pandas as pd

        table = normalise_defect_table(pd.read_csv(defects_path))
        layers.extend(defect_layers(table, step, stacked=stacked, name=name, scale=scale,
                                    translate=translate))
    nuclei = _nuclei_rows(folder / "nuclei.csv") if given.is_dir() else None
    if nuclei is not None:
        layers.append(nuclei_layer(nuclei if stacked else nuclei[:1], frames=frames, name=name,
                                   scale=scale, translate=translate))
    if not layers:
        raise ValueError(f"{given} holds no tazmir maps or defects")
    return layers
