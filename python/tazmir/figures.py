"""Figures of an analysis: director field and defects on the image, and G_k(r) with its fit.

Drawn with matplotlib's object interface on the Agg canvas, so no display and no global
pyplot state are involved and figures can be made in worker processes.
"""

from __future__ import annotations

import io
import math
from typing import Any, Optional

import numpy as np

from .result import ImageAnalysis

__all__ = ["analysis_figure", "movie_figure", "png_bytes", "render_png"]

_MAX_SEGMENTS_PER_SIDE = 48
_MAX_DISPLAY_PIXELS = 640
# zlib level of analysis.png: the image underneath is noise to zlib, and level 1 compresses
# it nearly as well in a fraction of the time.
_PNG_COMPRESSION = 1


def _display_image(image: np.ndarray) -> tuple[np.ndarray, int]:
    """The image binned to about screen resolution (and the bin size): drawing every pixel
    of a large image costs far more time and memory than the analysis itself."""
    factor = max(1, math.ceil(max(image.shape) / _MAX_DISPLAY_PIXELS))
    if factor == 1 or min(image.shape) < factor:
        return image, 1
    return _bin(image, factor), factor


def _bin(values: np.ndarray, factor: int) -> np.ndarray:
    rows, cols = values.shape[0] // factor, values.shape[1] // factor
    return values[: rows * factor, : cols * factor].reshape(rows, factor, cols, factor).mean(
        axis=(1, 3)
    )


def _director_segments(result: ImageAnalysis) -> tuple[np.ndarray, np.ndarray]:
    """Line segments (x, y pixel coordinates) of the director, and their coherence.

    On large grids neighbouring blocks are pooled (their nematic tensors averaged) so that
    the segments stay few enough to read.
    """
    grid = result.grid
    factor = max(1, math.ceil(max(grid.shape) / _MAX_SEGMENTS_PER_SIDE))
    theta, coherence = grid.director, grid.coherence
    if factor > 1 and min(grid.shape) >= factor:
        q_cos = _bin(grid.order * np.cos(2.0 * theta), factor)
        q_sin = _bin(grid.order * np.sin(2.0 * theta), factor)
        theta = 0.5 * np.arctan2(q_sin, q_cos)
        coherence = _bin(coherence, factor)
    else:
        factor = 1
    step = grid.step * factor
    rows, cols = np.meshgrid(np.arange(theta.shape[0]), np.arange(theta.shape[1]), indexing="ij")
    y, x = ((rows + 0.5) * step - 0.5).ravel(), ((cols + 0.5) * step - 0.5).ravel()
    half = 0.4 * step
    # Director convention: cos along the column axis (x), sin along the row axis (y).
    dx, dy = half * np.cos(theta).ravel(), half * np.sin(theta).ravel()
    segments = np.stack([np.column_stack([x - dx, y - dy]), np.column_stack([x + dx, y + dy])], 1)
    return segments, coherence.ravel()


def _draw_field(ax: Any, fig: Any, image: Optional[np.ndarray], result: ImageAnalysis) -> None:
    from matplotlib.collections import LineCollection
    from mpl_toolkits.axes_grid1 import make_axes_locatable

    rows, cols = result.image_shape
    if image is not None:
        shown, factor = _display_image(image)
        height, width = shown.shape[0] * factor, shown.shape[1] * factor
        ax.imshow(shown, cmap="gray", interpolation="nearest",
                  extent=(-0.5, width - 0.5, height - 0.5, -0.5))
    ax.set_xlim(-0.5, cols - 0.5)
    ax.set_ylim(rows - 0.5, -0.5)
    segments, coherence = _director_segments(result)
    lines = LineCollection(segments, cmap="viridis", linewidths=1.6, capstyle="round")
    lines.set_array(coherence)
    lines.set_clim(0.0, 1.0)
    ax.add_collection(lines)
    # A colour bar as tall as the image, whatever its aspect ratio.
    bar_ax = make_axes_locatable(ax).append_axes("right", size="4%", pad=0.08)
    fig.colorbar(lines, cax=bar_ax, label="coherence")
    plus = [d for d in result.defects if d.charge > 0]
    minus = [d for d in result.defects if d.charge < 0]
    order = result.k
    ax.scatter([d.col for d in plus], [d.row for d in plus], s=110, marker="o",
               facecolors="none", edgecolors="#e8412c", linewidths=2.2,
               label=f"+1/{order} defect ({len(plus)})")
    ax.scatter([d.col for d in minus], [d.row for d in minus], s=120, marker="^",
               facecolors="none", edgecolors="#2c7be8", linewidths=2.2,
               label=f"\N{MINUS SIGN}1/{order} defect ({len(minus)})")
    _draw_defect_axes(ax, result)
    ax.legend(loc="upper right", fontsize="small", framealpha=0.85)
    ax.set_title("Director field and defects")
    ax.set_xlabel("column (px)")
    ax.set_ylabel("row (px)")


