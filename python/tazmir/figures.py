"""Figures of an analysis: director field and defects on the image, and G_k(r) with its fit.

What a figure shows is decided once, here (`analysis_content`, `movie_content`: segments,
markers, tracks, curves, ticks and every text), and drawn two ways: `render_png` writes
analysis.png directly with Pillow (`tazmir.raster`, a fraction of matplotlib's cost per
image), `analysis_figure` and `movie_figure` build a matplotlib Figure to restyle or compose
(object interface on the Agg canvas: no display, no pyplot state).
"""

from __future__ import annotations

import io
import math
from dataclasses import dataclass, field as _field
from typing import Any, Optional

import numpy as np

from .result import ImageAnalysis

__all__ = [
    "FieldLayer", "FigureContent", "LegendEntry", "Plot", "Series", "analysis_content",
    "analysis_figure", "content_figure", "movie_content", "movie_figure", "nice_ticks",
    "png_bytes", "render_png", "tick_label",
]

_MAX_SEGMENTS_PER_SIDE = 48
_MAX_DISPLAY_PIXELS = 640
# Grey levels are stretched between these percentiles of the shown image, so that a few
# saturated or dead pixels do not wash out the tissue.
_CONTRAST_PERCENTILES = (0.5, 99.5)
# zlib level of analysis.png: the image underneath is noise to zlib, and level 1 compresses
# it nearly as well in a fraction of the time.
_PNG_COMPRESSION = 1

RED = "#e8412c"
BLUE = "#2c7be8"
DARK = "#333333"
MINUS = "\N{MINUS SIGN}"


@dataclass(frozen=True)
class Series:
    """A curve of a plot: ``line`` "-" (solid), "--" (dashed) or None, ``marker`` "o", "^",
    "." or None (``hollow``: drawn as outlines)."""

    x: np.ndarray
    y: np.ndarray
    colour: str
    line: Optional[str] = None
    marker: Optional[str] = None
    hollow: bool = False


@dataclass(frozen=True)
class LegendEntry:
    """One legend row: a sample of ``line``/``marker`` in ``colour`` (neither: text only);
    ``hollow`` markers are drawn as outlines."""

    label: str
    colour: str = DARK
    line: Optional[str] = None
    marker: Optional[str] = None
    hollow: bool = False


@dataclass(frozen=True)
class Plot:
    """A panel of curves with its limits, ticks and texts."""

    title: str
    xlabel: str
    ylabel: str
    series: list[Series]
    xlim: tuple[float, float]
    ylim: tuple[float, float]
    xticks: np.ndarray
    yticks: np.ndarray
    legend: list[LegendEntry]
    # Full-height lines (x, colour, style) and full-width lines (y, colour, style).
    vlines: list[tuple[float, str, str]] = _field(default_factory=list)
    hlines: list[tuple[float, str, str]] = _field(default_factory=list)
    legend_corner: str = "upper right"


@dataclass(frozen=True)
class FieldLayer:
    """The image panel, in pixel coordinates (x = column, y = row, pixel centres at integers).

    ``image`` is the picture binned by ``image_bin`` (None: no picture), shown in grey
    between ``contrast``; ``segments`` (n, 2, 2) the director segments with their
    ``coherence``; ``plus``/``minus`` (n, 2) the defect positions and ``plus_ticks``/
    ``minus_ticks`` (n, 2, 2) their orientation ticks; ``tracks`` the trajectories
    (colour, (n, 2) positions in frame order), drawn with a dot where each ends.
    """

    shape: tuple[int, int]
    image: Optional[np.ndarray]
    image_bin: int
    contrast: tuple[float, float]
    segments: np.ndarray
    coherence: np.ndarray
    plus: np.ndarray
    minus: np.ndarray
    plus_ticks: np.ndarray
    minus_ticks: np.ndarray
    legend: list[LegendEntry]
    title: str
    xticks: np.ndarray
    yticks: np.ndarray
    tracks: list[tuple[str, np.ndarray]] = _field(default_factory=list)
    xlabel: str = "column (px)"
    ylabel: str = "row (px)"
    colourbar_label: str = "coherence"


