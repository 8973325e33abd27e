"""The coarse director grid: the director, its order and where it is defined, on block centres."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import numpy as np

__all__ = ["DirectorGrid", "grid_to_pixels"]


@dataclass(frozen=True)
class DirectorGrid:
    """The coarse director field on the centres of square blocks of ``step`` pixels.

    ``director`` is the director (director convention, [0, pi)); ``order`` the local order
    parameter S in [0, 1]; ``coherence`` the mean structure-tensor coherence. ``valid``
    marks the points where a director is defined (None: all). Trailing pixels that do not
    fill a whole block are left out; ``analyze_image`` builds the grid from block means of the
    nematic tensor smoothed at the defect-core scale (see `tazmir.defects`).
    """

    director: np.ndarray
    order: np.ndarray
    coherence: np.ndarray
    step: int
    valid: Optional[np.ndarray] = None

    @property
    def shape(self) -> tuple[int, int]:
        return self.director.shape  # type: ignore[return-value]


def grid_to_pixels(position: np.ndarray, step: int) -> np.ndarray:
    """Pixel coordinates of fractional block indices.

    Block b spans pixels b*step ... (b+1)*step - 1, so its centre is (b + 0.5)*step - 0.5; a
    defect between four block centres, at grid position b + 0.5, lands half-way between them.
    """
    return (np.asarray(position, dtype=np.float64) + 0.5) * step - 0.5
