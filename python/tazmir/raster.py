"""analysis.png drawn directly with Pillow and NumPy from a `tazmir.figures.FigureContent`.

A fixed 1200 x 540 picture: the vector parts (segments, markers, lines, text) are drawn at
twice that size and averaged down 2 x 2, which anti-aliases them for a few milliseconds.
Fonts are loaded once per process. The face is a subset of DejaVu Sans shipped in
``tazmir/fonts`` (the face matplotlib uses; Pillow's own default lacks µ, ξ, ² and −).
"""

from __future__ import annotations

import functools
import math
import struct
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Sequence

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from .figures import BLUE, RED, FieldLayer, FigureContent, LegendEntry, Plot, tick_label

__all__ = [
    "HEIGHT", "WIDTH", "Placement", "field_placement", "plot_to_png", "png_encode", "render",
    "viridis",
]

WIDTH, HEIGHT = 1200, 540
_S = 2  # supersampling factor of the drawing
# Room for the image (left, top, right, bottom; output pixels) and the plot frame.
_FIELD_BOX = (74, 62, 560, 470)
_PLOT_BOX = (730, 62, 1182, 470)
_BAR_GAP, _BAR_WIDTH = 8, 14

_FONT_FILE = Path(__file__).with_name("fonts") / "DejaVuSans-subset.ttf"
_TITLE, _AXES_TITLE, _LABEL, _TICK = 16, 14.5, 13, 11.5

# viridis at 17 evenly spaced levels (RGB): linear interpolation between them stays
# within 6/255 of the full map.
_VIRIDIS = np.array([
    [68, 1, 84], [72, 24, 106], [71, 45, 123], [66, 64, 134], [59, 82, 139], [51, 99, 141],
    [44, 114, 142], [38, 130, 142], [33, 145, 140], [31, 160, 136], [40, 174, 128],
    [63, 188, 115], [94, 201, 98], [132, 212, 75], [173, 220, 48], [216, 226, 25],
    [253, 231, 37]], dtype=np.float64)


def viridis(values: np.ndarray) -> np.ndarray:
    """RGB (uint8, shape (..., 3)) of ``values`` in [0, 1] (clipped; NaN as 0)."""
    v = np.clip(np.nan_to_num(np.asarray(values, dtype=np.float64)), 0.0, 1.0)
    levels = np.linspace(0.0, 1.0, len(_VIRIDIS))
    rgb = np.stack([np.interp(v, levels, _VIRIDIS[:, i]) for i in range(3)], axis=-1)
    return np.round(rgb).astype(np.uint8)


@dataclass(frozen=True)
class Placement:
    """Where the image panel sits in the PNG: pixel (row, col) of the analysed image has
    its centre at PNG x = left + (col + 0.5)·x_scale, y = top + (row + 0.5)·y_scale (PNG
    pixel i spans [i, i + 1))."""

    left: float
    top: float
    x_scale: float
    y_scale: float
    width: float
    height: float

    def to_png(self, row: float, col: float) -> tuple[float, float]:
        """PNG (x, y) of an image position (row, col)."""
        return self.left + (col + 0.5) * self.x_scale, self.top + (row + 0.5) * self.y_scale


def plot_to_png(plot: Plot, x: float, y: float) -> tuple[float, float]:
    """PNG (x, y) of the point (x, y) of the plot panel (in its data units)."""
    left, top, right, bottom = _PLOT_BOX
    (x0, x1), (y0, y1) = plot.xlim, plot.ylim
    return (left + (x - x0) * (right - left) / (x1 - x0),
            top + (y1 - y) * (bottom - top) / (y1 - y0))