@dataclass(frozen=True)
class FigureContent:
    """Everything a figure shows: the title line, the image panel and the plot panel."""

    title: str
    field: FieldLayer
    plot: Plot


def nice_ticks(low: float, high: float, count: int = 6) -> np.ndarray:
    """At most about ``count`` round tick values (1, 2, 2.5 or 5 times a power of ten)
    between ``low`` and ``high``."""
    span = high - low
    if not (math.isfinite(span) and span > 0):
        return np.array([low]) if math.isfinite(low) else np.empty(0)
    raw = span / max(1, count - 1)
    power = 10.0 ** math.floor(math.log10(raw))
    step = next(m * power for m in (1.0, 2.0, 2.5, 5.0, 10.0) if m * power >= raw * (1 - 1e-9))
    first = math.ceil(low / step - 1e-9)
    last = math.floor(high / step + 1e-9)
    # Multiples of the step, rounded so that labels print without floating-point residue.
    return np.round(np.arange(first, last + 1) * step, 12) + 0.0


def tick_label(value: float, ticks: np.ndarray) -> str:
    """A tick value with as many decimals as the tick spacing needs, minus as U+2212."""
    step = float(ticks[1] - ticks[0]) if ticks.size > 1 else 1.0
    decimals = 0
    while decimals < 6 and abs(round(step, decimals) - step) > 1e-9 * abs(step):
        decimals += 1
    text = f"{value:.{decimals}f}"
    if text.startswith("-"):
        text = MINUS + text[1:] if float(text) != 0.0 else text[1:]
    return text


# ---------------------------------------------------------------------------------------
# What is drawn


def _bin(values: np.ndarray, factor: int) -> np.ndarray:
    """Block means of ``factor`` x ``factor`` pixels (trailing pixels left out), summed
    along strided views: several times faster than a reshaped mean on large images."""
    rows, cols = values.shape[0] // factor * factor, values.shape[1] // factor * factor
    view = values[:rows, :cols]
    across = view[0::factor].astype(np.float32)
    for i in range(1, factor):
        across += view[i::factor]
    out = across[:, 0::factor].copy()
    for i in range(1, factor):
        out += across[:, i::factor]
    return out / np.float32(factor * factor)


def _display_image(image: Optional[np.ndarray]) -> tuple[Optional[np.ndarray], int,
                                                         tuple[float, float]]:
    """The image binned to about screen resolution, the bin size and the grey range:
    drawing every pixel of a large image costs far more than the analysis itself."""
    if image is None:
        return None, 1, (0.0, 1.0)
    image = np.asarray(image)
    if image.ndim != 2 or image.size == 0:
        raise ValueError(f"the image under the figure must be a non-empty 2-D array, "
                         f"got shape {image.shape}")
    factor = max(1, math.ceil(max(image.shape) / _MAX_DISPLAY_PIXELS))
    if factor == 1 or min(image.shape) < factor:
        shown, factor = image.astype(np.float32), 1
    else:
        shown = _bin(image, factor)
    finite = shown[np.isfinite(shown)] if not np.isfinite(shown).all() else shown
    if finite.size == 0:
        return shown, factor, (0.0, 1.0)
    low, high = (float(v) for v in np.percentile(finite, _CONTRAST_PERCENTILES))
    if not high > low:
        low, high = float(finite.min()), float(finite.max())
    if not high > low:
        high = low + 1.0
    return shown, factor, (low, high)


