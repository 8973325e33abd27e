"""Sample data for File > Open Sample > tazmir: synthetic tissues with planted defects."""

from __future__ import annotations

import numpy as np

from ..synthetic import PlantedDefect, synthetic_tissue
from .layers import LayerData

__all__ = ["synthetic_movie", "tissue_sample", "movie_sample"]


def tissue_sample() -> list[LayerData]:
    """The demo's tissue: 192 x 192 px at 0.5 µm/px, +1/2 at (96, 64), -1/2 at (96, 128) px,
    with its nuclei as labels."""
    tissue = synthetic_tissue()
    scale = (tissue.pixel_size_um, tissue.pixel_size_um)
    planted = [(d.row, d.col, d.charge) for d in tissue.defects]
    metadata = {"pixel_size_um": tissue.pixel_size_um, "planted_defects": planted}
    return [
        (tissue.image, {"name": "synthetic tissue", "scale": scale, "metadata": metadata},
         "image"),
        (tissue.nuclear_mask, {"name": "synthetic nuclei", "scale": scale}, "labels"),
    ]


def synthetic_movie(
    n_frames: int = 5, size: int = 128, *, step_px: float = 3.0, seed: int = 7
) -> tuple[np.ndarray, list[tuple[PlantedDefect, ...]], float]:
    """A T x Y x X stack whose +1/2 and -1/2 defects approach each other by ``step_px`` per
    frame each; returns the stack, the planted defects per frame and the pixel size (µm)."""
    frames, planted = [], []
    for t in range(n_frames):
        defects = (
            PlantedDefect(size / 2, size / 4 + step_px * t, 0.5),
            PlantedDefect(size / 2, 3 * size / 4 - step_px * t, -0.5),
        )
        tissue = synthetic_tissue(size, defects=defects, n_outlined=0, seed=seed + t)
        frames.append(tissue.image)
        planted.append(defects)
    return np.stack(frames), planted, tissue.pixel_size_um


def movie_sample() -> list[LayerData]:
    """Five frames of 128 x 128 px in which a +1/2 and a -1/2 defect approach each other."""
    stack, _, pixel_size_um = synthetic_movie()
    metadata = {"pixel_size_um": pixel_size_um}
    return [(stack, {"name": "synthetic movie", "scale": (1.0, pixel_size_um, pixel_size_um),
                     "metadata": metadata}, "image")]
