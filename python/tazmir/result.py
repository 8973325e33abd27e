"""The result of one image analysis: every intermediate, the parameter set and a summary."""

from __future__ import annotations

import functools
import math
from dataclasses import dataclass
from typing import Any, Optional, Union

import numpy as np

from .correlation import Correlation
from .energy import FrankDensities
from .grid import DirectorGrid
from .scales import Scales
from .spatial import RipleyResult

__all__ = ["DEFECT_COLUMNS", "Defect", "ImageAnalysis", "SummaryValue"]

SummaryValue = Optional[Union[bool, int, float]]


# Columns of defects.csv and of ImageAnalysis.defects_frame(), in order.
DEFECT_COLUMNS = (
    "frame", "row_px", "col_px", "row_um", "col_um", "charge", "angle_rad", "order", "confidence",
    "anisotropy", "anisotropy_err",
)


@dataclass(frozen=True)
class Defect:
    """A topological defect of the coarse director field.

    ``row_px``/``col_px`` are sub-pixel coordinates (pixel centres at integer positions),
    ``row_um``/``col_um`` the same in µm. A positive charge winds the director in the sense
    from the column axis towards the row axis. ``angle_rad`` is the orientation, measured
    from the column axis towards the row axis: for +1/2 the axis pointing from the core to
    the comet's tail (where the director runs radially), in [0, 2pi); for -1/2 one of its
    three arms (where the director runs radially), in [0, 2pi/3); nan for other charges.
    ``order`` is the local order S on a ring around the core; ``confidence`` in [0, 1] how
    closely the director on that ring follows the ideal profile of its charge (1: exactly;
    noise scores about 0.1). In a movie ``frame`` is the frame index and ``track`` the
    trajectory id (0 and None for a still image). ``anisotropy`` ± ``anisotropy_err`` is the
    splay–bend anisotropy ε = (K1 − K3)/(K1 + K3) fitted to the director around a +1/2 defect
    (`tazmir.elasticity.defect_anisotropy`); None for other charges or without room around
    the core.
    """

    row_px: float
    col_px: float
    row_um: float
    col_um: float
    charge: float
    angle_rad: float
    order: float
    confidence: float
    frame: int = 0
    track: Optional[int] = None
    anisotropy: Optional[float] = None
    anisotropy_err: Optional[float] = None

    @property
    def row(self) -> float:
        """Alias of ``row_px``."""
        return self.row_px

    @property
    def col(self) -> float:
        """Alias of ``col_px``."""
        return self.col_px


def _frame(rows: list[dict[str, Any]], columns: tuple[str, ...]) -> Any:
    import pandas as pd

    return pd.DataFrame.from_records(rows, columns=list(columns))