def _director_segments(result: ImageAnalysis) -> tuple[np.ndarray, np.ndarray]:
    """Line segments (x, y pixel coordinates) of the director, and their coherence.

    On large grids neighbouring blocks are pooled (their nematic tensors averaged) so that
    the segments stay few enough to read; points without a director are left out.
    """
    grid = result.grid
    factor = max(1, math.ceil(max(grid.shape) / _MAX_SEGMENTS_PER_SIDE))
    theta, coherence = grid.director, grid.coherence
    if factor > 1 and min(grid.shape) >= factor:
        q_cos = _bin(grid.order * np.cos(2.0 * theta), factor).astype(np.float64)
        q_sin = _bin(grid.order * np.sin(2.0 * theta), factor).astype(np.float64)
        theta = 0.5 * np.arctan2(q_sin, q_cos)
        coherence = _bin(coherence, factor).astype(np.float64)
    else:
        factor = 1
    step = grid.step * factor
    rows, cols = np.meshgrid(np.arange(theta.shape[0]), np.arange(theta.shape[1]), indexing="ij")
    y, x = ((rows + 0.5) * step - 0.5).ravel(), ((cols + 0.5) * step - 0.5).ravel()
    half = 0.4 * step
    # Director convention: cos along the column axis (x), sin along the row axis (y).
    dx, dy = half * np.cos(theta).ravel(), half * np.sin(theta).ravel()
    segments = np.stack([np.column_stack([x - dx, y - dy]), np.column_stack([x + dx, y + dy])], 1)
    coherence = coherence.ravel()
    shown = np.isfinite(segments).all(axis=(1, 2)) & np.isfinite(coherence)
    return segments[shown], coherence[shown]


def _defect_ticks(result: ImageAnalysis, sign: int) -> np.ndarray:
    """Orientation ticks (n, 2, 2): the comet tail of each +1/2 defect, the three arms of
    each -1/2."""
    length = max(2.0 * result.core_radius_px, 0.03 * max(result.image_shape))
    arms = 1 if sign > 0 else 3
    ticks = []
    if math.isfinite(length):
        for d in result.defects:
            if np.sign(d.charge) != sign or not math.isfinite(d.angle_rad):
                continue
            for arm in range(arms):
                angle = d.angle_rad + arm * 2.0 * math.pi / 3.0
                # Director convention: x along the columns, y along the rows.
                ticks.append([(d.col_px, d.row_px), (d.col_px + length * math.cos(angle),
                                                     d.row_px + length * math.sin(angle))])
    return np.array(ticks, dtype=np.float64).reshape(-1, 2, 2)


def _positions(defects: Any) -> np.ndarray:
    return np.array([(d.col_px, d.row_px) for d in defects], dtype=np.float64).reshape(-1, 2)


def _field_layer(result: ImageAnalysis, image: Optional[np.ndarray], title: str,
                 tracks: Optional[list[tuple[str, np.ndarray]]] = None) -> FieldLayer:
    shown, factor, contrast = _display_image(image)
    segments, coherence = _director_segments(result)
    plus = [d for d in result.defects if d.charge > 0]
    minus = [d for d in result.defects if d.charge < 0]
    order = result.k
    rows, cols = result.image_shape
    return FieldLayer(
        shape=(rows, cols), image=shown, image_bin=factor, contrast=contrast,
        segments=segments, coherence=coherence,
        plus=_positions(plus), minus=_positions(minus),
        plus_ticks=_defect_ticks(result, 1), minus_ticks=_defect_ticks(result, -1),
        legend=[LegendEntry(f"+1/{order} defect ({len(plus)})", RED, marker="o",
                            hollow=True),
                LegendEntry(f"{MINUS}1/{order} defect ({len(minus)})", BLUE, marker="^",
                            hollow=True)],
        title=title, xticks=nice_ticks(0.0, cols - 1.0, _tick_count(cols, rows)),
        yticks=nice_ticks(0.0, rows - 1.0, _tick_count(rows, cols)),
        tracks=tracks or [],
    )


def _tick_count(along: int, across: int) -> int:
    """Ticks for an image axis: six on the longer side, fewer on a shorter one."""
    return max(3, round(6 * along / max(along, across, 1)))


