"""Comparing two groups of images metric by metric: means, difference, permutation p-value.

Each per-image number of summary.json is compared between the groups with the core's seeded
two-sided permutation test of the difference of means, so the same inputs give the same table
to the last digit.
"""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

import _native

__all__ = ["COMPARISON_COLUMNS", "comparison_csv", "comparison_figure", "compare_groups",
           "metrics_of"]

COMPARISON_COLUMNS = ("metric", "n_a", "n_b", "mean_a", "mean_b", "std_a", "std_b",
                      "difference", "p_value")
# Settings and bookkeeping rather than measurements of the tissue.
NOT_METRICS = frozenset({
    "image_rows", "image_cols", "pixel_size_um", "sigma", "grid_step", "core_radius_px", "k",
    "channel", "z", "n_frames", "frame_interval_s", "search_range_um", "memory",
})


def _number(value: Any) -> float:
    """A finite float, or NaN for anything that is not a measured number."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return math.nan
    return float(value) if math.isfinite(value) else math.nan


def metrics_of(summaries: Sequence[Mapping[str, Any]]) -> list[str]:
    """The numeric per-image measurements in ``summaries``, in first-seen order (settings,
    values fixed by the model (``*_fixed``) and flags left out)."""
    names: list[str] = []
    for summary in summaries:
        for key, value in summary.items():
            if (key in names or key in NOT_METRICS or key.endswith("_fixed")
                    or isinstance(value, bool)):
                continue
            if isinstance(value, (int, float)) or value is None:
                names.append(key)
    return [n for n in names
            if any(math.isfinite(_number(s.get(n))) for s in summaries)]


def compare_groups(
    group_a: Sequence[Mapping[str, Any]],
    group_b: Sequence[Mapping[str, Any]],
    *,
    n_permutations: int = 9999,
    seed: int = 0,
) -> list[dict[str, Any]]:
    """One row per metric (columns `COMPARISON_COLUMNS`): the images of each group with a
    finite value, their means and standard deviations (ddof 1), mean_a − mean_b and the
    two-sided permutation p-value of `_native.permutation_test` (empty when a group has no
    value)."""
    rows = []
    for metric in metrics_of([*group_a, *group_b]):
        a = np.array([_number(s.get(metric)) for s in group_a])
        b = np.array([_number(s.get(metric)) for s in group_b])
        a, b = a[np.isfinite(a)], b[np.isfinite(b)]
        row: dict[str, Any] = {"metric": metric, "n_a": int(a.size), "n_b": int(b.size)}
        row["mean_a"] = float(a.mean()) if a.size else None
        row["mean_b"] = float(b.mean()) if b.size else None
        row["std_a"] = float(a.std(ddof=1)) if a.size > 1 else None
        row["std_b"] = float(b.std(ddof=1)) if b.size > 1 else None
        if a.size and b.size:
            test = _native.permutation_test(a, b, n_permutations, seed)
            row["difference"] = float(test["observed"])
            row["p_value"] = float(test["p_value"])
        else:
            row["difference"] = row["p_value"] = None
        rows.append(row)
    return rows


def _cell(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, float):
        return repr(value)
    return str(value)


def comparison_csv(rows: Sequence[Mapping[str, Any]]) -> str:
    """``comparison.csv`` text: a header of `COMPARISON_COLUMNS`, then one line per metric."""
    lines = [",".join(COMPARISON_COLUMNS)]
    lines += [",".join(_cell(row[c]) for c in COMPARISON_COLUMNS) for row in rows]
    return "\n".join(lines) + "\n"


def comparison_figure(
    group_a: Sequence[Mapping[str, Any]],
    group_b: Sequence[Mapping[str, Any]],
    rows: Sequence[Mapping[str, Any]],
    labels: tuple[str, str] = ("A", "B"),
) -> Any:
    """A matplotlib Figure with one panel per metric: each image's value per group (points
    spread sideways), the group means as bars, the p-value in the title."""
    from matplotlib.figure import Figure

    n_cols = 4
    n_rows = max(1, math.ceil(len(rows) / n_cols))
    fig = Figure(figsize=(3.2 * n_cols, 2.6 * n_rows), dpi=100)
    axes = np.atleast_1d(fig.subplots(n_rows, n_cols, squeeze=False)).ravel()
    fig.subplots_adjust(left=0.06, right=0.98, bottom=0.04, top=0.95, wspace=0.45, hspace=0.6)
    for ax, row in zip(axes, rows):
        for position, group, colour in ((0, group_a, "#2c7be8"), (1, group_b, "#e8412c")):
            values = np.array([_number(s.get(row["metric"])) for s in group])
            values = values[np.isfinite(values)]
            if values.size == 0:
                continue
            spread = np.linspace(-0.15, 0.15, values.size) if values.size > 1 else 0.0
            ax.plot(position + spread, values, "o", color=colour, alpha=0.8, markersize=4)
            ax.hlines(values.mean(), position - 0.25, position + 0.25, color="#333333")
        p = row["p_value"]
        ax.set_title(f"{row['metric']}\np = {p:.3g}" if p is not None else row["metric"],
                     fontsize="small")
        ax.set_xticks([0, 1], labels)
        ax.set_xlim(-0.6, 1.6)
        ax.tick_params(labelsize="x-small")
    for ax in axes[len(rows):]:
        ax.set_visible(False)
    return fig
