"""The structure tensor of a large image in strips of rows, in bounded memory.

`_native.compute_structure_tensor` wants the whole image as float64 (8 bytes a pixel beside
the 16 of its two results). Its values are local: the Scharr gradient reads one row on either
side and the Gaussian ceil(4 sigma) rows, so a strip of rows with that many rows of halo on
each side gives its inner rows bit for bit as the whole image would. Converting one strip at
a time, a 16-bit image costs 2 bytes a pixel on top of the results instead of 8.
"""

from __future__ import annotations

import math

import numpy as np

import _native

__all__ = ["structure_tensor"]

# Images up to this many pixels go to the core in one piece: strips recompute their halo.
WHOLE_PIXELS = 1 << 23
# Pixels of one strip beyond that: its float64 copy, results and the core's workspace.
STRIP_PIXELS = 1 << 21


def halo_rows(sigma: float) -> int:
    """Rows beyond a strip that its inner rows depend on: the Gaussian's ceil(4 sigma) rows
    (none below sigma 0.5, which the core does not smooth) and the gradient's one, plus one
    to spare."""
    radius = 0 if sigma < 0.5 else math.ceil(4.0 * sigma)
    return radius + 2


def structure_tensor(image: np.ndarray, sigma: float, strip_pixels: int = STRIP_PIXELS,
                     whole_pixels: int = WHOLE_PIXELS) -> dict[str, np.ndarray]:
    """{"theta", "coherence"} of `_native.compute_structure_tensor` on ``image`` (any real
    dtype; above ``whole_pixels`` converted to float64 in strips of about ``strip_pixels``),
    equal to it bit for bit."""
    rows, cols = image.shape
    if image.size <= whole_pixels:
        return _native.compute_structure_tensor(
            np.ascontiguousarray(image, dtype=np.float64), sigma)
    halo = halo_rows(sigma)
    strip = max(4 * halo, strip_pixels // max(cols, 1))
    theta = np.empty((rows, cols), dtype=np.float64)
    coherence = np.empty((rows, cols), dtype=np.float64)
    for top in range(0, rows, strip):
        bottom = min(rows, top + strip)
        first, last = max(0, top - halo), min(rows, bottom + halo)
        part = _native.compute_structure_tensor(
            np.ascontiguousarray(image[first:last], dtype=np.float64), sigma)
        theta[top:bottom] = part["theta"][top - first: bottom - first]
        coherence[top:bottom] = part["coherence"][top - first: bottom - first]
    return {"theta": theta, "coherence": coherence}