def _correlation_plot(result: ImageAnalysis) -> Plot:
    corr = result.correlation
    filled = np.isfinite(corr.g) & np.isfinite(corr.r_um)
    r, g = np.asarray(corr.r_um[filled], float), np.asarray(corr.g[filled], float)
    name = f"G{_subscript(result.k)}(r)"
    series = [Series(r, g, DARK, marker="o")]
    legend = [LegendEntry(name, DARK, marker="o")]
    xi = corr.length_um
    right = float(r.max()) if r.size else 0.0
    if corr.fit_ok:
        fine = np.linspace(0.0, corr.fit_max_um, 200)
        label = (f"fit, ξ = {xi:.3g} ± {corr.length_err_um:.2g} µm, "
                 f"R² = {corr.r2:.3f}")
        series.append(Series(fine, corr.amplitude * np.exp(-fine / xi), RED, line="-"))
        legend.append(LegendEntry(label, RED, line="-"))
        right = max(right, float(corr.fit_max_um))
    elif math.isfinite(corr.r2):
        # A fit that misses the data is reported, not drawn.
        legend.append(LegendEntry(f"exponential does not fit (R² = {corr.r2:.2f})"))
    else:
        legend.append(LegendEntry("no decay fitted"))
    vlines = []
    if math.isfinite(corr.length_1e_um):
        vlines.append((float(corr.length_1e_um), BLUE, "--"))
        legend.append(LegendEntry(f"G = 1/e at {corr.length_1e_um:.3g} µm", BLUE, line="--"))
        right = max(right, float(corr.length_1e_um))
    right = 1.05 * right if right > 0 else 1.0
    bottom = min(-0.05, float(g.min()) - 0.05) if g.size else -0.05
    xlim, ylim = (0.0, right), (bottom, 1.05)
    return Plot(
        title="Orientational correlation", xlabel="distance r (µm)", ylabel=name,
        series=series, xlim=xlim, ylim=ylim,
        xticks=nice_ticks(*xlim), yticks=nice_ticks(*ylim), legend=legend,
        vlines=vlines, hlines=[(0.0, "#999999", "-")],
        legend_corner=_legend_corner(series, xlim, ylim),
    )


def _subscript(number: int) -> str:
    return str(number).translate(str.maketrans("0123456789", "₀₁₂₃₄₅₆₇₈₉"))


def analysis_content(result: ImageAnalysis, image: Optional[np.ndarray] = None) -> FigureContent:
    """What the figure of an `ImageAnalysis` shows (``image``: the analysed picture)."""
    summary = result.summary()
    count = summary["n_defects"]
    # Adding 0.0 turns a sum of -0.0 into 0.0, which prints without its sign.
    title = (f"{count} defect{'' if count == 1 else 's'}, "
             f"charge sum {summary['charge_sum'] + 0.0:+.2f}; "
             f"mean order S = {summary['mean_order']:.2f}; "
             f"splay/bend = {summary['frank_ratio']:.3g}")
    return FigureContent(title, _field_layer(result, image, "Director field and defects"),
                         _correlation_plot(result))


def movie_content(result: Any, image: Optional[np.ndarray] = None) -> FigureContent:
    """What the figure of a `MovieAnalysis` shows: the last frame (``image``) with every
    defect trajectory, and the defects of each sign per frame."""
    members: dict[int, list[Any]] = {}
    for d in result.defects:
        members.setdefault(d.track, []).append(d)
    tracks = []
    for track in members.values():
        track.sort(key=lambda d: d.frame)
        tracks.append((RED if track[0].charge > 0 else BLUE, _positions(track)))
    last = len(result.frames) - 1
    layer = _field_layer(result.frames[-1], image,
                         f"Last frame ({last}) and defect trajectories", tracks)
    frames = np.arange(len(result.frames), dtype=np.float64)
    plus = np.array([sum(d.charge > 0 for d in f.defects) for f in result.frames], float)
    minus = np.array([sum(d.charge < 0 for d in f.defects) for f in result.frames], float)
    # Head room above the curves for the legend.
    top = 1.3 * max(1.0, float(plus.max(initial=0.0)), float(minus.max(initial=0.0))) + 0.5
    xlim = (-0.5, max(0.5, last + 0.5))
    plot = Plot(
        title="Defects per frame", xlabel="frame", ylabel="defects",
        # Equal counts are the rule (charges pair up): the -1/2 curve is dashed with open
        # markers so that the +1/2 curve shows beneath it.
        series=[Series(frames, plus, RED, line="-", marker="o"),
                Series(frames, minus, BLUE, line="--", marker="^", hollow=True)],
        xlim=xlim, ylim=(0.0, top),
        xticks=_whole(nice_ticks(0.0, float(last), 6)), yticks=_whole(nice_ticks(0.0, top, 6)),
        legend=[LegendEntry("+1/2", RED, "-", "o"),
                LegendEntry(f"{MINUS}1/2", BLUE, "--", "^", hollow=True)],
    )
    summary = result.summary()
    speed = summary["mean_speed_um_per_frame"]
    title = (f"{len(result.frames)} frames, {summary['n_tracks']} tracks, "
             f"{summary['n_pair_creations']} pair creations, "
             f"{summary['n_pair_annihilations']} annihilations; mean speed "
             + ("n/a" if not math.isfinite(speed) else f"{speed:.3g} µm/frame"))
    return FigureContent(title, layer, plot)