def _panel(shape: tuple[int, int]) -> tuple[int, int, int, int]:
    """The image panel on the supersampled canvas: left, top, width, height (whole
    pixels, aspect ratio kept, centred in its box)."""
    rows, cols = max(1, shape[0]), max(1, shape[1])
    left, top, right, bottom = (_S * v for v in _FIELD_BOX)
    room_w, room_h = right - left - _S * (_BAR_GAP + _BAR_WIDTH), bottom - top
    scale = min(room_w / cols, room_h / rows)
    width, height = max(1, round(cols * scale)), max(1, round(rows * scale))
    return left + (room_w - width) // 2, top + (room_h - height) // 2, width, height


def field_placement(shape: tuple[int, int]) -> Placement:
    """The `Placement` of the image panel for an image of ``shape`` (rows, cols)."""
    left, top, width, height = _panel(shape)
    rows, cols = max(1, shape[0]), max(1, shape[1])
    return Placement(left / _S, top / _S, width / cols / _S, height / rows / _S,
                     width / _S, height / _S)


@functools.lru_cache(maxsize=None)
def _font(size: float) -> ImageFont.FreeTypeFont:
    # The basic layout engine: the same glyph placement whether or not libraqm is present.
    return ImageFont.truetype(str(_FONT_FILE), round(_S * size),
                              layout_engine=ImageFont.Layout.BASIC)


def _rgb(colour: str) -> tuple[int, int, int]:
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))  # type: ignore[return-value]


class _Canvas:
    """The supersampled picture and the drawing primitives of the figure."""

    def __init__(self) -> None:
        self.image = Image.new("RGB", (_S * WIDTH, _S * HEIGHT), "white")
        self.draw = ImageDraw.Draw(self.image)

    def text(self, xy: tuple[float, float], text: str, size: float, anchor: str = "mm",
             fill: str = "#000000") -> None:
        self.draw.text(xy, text, font=_font(size), fill=fill, anchor=anchor)

    def vertical_text(self, xy: tuple[float, float], text: str, size: float) -> None:
        """``text`` read bottom to top, centred on ``xy``."""
        font = _font(size)
        x0, y0, x1, y1 = font.getbbox(text, anchor="lt")
        mask = Image.new("L", (max(1, x1), max(1, y1)), 0)
        ImageDraw.Draw(mask).text((0, 0), text, font=font, fill=255, anchor="lt")
        mask = mask.transpose(Image.Transpose.ROTATE_90)
        left, top = round(xy[0] - mask.width / 2), round(xy[1] - mask.height / 2)
        self.image.paste((0, 0, 0), (left, top, left + mask.width, top + mask.height), mask)

    def frame(self, left: float, top: float, right: float, bottom: float) -> None:
        self.draw.rectangle((left - _S, top - _S, right + _S - 1, bottom + _S - 1),
                            outline="#000000", width=_S)

    def x_ticks(self, positions: Sequence[float], labels: Sequence[str], bottom: float) -> None:
        for x, label in zip(positions, labels):
            self.draw.line([(x, bottom), (x, bottom + 4 * _S)], fill="#000000", width=_S)
            self.text((x, bottom + 6 * _S), label, _TICK, anchor="mt")

    def y_ticks(self, positions: Sequence[float], labels: Sequence[str], left: float) -> None:
        for y, label in zip(positions, labels):
            self.draw.line([(left - 4 * _S, y), (left, y)], fill="#000000", width=_S)
            self.text((left - 6 * _S, y), label, _TICK, anchor="rm")

    def legend(self, entries: list[LegendEntry], frame: tuple[int, int, int, int],
               corner: str = "upper right", alpha: float = 0.85) -> None:
        """A legend box in a ``corner`` ("upper right", "lower left", ...) of ``frame``
        (left, top, right, bottom), over a white veil."""
        font = _font(_TICK)
        row, sample, pad, margin = 18 * _S, 26 * _S, 5 * _S, 6 * _S
        widths = [font.getlength(e.label) for e in entries]
        has_sample = any(e.line or e.marker for e in entries)
        width = round(2 * pad + (sample + 4 * _S if has_sample else 0) + max(widths, default=0))
        height = 2 * pad + row * len(entries)
        vertical, horizontal = corner.split()
        left = frame[2] - margin - width if horizontal == "right" else frame[0] + margin
        top = frame[1] + margin if vertical == "upper" else frame[3] - margin - height
        box = (left, top, left + width, top + height)
        veil = self.image.crop(box)
        self.image.paste(Image.blend(veil, Image.new("RGB", veil.size, "white"), alpha), box)
        self.draw.rectangle(box, outline="#cccccc", width=_S)
        for i, entry in enumerate(entries):
            y = box[1] + pad + row * i + row / 2
            x = box[0] + pad
            if entry.line:
                _styled_line(self.draw, [(x, y), (x + sample, y)], entry.colour, entry.line,
                             2 * _S)
            if entry.marker:
                _marker(self.draw, x + sample / 2, y, entry.marker, entry.colour,
                        hollow=entry.hollow, radius=5.5 * _S if entry.hollow else 3 * _S)
            self.text((x + (sample + 4 * _S if has_sample else 0), y), entry.label, _TICK,
                      anchor="lm")


