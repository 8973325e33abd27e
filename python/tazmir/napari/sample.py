"""Sample data for File > Open Sample > tazmir: synthetic tissues with planted defects."""

from __future__ import annotations

from ..synthetic import synthetic_movie, synthetic_tissue
from .layers import LayerData

__all__ = ["movie_sample", "tissue_sample"]


def tissue_sample() -> list[LayerData]:
    """The demo's tissue: 192 x 192 px at 0.5 µm/px, +1/2 at (96, 64) and -1/2 at (96, 128)
    px, with its nuclei as labels. The planted defects are in the image's metadata."""
    tissue = synthetic_tissue()
    scale = (tissue.pixel_size_um, tissue.pixel_size_um)
    planted = [(d.row, d.col, d.charge) for d in tissue.defects]
    metadata = {"pixel_size_um": tissue.pixel_size_um, "planted_defects": planted}
    return [
        (tissue.image, {"name": "synthetic tissue", "scale": scale, "metadata": metadata},
         "image"),
        (tissue.nuclear_mask, {"name": "synthetic nuclei", "scale": scale}, "labels"),
    ]


def movie_sample() -> list[LayerData]:
    """Eight frames of 160 x 160 px at 0.5 µm/px in which two +-1/2 pairs drift at 1-2 px per
    frame; the planted paths (row, col per frame and defect) are in the metadata."""
    movie = synthetic_movie()
    size = movie.pixel_size_um
    metadata = {"pixel_size_um": size, "planted_positions": movie.positions,
                "planted_charges": movie.charges}
    return [(movie.frames, {"name": "synthetic movie", "scale": (1.0, size, size),
                            "metadata": metadata}, "image")]