def _legend_corner(series: list[Series], xlim: tuple[float, float],
                   ylim: tuple[float, float]) -> str:
    """The corner of a plot whose legend would hide the fewest points of its curves (the
    legend takes about 60 % of the width and 25 % of the height)."""
    x = np.concatenate([(s.x - xlim[0]) / (xlim[1] - xlim[0]) for s in series] or [[]])
    y = np.concatenate([(s.y - ylim[0]) / (ylim[1] - ylim[0]) for s in series] or [[]])
    hidden = {}
    for corner in ("upper right", "lower left", "lower right", "upper left"):
        vertical, horizontal = corner.split()
        across = x > 0.4 if horizontal == "right" else x < 0.6
        along = y > 0.75 if vertical == "upper" else y < 0.25
        hidden[corner] = int(np.count_nonzero(across & along))
    return min(hidden, key=hidden.__getitem__)  # the first of equals: upper right


def _whole(ticks: np.ndarray) -> np.ndarray:
    """The ticks that are whole numbers (frames and counts have no fractions)."""
    return ticks[ticks == np.round(ticks)]


def _content(result: Any, image: Optional[np.ndarray]) -> FigureContent:
    if hasattr(result, "frames"):
        return movie_content(result, image)
    return analysis_content(result, image)


# ---------------------------------------------------------------------------------------
# analysis.png, drawn directly


def render_png(result: Any, image: Optional[np.ndarray] = None) -> bytes:
    """The figure of an `ImageAnalysis` or `MovieAnalysis` as PNG bytes, drawn directly with
    Pillow (equal input gives byte-identical files). ``image`` is drawn under the field."""
    from .raster import render

    return render(_content(result, image), _PNG_COMPRESSION)


# ---------------------------------------------------------------------------------------
# The same content as a matplotlib Figure


def _mpl_legend(ax: Any, entries: list[LegendEntry], **style: Any) -> None:
    from matplotlib.lines import Line2D

    handles = [Line2D([], [], color=e.colour, linestyle=e.line or "none",
                      marker=e.marker or "none", markeredgewidth=2.0 if e.hollow else 1.0,
                      markerfacecolor="none" if e.hollow else e.colour, label=e.label)
               if e.line or e.marker else Line2D([], [], linestyle="none", label=e.label)
               for e in entries]
    ax.legend(handles=handles, fontsize="small", **style)


def _mpl_field(ax: Any, fig: Any, layer: FieldLayer) -> None:
    from matplotlib.collections import LineCollection
    from mpl_toolkits.axes_grid1 import make_axes_locatable

    rows, cols = layer.shape
    if layer.image is not None:
        height, width = (n * layer.image_bin for n in layer.image.shape)
        ax.imshow(layer.image, cmap="gray", interpolation="nearest", vmin=layer.contrast[0],
                  vmax=layer.contrast[1], extent=(-0.5, width - 0.5, height - 0.5, -0.5))
    ax.set_xlim(-0.5, cols - 0.5)
    ax.set_ylim(rows - 0.5, -0.5)
    lines = LineCollection(layer.segments, cmap="viridis", linewidths=1.6, capstyle="round")
    lines.set_array(layer.coherence)
    lines.set_clim(0.0, 1.0)
    ax.add_collection(lines)
    # A colour bar as tall as the image, whatever its aspect ratio.
    bar_ax = make_axes_locatable(ax).append_axes("right", size="4%", pad=0.08)
    fig.colorbar(lines, cax=bar_ax, label=layer.colourbar_label)
    for colour, track in layer.tracks:
        ax.plot(track[:, 0], track[:, 1], "-", color=colour, linewidth=1.2, alpha=0.8)
        ax.plot(track[-1:, 0], track[-1:, 1], ".", color=colour, markersize=4)
    ax.scatter(layer.plus[:, 0], layer.plus[:, 1], s=110, marker="o", facecolors="none",
               edgecolors=RED, linewidths=2.2)
    ax.scatter(layer.minus[:, 0], layer.minus[:, 1], s=120, marker="^", facecolors="none",
               edgecolors=BLUE, linewidths=2.2)
    for ticks, colour in ((layer.plus_ticks, RED), (layer.minus_ticks, BLUE)):
        if len(ticks):
            ax.add_collection(LineCollection(ticks, colors=colour, linewidths=2.0))
    _mpl_legend(ax, layer.legend, loc="upper right", framealpha=0.85)
    ax.set_xticks(layer.xticks)
    ax.set_yticks(layer.yticks)
    ax.set_title(layer.title)
    ax.set_xlabel(layer.xlabel)
    ax.set_ylabel(layer.ylabel)


