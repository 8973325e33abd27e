"""tazmir native extension module."""

from collections.abc import Sequence
from typing import Any, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

__all__ = [
    "analyze_shape",
    "analyze_shapes_batch",
    "compute_structure_tensor",
    "compute_multiscale_structure_tensor",
    "fit_nuclear_ellipses",
    "detect_defects",
    "validate_poincare_hopf",
    "compute_persistence",
    "orientational_correlation",
    "ripley_k",
    "permutation_test",
    "frank_energy",
    "estimate_ldg_params",
    "build_fenwold_params",
]

_F64 = npt.NDArray[np.float64]
_I32 = npt.NDArray[np.int32]
_Float = SupportsFloat | SupportsIndex

class PanicException(BaseException):
    """An internal failure of the tazmir native core (a broken invariant)."""

def analyze_shape(contour_xy: _F64) -> dict[str, Any]: ...
def analyze_shapes_batch(contours: Sequence[_F64]) -> list[dict[str, Any]]: ...
def compute_structure_tensor(image: _F64, sigma: _Float) -> dict[str, _F64]: ...
def compute_multiscale_structure_tensor(
    image: _F64, sigmas: Sequence[_Float]
) -> dict[str, Any]: ...
def fit_nuclear_ellipses(nuclear_mask: _I32) -> list[dict[str, float]]: ...
def detect_defects(
    thetas: _F64, nx: SupportsIndex, ny: SupportsIndex, k: SupportsIndex, threshold: _Float
) -> list[dict[str, Any]]: ...
def validate_poincare_hopf(
    charges: Sequence[_Float], euler_characteristic: SupportsIndex, tolerance: _Float
) -> dict[str, Any]: ...
def compute_persistence(
    vertices: Sequence[tuple[SupportsIndex, _Float]],
    edges: Sequence[tuple[SupportsIndex, SupportsIndex, _Float]],
    triangles: Sequence[tuple[SupportsIndex, SupportsIndex, SupportsIndex, _Float]],
) -> list[dict[str, Any]]: ...
def orientational_correlation(
    centroids: _F64, thetas: _F64, k: SupportsIndex, max_r: _Float, n_bins: SupportsIndex
) -> dict[str, Any]: ...
def ripley_k(
    points: _F64, bbox: Sequence[_Float], r_values: _F64
) -> dict[str, _F64]: ...
def permutation_test(
    values_a: _F64, values_b: _F64, n_permutations: SupportsIndex, seed: SupportsIndex
) -> dict[str, Any]: ...
def frank_energy(
    thetas: _F64, nx: SupportsIndex, ny: SupportsIndex, dx: _Float
) -> dict[str, float]: ...
def estimate_ldg_params(
    s_values: _F64, correlation_length: _Float, pixel_size: _Float
) -> dict[str, float]: ...
def build_fenwold_params(
    a: _Float,
    b: _Float,
    c: _Float,
    k_elastic: _Float,
    splay: _Float,
    bend: _Float,
    n_defects: SupportsIndex,
    image_area_um2: _Float,
) -> dict[str, Any]: ...