@dataclass(frozen=True, eq=False)
class ImageAnalysis:
    """Everything ``analyze_image`` measured on one image.

    ``theta`` and ``coherence`` are the structure tensor's pixel maps as float32 (for display
    and export; the analysis itself ran on the core's float64 values).

    ``correlation`` is G_k(r) of the valid grid points in µm with its fitted decay length
    (`tazmir.correlation.Correlation`), ``energy`` the Frank splay and bend over the analysed
    area ``analysed_area_um2`` with the defect cores left out (`tazmir.energy.FrankDensities`).
    Dicts are the core's results as returned by ``_native`` (same keys, same order):
    ``poincare_hopf`` (charge sum against Euler characteristic 0: the image is a planar
    patch whose director has no net winding along its border), ``ldg`` (Landau–de Gennes
    coefficients from the block order parameters: ``a`` and ``k_elastic`` estimated, ``b``
    = 0 and ``c`` = 1 fixed by the model), ``fenwold`` (the downstream parameter set) with its
    JSON text in ``fenwold_json``. ``nuclei`` (one dict per fitted nucleus, angles in the row-axis
    convention) with ``ripley`` (K and L − r of the nucleus centroids in µm with the CSR
    envelope, `tazmir.spatial.RipleyResult`), and ``shapes`` (one
    dict per contour) are None unless a mask or contours were given.
    """

    image_shape: tuple[int, int]
    pixel_size_um: float
    sigma: float
    grid_step: int
    k: int
    theta: np.ndarray
    coherence: np.ndarray
    grid: DirectorGrid
    defects: tuple[Defect, ...]
    poincare_hopf: dict[str, Any]
    correlation: Correlation
    ldg: dict[str, float]
    energy: FrankDensities
    analysed_area_um2: float
    fenwold: dict[str, float]
    fenwold_json: str
    nuclei: Optional[list[dict[str, float]]] = None
    ripley: Optional[RipleyResult] = None
    shapes: Optional[list[dict[str, Any]]] = None
    nucleus_table: Optional[list[dict[str, Any]]] = None
    cell_table: Optional[list[dict[str, Any]]] = None
    scales: Optional[Scales] = None

    def __repr__(self) -> str:
        rows, cols = self.image_shape
        charges = [d.charge for d in self.defects]
        text = (f"ImageAnalysis({rows} x {cols} px at {self.pixel_size_um:.4g} µm/px, "
                f"{len(charges)} defects ({sum(q > 0 for q in charges)}+ "
                f"{sum(q < 0 for q in charges)}-), mean order {self._mean_order():.3g}, "
                f"correlation length {self.correlation_length_um:.4g} µm")
        if self.nucleus_table is not None:
            text += f", {len(self.nucleus_table)} nuclei"
        if self.cell_table is not None:
            text += f", {len(self.cell_table)} cells"
        return text + ")"

    def nuclei_frame(self) -> Any:
        """nuclei.csv as a pandas DataFrame (one row per nucleus label; empty without nuclei)."""
        from .labels import NUCLEUS_COLUMNS

        return _frame(self.nucleus_table or [], NUCLEUS_COLUMNS)

    def cells_frame(self) -> Any:
        """cells.csv as a pandas DataFrame (one row per cell label or contour)."""
        from .labels import CELL_COLUMNS

        return _frame(self.cell_table or [], CELL_COLUMNS)

    @property
    def correlation_length_um(self) -> float:
        """Fitted decay length of G_k(r), in µm (NaN when no decay could be fitted; check
        ``correlation.fit_ok`` before trusting it)."""
        return self.correlation.length_um

    @property
    def core_radius_px(self) -> float:
        """The defect-core scale (px): coarse-graining radius and exclusion distance."""
        return math.nan if self.scales is None else self.scales.core_radius_px

    def defect_rows(self) -> list[dict[str, Any]]:
        """One dict per defect with the keys of ``DEFECT_COLUMNS``, in that order."""
        return [{name: getattr(d, name) for name in DEFECT_COLUMNS} for d in self.defects]

    def defects_frame(self) -> Any:
        """The defects as a pandas DataFrame with the columns of ``DEFECT_COLUMNS``
        (positions in px and µm, angles in radians); needs pandas (the ``cli`` extra)."""
        return _frame(self.defect_rows(), DEFECT_COLUMNS)

    @property
    def frank(self) -> dict[str, float]:
        """Splay, bend (totals over the analysed area) and their ratio, as params.json has them."""
        return {
            "splay": self.fenwold["frank_splay"],
            "bend": self.fenwold["frank_bend"],
            "ratio": self.fenwold["frank_ratio"],
        }

    def _chosen(self, source: str) -> Optional[bool]:
        return None if self.scales is None else getattr(self.scales, source) == "auto"

    def _valid(self) -> np.ndarray:
        grid = self.grid
        return np.ones(grid.shape, bool) if grid.valid is None else grid.valid

    def _mean_order(self) -> float:
        valid = self._valid()
        return float(np.mean(self.grid.order[valid])) if valid.any() else math.nan

    def _analysed_fraction(self) -> float:
        valid = self._valid()
        return float(valid.mean()) if valid.size else 0.0

    def to_json(self) -> str:
        """The downstream parameter set as the exact JSON text the fenwold simulator reads."""
        return self.fenwold_json

    @functools.cached_property
    def _mean_coherence(self) -> float:
        # A pass over every pixel, asked for by summary.json and again by the figure.
        return float(np.mean(self.coherence, dtype=np.float64))

    def summary(self) -> dict[str, SummaryValue]:
        """A flat dict of the headline numbers (None where a measurement was not made)."""
        charges = [d.charge for d in self.defects]
        corr = self.correlation
        out: dict[str, SummaryValue] = {
            "image_rows": self.image_shape[0],
            "image_cols": self.image_shape[1],
            "pixel_size_um": self.pixel_size_um,
            "sigma": self.sigma,
            "grid_step": self.grid_step,
            "k": self.k,
            "core_radius_px": self.core_radius_px,
            # Whether each scale was read off the image (True) or given by the user.
            "sigma_auto": self._chosen("sigma_source"),
            "grid_step_auto": self._chosen("grid_step_source"),
            "core_radius_auto": self._chosen("core_source"),
            "mean_coherence": self._mean_coherence,
            "mean_order": self._mean_order(),
            "analysed_fraction": self._analysed_fraction(),
            "n_defects": len(self.defects),
            "n_positive": sum(1 for q in charges if q > 0),
            "n_negative": sum(1 for q in charges if q < 0),
            "charge_sum": float(self.poincare_hopf["charge_sum"]),
            "poincare_hopf_valid": bool(self.poincare_hopf["is_valid"]),
            "analysed_area_um2": self.analysed_area_um2,
            "defect_density_per_um2": (
                len(self.defects) / self.analysed_area_um2 if self.analysed_area_um2 > 0
                else math.nan
            ),
            # A length from a fit that misses the data is not reported (the flag says why).
            "correlation_length_um": corr.length_um if corr.fit_ok else math.nan,
            "correlation_length_err_um": corr.length_err_um if corr.fit_ok else math.nan,
            "correlation_fit_r2": self.correlation.r2,
            "correlation_fit_ok": self.correlation.fit_ok,
            "correlation_length_1e_um": self.correlation.length_1e_um,
            "ldg_a": self.ldg["a"],
            "ldg_b_fixed": self.ldg["b"],
            "ldg_c_fixed": self.ldg["c"],
            "ldg_k_elastic": self.ldg["k_elastic"],
            "frank_splay_density": self.energy.splay_density,
            "frank_bend_density": self.energy.bend_density,
            "frank_splay": self.energy.splay,
            "frank_bend": self.energy.bend,
            "frank_ratio": self.frank["ratio"],
            "zeta_eff": self.fenwold["zeta_eff"],
            "n_nuclei": None,
            "nuclear_aspect_ratio_median": None,
            "n_cells": None,
            "shape_index_mean": None,
        }
        if self.nuclei is not None:
            out["n_nuclei"] = len(self.nuclei)
            ratios = [n["aspect_ratio"] for n in self.nuclei]
            out["nuclear_aspect_ratio_median"] = float(np.median(ratios)) if ratios else math.nan
        if self.shapes is not None:
            out["n_cells"] = len(self.shapes)
            indices = [s["shape_index"] for s in self.shapes]
            out["shape_index_mean"] = float(np.mean(indices)) if indices else math.nan
        return out
