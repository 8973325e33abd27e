"""The coarse director grid: blocks of pixels, their mean nematic tensor and their centres."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import numpy as np

from .angles import fold

__all__ = ["DirectorGrid", "block_director", "continuous_director", "grid_to_pixels"]


@dataclass(frozen=True)
class DirectorGrid:
    """The coarse director field on the centres of square blocks of ``step`` pixels.

    ``director`` is the director (director convention, [0, pi)); ``order`` the local order
    parameter S in [0, 1]; ``coherence`` the mean structure-tensor coherence. ``valid``
    marks the points where a director is defined (None: all). Trailing pixels that do not
    fill a whole block are left out. ``block_director`` gives plain block averages;
    ``analyze_image`` smooths them at the defect-core scale first.
    """

    director: np.ndarray
    order: np.ndarray
    coherence: np.ndarray
    step: int
    valid: Optional[np.ndarray] = None

    @property
    def shape(self) -> tuple[int, int]:
        return self.director.shape  # type: ignore[return-value]

    def centres_px(self) -> np.ndarray:
        """Block centres as (row, col) pixel coordinates, shape (rows, cols, 2)."""
        rows, cols = self.shape
        r, c = np.meshgrid(np.arange(rows), np.arange(cols), indexing="ij")
        return grid_to_pixels(np.stack([r, c], axis=-1), self.step)


def grid_to_pixels(position: np.ndarray, step: int) -> np.ndarray:
    """Pixel coordinates of fractional block indices.

    Block b spans pixels b*step ... (b+1)*step - 1, so its centre is (b + 0.5)*step - 0.5; a
    defect between four block centres, at grid position b + 0.5, lands half-way between them.
    """
    return (np.asarray(position, dtype=np.float64) + 0.5) * step - 0.5


def _block_mean(values: np.ndarray, rows: int, cols: int, step: int) -> np.ndarray:
    blocks = values[: rows * step, : cols * step].reshape(rows, step, cols, step)
    return blocks.mean(axis=(1, 3))


def block_director(theta: np.ndarray, coherence: np.ndarray, step: int) -> DirectorGrid:
    """Average the nematic tensor (cos 2θ, sin 2θ), weighted by coherence, over blocks."""
    rows, cols = theta.shape[0] // step, theta.shape[1] // step
    doubled = 2.0 * theta
    q_cos = _block_mean(coherence * np.cos(doubled), rows, cols, step)
    q_sin = _block_mean(coherence * np.sin(doubled), rows, cols, step)
    director = fold(0.5 * np.arctan2(q_sin, q_cos))
    return DirectorGrid(
        director=np.asarray(director, dtype=np.float64),
        order=np.hypot(q_cos, q_sin),
        coherence=_block_mean(coherence, rows, cols, step),
        step=step,
    )


def continuous_director(director: np.ndarray) -> np.ndarray:
    """Lift nematic block directors to a branch that is continuous between neighbours.

    A director and its turn by pi are the same axis, but a gradient of the raw angles would
    count that jump as a full deformation; lifting leaves a jump only across the branch cut
    that a half-integer defect forces.
    """
    lifted = np.array(director, dtype=np.float64)
    if lifted.size == 0:
        return lifted
    lifted[:, 0] = np.unwrap(lifted[:, 0], period=np.pi)
    return np.unwrap(lifted, period=np.pi, axis=1)