def _marker(draw: ImageDraw.ImageDraw, x: float, y: float, kind: str, colour: str,
            hollow: bool, radius: float, width: int = round(2.5 * _S)) -> None:
    fill = None if hollow else colour
    outline = colour
    width = width if hollow else 1
    if kind == "o":
        draw.ellipse((x - radius, y - radius, x + radius, y + radius), fill=fill,
                     outline=outline, width=width)
    elif kind == "^":
        r = radius * 1.05
        draw.polygon([(x, y - r), (x + r, y + r * 0.85), (x - r, y + r * 0.85)], fill=fill,
                     outline=outline, width=width)
    else:  # "." : a small dot
        draw.ellipse((x - radius, y - radius, x + radius, y + radius), fill=colour)


def _styled_line(draw: ImageDraw.ImageDraw, points: list[tuple[float, float]], colour: str,
                 style: str, width: int) -> None:
    """A polyline, solid ("-") or dashed ("--")."""
    if style != "--":
        draw.line(points, fill=colour, width=width, joint="curve" if len(points) > 2 else None)
        return
    dash, gap = 6 * _S, 3.5 * _S
    for (x0, y0), (x1, y1) in zip(points[:-1], points[1:]):
        length = math.hypot(x1 - x0, y1 - y0)
        if length == 0:
            continue
        ux, uy = (x1 - x0) / length, (y1 - y0) / length
        start = 0.0
        while start < length:
            end = min(length, start + dash)
            draw.line([(x0 + ux * start, y0 + uy * start), (x0 + ux * end, y0 + uy * end)],
                      fill=colour, width=width)
            start = end + gap


def _grey(layer: FieldLayer, width: int, height: int) -> Image.Image:
    """The picture in grey, resampled onto the panel (white without a picture)."""
    if layer.image is None:
        return Image.new("RGB", (width, height), "white")
    low, high = layer.contrast
    grey = np.clip((np.nan_to_num(layer.image, nan=low) - low) * (255.0 / (high - low)), 0, 255)
    picture = Image.fromarray(np.round(grey).astype(np.uint8), "L")
    rows, cols = layer.shape
    # The binned picture covers only whole bins: its share of the panel.
    covered = (max(1, round(width * layer.image.shape[1] * layer.image_bin / max(1, cols))),
               max(1, round(height * layer.image.shape[0] * layer.image_bin / max(1, rows))))
    # Enlarged pixels stay sharp squares; reduced ones are averaged.
    enlarged = covered[0] >= 2 * picture.width
    picture = picture.resize(covered, Image.Resampling.NEAREST if enlarged
                             else Image.Resampling.BILINEAR)
    panel = Image.new("L", (width, height), 255)
    panel.paste(picture, (0, 0))
    return panel.convert("RGB")


