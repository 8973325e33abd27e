"""Conversions between tazmir's axis angles and the conventions of other image tools.

tazmir reports an undirected orientation (an axis) as an angle in radians in [0, pi). Two
reference axes occur:

* the *director convention* of the orientation field (``theta`` of
  ``compute_structure_tensor``), of the block directors and of the defect charges: the angle
  from the column axis (x, to the right) towards the row axis (y, downwards in an image);
* the *row-axis convention* of ``fit_nuclear_ellipses``: the angle from the row axis towards
  the column axis, so 0 is a nucleus elongated vertically.

The cell-shape ``elongation_angle`` is the direction of the dominant edge normals in the
contour's (x, y) frame, perpendicular to the long axis; ``normal_to_director`` turns it into
the long-axis angle. Every function accepts a float or an array and returns the same kind.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

__all__ = [
    "fold",
    "director_to_row_axis",
    "row_axis_to_director",
    "normal_to_director",
    "to_skimage_orientation",
    "from_skimage_orientation",
    "to_orientationj_degrees",
    "from_orientationj_degrees",
]

_HALF_PI = 0.5 * np.pi


def _result(values: np.ndarray, like: object) -> float | np.ndarray:
    """Return a Python float for scalar input, an array otherwise."""
    if np.ndim(like) == 0:
        return float(values)
    return values


def _fold_array(values: npt.ArrayLike, period: float, low: float) -> np.ndarray:
    """Bring angles into [low, low + period); rounding never yields the upper end."""
    shifted = np.mod(np.asarray(values, dtype=np.float64) - low, period)
    # np.mod of a tiny negative number rounds up to `period` itself.
    shifted = np.where(shifted >= period, 0.0, shifted)
    return shifted + low


def fold(angle: float | npt.ArrayLike) -> float | np.ndarray:
    """Fold any axis angle (radians) into [0, pi)."""
    return _result(_fold_array(angle, np.pi, 0.0), angle)


def row_axis_to_director(angle: float | npt.ArrayLike) -> float | np.ndarray:
    """Turn an angle from the row axis (nuclear ellipses) into the director convention."""
    return _result(_fold_array(_HALF_PI - np.asarray(angle, dtype=np.float64), np.pi, 0.0), angle)


def director_to_row_axis(theta: float | npt.ArrayLike) -> float | np.ndarray:
    """Turn a director-convention angle into the row-axis convention of nuclear ellipses."""
    # Swapping the two axes is its own inverse.
    return row_axis_to_director(theta)


def normal_to_director(elongation_angle: float | npt.ArrayLike) -> float | np.ndarray:
    """Long-axis angle of a cell outline from its ``elongation_angle`` (the normals' direction).

    Assumes the contour's x is the column and y the row coordinate, as in the image.
    """
    values = np.asarray(elongation_angle, dtype=np.float64) + _HALF_PI
    return _result(_fold_array(values, np.pi, 0.0), elongation_angle)


def to_skimage_orientation(theta: float | npt.ArrayLike) -> float | np.ndarray:
    """Director-convention angle to scikit-image's ``regionprops(...).orientation``.

    scikit-image measures the long axis from the row axis towards the column axis, in
    (-pi/2, pi/2]: 0 is vertical, +-pi/2 horizontal.
    """
    row_axis = _HALF_PI - np.asarray(theta, dtype=np.float64)
    # (-pi/2, pi/2] is the mirror image of [-pi/2, pi/2).
    return _result(0.0 - _fold_array(-row_axis, np.pi, -_HALF_PI), theta)


def from_skimage_orientation(orientation: float | npt.ArrayLike) -> float | np.ndarray:
    """scikit-image's ``regionprops(...).orientation`` to a director-convention angle."""
    return row_axis_to_director(orientation)


def to_orientationj_degrees(theta: float | npt.ArrayLike) -> float | np.ndarray:
    """Director-convention angle to OrientationJ-style degrees.

    Those degrees are counter-clockwise on screen from the horizontal axis (x to the right,
    y upwards as displayed), in (-90, 90]: a structure running from lower left to upper right
    is +45. Rows grow downwards, so this turns the other way round from the director
    convention.
    """
    degrees = -np.degrees(np.asarray(theta, dtype=np.float64))
    return _result(0.0 - _fold_array(-degrees, 180.0, -90.0), theta)


def from_orientationj_degrees(degrees: float | npt.ArrayLike) -> float | np.ndarray:
    """OrientationJ-style degrees to a director-convention angle in [0, pi)."""
    radians = -np.radians(np.asarray(degrees, dtype=np.float64))
    return _result(_fold_array(radians, np.pi, 0.0), degrees)