def _mpl_plot(ax: Any, plot: Plot) -> None:
    for s in plot.series:
        ax.plot(s.x, s.y, linestyle=s.line or "none", marker=s.marker or "none",
                color=s.colour, markersize=7 if s.hollow else 3 if s.line else 6,
                markerfacecolor="none" if s.hollow else s.colour)
    for x, colour, style in plot.vlines:
        ax.axvline(x, color=colour, linewidth=1.0, linestyle=style)
    for y, colour, style in plot.hlines:
        ax.axhline(y, color=colour, linewidth=0.8, linestyle=style)
    ax.set_xlim(*plot.xlim)
    ax.set_ylim(*plot.ylim)
    ax.set_xticks(plot.xticks)
    ax.set_yticks(plot.yticks)
    ax.set_xlabel(plot.xlabel)
    ax.set_ylabel(plot.ylabel)
    ax.set_title(plot.title)
    _mpl_legend(ax, plot.legend, loc=plot.legend_corner)


def content_figure(content: FigureContent) -> Any:
    """A two-panel matplotlib Figure of a `FigureContent`."""
    from matplotlib.figure import Figure

    # Fixed margins: an automatic layout would cost more than the drawing itself.
    fig = Figure(figsize=(12.0, 5.4), dpi=100)
    field_ax, plot_ax = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1.25, 1.0]})
    fig.subplots_adjust(left=0.06, right=0.98, bottom=0.1, top=0.88, wspace=0.3)
    _mpl_field(field_ax, fig, content.field)
    _mpl_plot(plot_ax, content.plot)
    fig.suptitle(content.title)
    return fig


def analysis_figure(result: ImageAnalysis, image: Optional[np.ndarray] = None) -> Any:
    """A two-panel matplotlib Figure: the image with the block director field (segments
    coloured by coherence) and the defects (+ circles, - triangles), and G_k(r) with the
    fitted exponential decay. ``image`` is the analysed image (drawn underneath when given).
    The picture of analysis.png, as matplotlib objects to restyle or compose.
    """
    return content_figure(analysis_content(result, image))


def movie_figure(result: Any, image: Optional[np.ndarray] = None) -> Any:
    """A two-panel Figure of a `MovieAnalysis`: the last frame (``image``) with its director
    field and every defect trajectory (+ red, - blue, a dot where each ends), and the
    number of defects of each sign per frame."""
    return content_figure(movie_content(result, image))


def png_bytes(fig: Any) -> bytes:
    """A matplotlib Figure as PNG bytes on the Agg canvas, without date or version metadata
    (equal figures give byte-identical files)."""
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from PIL import Image

    canvas = FigureCanvasAgg(fig)
    canvas.draw()
    # Encode the drawn canvas directly, at a fast zlib level.
    rgb = Image.fromarray(np.asarray(canvas.buffer_rgba())[..., :3])
    buffer = io.BytesIO()
    rgb.save(buffer, format="png", compress_level=_PNG_COMPRESSION)
    return buffer.getvalue()