def _draw_field(canvas: _Canvas, layer: FieldLayer) -> None:
    left, top, width, height = _panel(layer.shape)
    rows, cols = max(1, layer.shape[0]), max(1, layer.shape[1])
    sx, sy = width / cols, height / rows
    panel = _grey(layer, width, height)
    draw = ImageDraw.Draw(panel)

    def place(points: np.ndarray) -> np.ndarray:
        return (points + 0.5) * (sx, sy)

    # Everything inside the panel is drawn on it, so that it is clipped at its border.
    ends = place(layer.segments)
    colours = viridis(layer.coherence)
    line_width = round(2.2 * _S)
    for (a, b), colour in zip(ends.tolist(), map(tuple, colours.tolist())):
        draw.line([tuple(a), tuple(b)], fill=colour, width=line_width)
    for colour, track in layer.tracks:
        points = [tuple(p) for p in place(track).tolist()]
        if len(points) > 1:
            draw.line(points, fill=colour, width=round(1.6 * _S), joint="curve")
        _marker(draw, *points[-1], ".", colour, hollow=False, radius=2.5 * _S)
    for ticks, colour in ((layer.plus_ticks, RED), (layer.minus_ticks, BLUE)):
        for a, b in place(ticks).tolist():
            draw.line([tuple(a), tuple(b)], fill=colour, width=round(2.6 * _S))
    for x, y in place(layer.plus).tolist():
        _marker(draw, x, y, "o", RED, hollow=True, radius=8 * _S)
    for x, y in place(layer.minus).tolist():
        _marker(draw, x, y, "^", BLUE, hollow=True, radius=8 * _S)
    canvas.image.paste(panel, (left, top))
    right, bottom = left + width, top + height
    canvas.frame(left, top, right, bottom)
    canvas.legend(layer.legend, (left, top, right, bottom))
    _axes_text(canvas, layer, (left, top, right, bottom),
               [left + (t + 0.5) * sx for t in layer.xticks],
               [top + (t + 0.5) * sy for t in layer.yticks])
    _colour_bar(canvas, right + _S * _BAR_GAP, top, bottom, layer.colourbar_label)


def _colour_bar(canvas: _Canvas, left: float, top: int, bottom: int, label: str) -> None:
    height, width = bottom - top, _S * _BAR_WIDTH
    ramp = viridis(np.linspace(1.0, 0.0, max(1, height)))
    canvas.image.paste(Image.fromarray(np.repeat(ramp[:, None, :], width, axis=1), "RGB"),
                       (round(left), top))
    right = round(left) + width
    canvas.frame(round(left), top, right, bottom)
    # As many ticks as there is room for (a thin image has a thin bar).
    step = next((s for s in (0.2, 0.5, 1.0) if s * height >= 16 * _S), None)
    ticks = np.round(np.arange(0.0, 1.01, step), 1) if step else np.empty(0)
    for value in ticks:
        y = bottom - value * height
        canvas.draw.line([(right + _S, y), (right + 4 * _S, y)], fill="#000000", width=_S)
        canvas.text((right + 6 * _S, y), tick_label(value, ticks), _TICK, anchor="lm")
    canvas.vertical_text((right + 34 * _S, (top + bottom) / 2), label, _LABEL)