def _draw_defect_axes(ax: Any, result: ImageAnalysis) -> None:
    """Orientation ticks: the comet tail of each +1/2 defect, the three arms of each -1/2."""
    from matplotlib.collections import LineCollection

    length = max(2.0 * result.core_radius_px, 0.03 * max(result.image_shape))
    if not math.isfinite(length):
        return
    for sign, colour, arms in ((1, "#e8412c", 1), (-1, "#2c7be8", 3)):
        ticks = []
        for d in result.defects:
            if np.sign(d.charge) != sign or not math.isfinite(d.angle_rad):
                continue
            for arm in range(arms):
                angle = d.angle_rad + arm * 2.0 * math.pi / 3.0
                # Director convention: x along the columns, y along the rows.
                ticks.append([(d.col_px, d.row_px), (d.col_px + length * math.cos(angle),
                                                     d.row_px + length * math.sin(angle))])
        if ticks:
            ax.add_collection(LineCollection(ticks, colors=colour, linewidths=2.0))


def _draw_correlation(ax: Any, result: ImageAnalysis) -> None:
    corr = result.correlation
    filled = np.isfinite(corr.g)
    r, g = corr.r_um[filled], corr.g[filled]
    ax.plot(r, g, "o", color="#333333", label=f"$G_{{{result.k}}}(r)$")
    xi = corr.length_um
    if corr.fit_ok:
        fine = np.linspace(0.0, corr.fit_max_um, 200)
        ax.plot(fine, corr.amplitude * np.exp(-fine / xi), "-", color="#e8412c",
                label=f"fit, ξ = {xi:.3g} ± {corr.length_err_um:.2g} µm, R² = {corr.r2:.3f}")
    elif math.isfinite(corr.r2):
        # A fit that misses the data is reported, not drawn.
        ax.plot([], [], " ", label=f"exponential does not fit (R² = {corr.r2:.2f})")
    else:
        ax.plot([], [], " ", label="no decay fitted")
    if math.isfinite(corr.length_1e_um):
        ax.axvline(corr.length_1e_um, color="#2c7be8", linewidth=1.0, linestyle="--",
                   label=f"G = 1/e at {corr.length_1e_um:.3g} µm")
    ax.axhline(0.0, color="#999999", linewidth=0.8)
    ax.set_ylim(min(-0.05, float(g.min()) - 0.05) if g.size else -0.05, 1.05)
    ax.set_xlim(left=0.0)
    ax.set_xlabel("distance r (µm)")
    ax.set_ylabel(f"$G_{{{result.k}}}(r)$")
    ax.set_title("Orientational correlation")
    ax.legend(loc="upper right", fontsize="small")