def _draw_plot(canvas: _Canvas, plot: Plot) -> None:
    left, top, right, bottom = (_S * v for v in _PLOT_BOX)
    width, height = right - left, bottom - top
    (x0, x1), (y0, y1) = plot.xlim, plot.ylim

    def place(x: np.ndarray, y: np.ndarray) -> np.ndarray:
        return np.column_stack([(np.asarray(x) - x0) * (width / (x1 - x0)),
                                (y1 - np.asarray(y)) * (height / (y1 - y0))])

    panel = Image.new("RGB", (width, height), "white")
    draw = ImageDraw.Draw(panel)
    for y, colour, style in plot.hlines:
        level = float(place([x0], [y])[0, 1])
        _styled_line(draw, [(0, level), (width, level)], colour, style, round(1.2 * _S))
    for x, colour, style in plot.vlines:
        at = float(place([x], [y0])[0, 0])
        _styled_line(draw, [(at, 0), (at, height)], colour, style, round(1.5 * _S))
    for series in plot.series:
        points = place(series.x, series.y)
        finite = np.isfinite(points).all(axis=1)
        if series.line:
            # A break in the curve wherever a value is missing.
            for run in np.split(points, np.flatnonzero(~finite)):
                run = run[np.isfinite(run).all(axis=1)]
                if len(run) > 1:
                    _styled_line(draw, [tuple(p) for p in run.tolist()], series.colour,
                                 series.line, round(1.6 * _S))
        if series.marker:
            radius = (6.0 if series.hollow else 3.5 if series.line else 4.0) * _S
            for x, y in points[finite].tolist():
                _marker(draw, x, y, series.marker, series.colour, hollow=series.hollow,
                        radius=radius, width=round(1.5 * _S))
    canvas.image.paste(panel, (left, top))
    canvas.frame(left, top, right, bottom)
    xs = [float(v) for v in place(plot.xticks, np.full(len(plot.xticks), y0))[:, 0]]
    ys = [float(v) for v in place(np.full(len(plot.yticks), x0), plot.yticks)[:, 1]]
    canvas.legend(plot.legend, (left, top, right, bottom), plot.legend_corner, alpha=0.9)
    _axes_text(canvas, plot, (left, top, right, bottom), [left + x for x in xs],
               [top + y for y in ys])


def _axes_text(canvas: _Canvas, axes: FieldLayer | Plot, box: tuple[float, ...],
               x_at: list[float], y_at: list[float]) -> None:
    """Ticks with their labels at canvas positions ``x_at`` and ``y_at``, the title above
    the box and the axis labels beside it."""
    left, top, right, bottom = box
    canvas.x_ticks(x_at, [tick_label(t, axes.xticks) for t in axes.xticks], bottom + _S)
    canvas.y_ticks(y_at, [tick_label(t, axes.yticks) for t in axes.yticks], left - _S)
    canvas.text(((left + right) / 2, top - 8 * _S), axes.title, _AXES_TITLE, anchor="md")
    canvas.text(((left + right) / 2, bottom + 24 * _S), axes.xlabel, _LABEL, anchor="mt")
    label_width = max((_font(_TICK).getlength(tick_label(t, axes.yticks))
                       for t in axes.yticks), default=0)
    canvas.vertical_text((left - 14 * _S - label_width, (top + bottom) / 2), axes.ylabel,
                         _LABEL)


def render(content: FigureContent, compress_level: int = 1) -> bytes:
    """The PNG bytes of ``content`` (WIDTH x HEIGHT, RGB, no metadata)."""
    canvas = _Canvas()
    canvas.text((_S * WIDTH / 2, 20 * _S), content.title, _TITLE)
    _draw_field(canvas, content.field)
    _draw_plot(canvas, content.plot)
    return png_encode(np.asarray(canvas.image.reduce(_S)), compress_level)


def png_encode(rgb: np.ndarray, compress_level: int = 1) -> bytes:
    """An 8-bit RGB PNG of ``rgb`` (rows, cols, 3), without metadata.

    Rows are stored unfiltered: on a figure over a noisy micrograph the filters gain little,
    and choosing one per row costs more than the whole compression at zlib level 1.
    """
    rows, cols, _ = rgb.shape
    scanlines = np.zeros((rows, 3 * cols + 1), dtype=np.uint8)  # a leading 0: no filter
    scanlines[:, 1:] = rgb.reshape(rows, -1)

    def chunk(kind: bytes, data: bytes) -> bytes:
        checksum = struct.pack(">I", zlib.crc32(kind + data))
        return struct.pack(">I", len(data)) + kind + data + checksum

    header = struct.pack(">IIBBBBB", cols, rows, 8, 2, 0, 0, 0)  # 8-bit RGB, no interlace
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(scanlines.tobytes(), compress_level))
            + chunk(b"IEND", b""))