def analysis_figure(result: ImageAnalysis, image: Optional[np.ndarray] = None) -> Any:
    """A two-panel matplotlib Figure: the image with the block director field (segments
    coloured by coherence) and the defects (+ circles, - triangles), and G_k(r) with the
    fitted exponential decay. ``image`` is the analysed image (drawn underneath when given).
    """
    from matplotlib.figure import Figure

    # Fixed margins: an automatic layout would cost more than the drawing itself.
    fig = Figure(figsize=(12.0, 5.4), dpi=100)
    field_ax, corr_ax = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1.25, 1.0]})
    fig.subplots_adjust(left=0.06, right=0.98, bottom=0.1, top=0.88, wspace=0.3)
    _draw_field(field_ax, fig, image, result)
    _draw_correlation(corr_ax, result)
    summary = result.summary()
    fig.suptitle(
        f"{summary['n_defects']} defects, charge sum {summary['charge_sum']:+.2f}; "
        f"mean order S = {summary['mean_order']:.2f}; "
        f"splay/bend = {summary['frank_ratio']:.3g}"
    )
    return fig


def movie_figure(result: Any, image: Optional[np.ndarray] = None) -> Any:
    """A two-panel Figure of a `MovieAnalysis`: the last frame (``image``) with its director
    field and every defect trajectory (+ red, - blue, a dot where each ends), and the
    number of defects of each sign per frame."""
    from matplotlib.figure import Figure

    fig = Figure(figsize=(12.0, 5.4), dpi=100)
    field_ax, count_ax = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1.25, 1.0]})
    fig.subplots_adjust(left=0.06, right=0.98, bottom=0.1, top=0.88, wspace=0.3)
    _draw_field(field_ax, fig, image, result.frames[-1])
    tracks: dict[int, list[Any]] = {}
    for d in result.defects:
        tracks.setdefault(d.track, []).append(d)
    for members in tracks.values():
        members.sort(key=lambda d: d.frame)
        colour = "#e8412c" if members[0].charge > 0 else "#2c7be8"
        field_ax.plot([d.col for d in members], [d.row for d in members], "-", color=colour,
                      linewidth=1.2, alpha=0.8)
        field_ax.plot([members[-1].col], [members[-1].row], ".", color=colour, markersize=4)
    field_ax.set_title(f"Last frame ({len(result.frames) - 1}) and defect trajectories")
    frames = np.arange(len(result.frames))
    plus = [sum(d.charge > 0 for d in f.defects) for f in result.frames]
    minus = [sum(d.charge < 0 for d in f.defects) for f in result.frames]
    count_ax.plot(frames, plus, "-o", color="#e8412c", markersize=3, label="+1/2")
    count_ax.plot(frames, minus, "-^", color="#2c7be8", markersize=3, label="\N{MINUS SIGN}1/2")
    count_ax.set_xlabel("frame")
    count_ax.set_ylabel("defects")
    count_ax.set_ylim(bottom=0)
    count_ax.set_title("Defects per frame")
    count_ax.legend(loc="upper right", fontsize="small")
    summary = result.summary()
    speed = summary["mean_speed_um_per_frame"]
    fig.suptitle(
        f"{len(result.frames)} frames, {summary['n_tracks']} tracks, "
        f"{summary['n_pair_creations']} pair creations, "
        f"{summary['n_pair_annihilations']} annihilations; mean speed "
        + ("n/a" if not math.isfinite(speed) else f"{speed:.3g} µm/frame")
    )
    return fig


def render_png(result: Any, image: Optional[np.ndarray] = None) -> bytes:
    """The figure of ``analysis_figure`` (``movie_figure`` for a movie) as PNG bytes (Agg
    canvas, reproducible)."""
    is_movie = hasattr(result, "frames")
    return png_bytes(movie_figure(result, image) if is_movie else analysis_figure(result, image))


def png_bytes(fig: Any) -> bytes:
    """A Figure as PNG bytes on the Agg canvas, without date or version metadata (equal
    figures give byte-identical files)."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from PIL import Image

    canvas = FigureCanvasAgg(fig)
    canvas.draw()
    # Encode the drawn canvas directly, at a fast zlib level.
    rgb = Image.fromarray(np.asarray(canvas.buffer_rgba())[..., :3])
    buffer = io.BytesIO()
    rgb.save(buffer, format="png", compress_level=_PNG_COMPRESSION)
    return buffer.getvalue()
