"""The dock widget "tazmir: orientation and defects": analyse an image layer in a worker
thread, show the director, coherence, defects (axes, tracks) and nuclei, export the folder."""

from __future__ import annotations

import math
from pathlib import Path
from typing import TYPE_CHECKING, Any, Optional

import numpy as np
from magicgui.widgets import (
    CheckBox,
    ComboBox,
    Container,
    FileEdit,
    FloatSpinBox,
    Label,
    LineEdit,
    ProgressBar,
    PushButton,
)
from napari.layers import Image, Labels, Layer
from napari.qt.threading import FunctionWorker, thread_worker
from qtpy.QtCore import QObject, Signal

from ._compat import FileCalibration, analyze, export_results
from .layers import analysis_layers

if TYPE_CHECKING:
    import napari

__all__ = ["AnalysisWidget", "parse_scale"]

_LUMA = np.array([0.2125, 0.7154, 0.0721])  # Rec. 709, as the command line converts colour
_RGB_CHANNELS = ("grey", "red", "green", "blue")


def parse_scale(text: str, name: str, *, integer: bool) -> Optional[float]:
    """A scale typed in the widget: None for "auto", else a number (an integer >= 1 or a
    non-negative float), as the command line accepts them."""
    word = text.strip().lower()
    if word in ("", "auto"):
        return None
    try:
        value = int(word) if integer else float(word)
    except ValueError:
        kind = "a whole number" if integer else "a number"
        raise ValueError(f"{name} must be 'auto' or {kind}, got {text!r}") from None
    if integer and value < 1:
        raise ValueError(f"{name} must be at least 1, got {text!r}")
    if not integer and not (0.0 <= value < float("inf")):
        raise ValueError(f"{name} must be a non-negative number, got {text!r}")
    return value


def _is_stack(layer: Image) -> bool:
    return layer.ndim >= 3


def _channel_names(layer: Optional[Image]) -> list[str]:
    if layer is None:
        return []
    if layer.rgb:
        return list(_RGB_CHANNELS)
    if layer.ndim == 4:  # T x C x Y x X
        return [str(index) for index in range(layer.data.shape[1])]
    return []


def _pixels(layer: Image, channel: Optional[str]) -> np.ndarray:
    """The layer's data as a grey 2-D image or T x Y x X stack."""
    data = np.asarray(layer.data[0] if layer.multiscale else layer.data)
    if layer.rgb:
        if channel in (None, "grey"):
            return data[..., :3].astype(np.float64) @ _LUMA
        return data[..., _RGB_CHANNELS.index(channel) - 1]
    if data.ndim == 4:
        return data[:, int(channel or 0)]
    if data.ndim not in (2, 3):
        raise ValueError(f"cannot analyse a layer of {data.ndim} dimensions")
    return data


class _Progress(QObject):
    """Frames done and in all, emitted from the worker thread and delivered in the GUI's."""

    frames = Signal(int, int)


class AnalysisWidget(Container):
    """Pick an image (2-D or a T-stack), its pixel size and scales; Run analyses it in a
    worker thread and replaces this image's tazmir layers; Export writes the result folder."""

    def __init__(self, napari_viewer: napari.viewer.Viewer) -> None:
        super().__init__(labels=True)
        self.viewer = napari_viewer
        self.image_layer = ComboBox(label="image", choices=self._image_choices)
        self.channel = ComboBox(label="channel", choices=self._channel_choices, visible=False)
        self.pixel_size = FloatSpinBox(label="pixel size (µm)", min=1e-4, max=1e4, step=0.01,
                                       value=1.0)
        self.pixel_size.native.setDecimals(4)
        self.sigma = LineEdit(label="sigma (px)", value="auto")
        self.core_radius = LineEdit(label="core radius (px)", value="auto")
        self.grid_step = LineEdit(label="grid step (px)", value="auto")
        self.mask = ComboBox(label="mask", choices=self._label_choices, nullable=True)
        self.nuclei = ComboBox(label="nuclei", choices=self._label_choices, nullable=True)
        self.cells = ComboBox(label="cells", choices=self._label_choices, nullable=True)
        self.current_frame_only = CheckBox(text="current frame only", visible=False)
        self.run_button = PushButton(text="Run")
        self.progress = ProgressBar(min=0, max=1, value=0, visible=False)
        self.status = Label(value="")
        self.export_folder = FileEdit(label="export into", mode="d")
        self.overwrite = CheckBox(text="overwrite an earlier export")
        self.export_button = PushButton(text="Export", enabled=False)
        self.extend([
            self.image_layer, self.channel, self.pixel_size, self.sigma, self.core_radius,
            self.grid_step,
            self.mask, self.nuclei, self.cells, self.current_frame_only, self.run_button,
            self.progress, self.status, self.export_folder, self.overwrite, self.export_button,
        ])
        self.worker: Optional[FunctionWorker] = None
        self._progress_signal = _Progress()
        self._progress_signal.frames.connect(self._on_progress)
        self._calibration = FileCalibration(None)
        # The last result, the pixels it was computed from and what summary.json records
        # about them, as the command line does.
        self._last: Optional[tuple[Any, np.ndarray, str, dict[str, Any]]] = None
        self.image_layer.changed.connect(self._on_image)
        self.run_button.changed.connect(self.run)
        self.export_button.changed.connect(self.export)
        for event in ("inserted", "removed", "reordered"):
            getattr(self.viewer.layers.events, event).connect(self.reset_choices)
        self.reset_choices()
        self._on_image(self.image_layer.value)

    # Choices -------------------------------------------------------------------------------
    def _image_choices(self, _widget: Any = None) -> list[tuple[str, Image]]:
        return [(layer.name, layer) for layer in self.viewer.layers
                if isinstance(layer, Image) and "tazmir" not in layer.metadata]

    def _label_choices(self, _widget: Any = None) -> list[tuple[str, Labels]]:
        return [(layer.name, layer) for layer in self.viewer.layers if isinstance(layer, Labels)]

    def _channel_choices(self, _widget: Any = None) -> list[str]:
        return _channel_names(self.image_layer.value) or ["-"]

    def _on_image(self, layer: Optional[Image]) -> None:
        self.channel.reset_choices()
        self.channel.visible = bool(_channel_names(layer))
        self.current_frame_only.visible = layer is not None and _is_stack(layer)
        if layer is None:
            return
        self._calibration = FileCalibration(layer.source.path)
        size = self._known_pixel_size(layer)
        if size is not None:
            self.pixel_size.value = size

    def _known_pixel_size(self, layer: Image) -> Optional[float]:
        """From the layer's metadata or scale, else from the file it was opened from."""
        size = layer.metadata.get("pixel_size_um")
        if size is None and layer.scale[-1] != 1.0:
            size = layer.scale[-1]
        if size is None:
            size = self._calibration.pixel_size_um
        return None if size is None else float(size)

    def _summary_info(self, layer: Image, channel: Optional[str]) -> dict[str, Any]:
        """What the command line records about the input in summary.json."""
        file = self._calibration
        size = float(self.pixel_size.value)
        same = file.pixel_size_um is not None and math.isclose(size, file.pixel_size_um,
                                                               rel_tol=1e-6)
        return {
            "file": file.path,
            "pixel_size_source": file.pixel_size_source if same else "napari",
            "axes": file.axes,
            "channel": int(channel) if channel is not None and channel.isdigit() else None,
            "z": None,
        }

    # Run ---------------------------------------------------------------------------------------
    def _current_frame(self, layer: Image) -> int:
        point = self.viewer.dims.point[-layer.ndim:]
        frame = int(round(layer.world_to_data(point)[0]))
        return min(max(frame, 0), layer.data.shape[0] - 1)

    def _label_data(self, widget: ComboBox, frame: Optional[int]) -> Optional[np.ndarray]:
        layer = widget.value
        if layer is None:
            return None
        data = np.asarray(layer.data)
        if frame is not None and data.ndim == 3:
            data = data[frame]
        return data

    def run(self) -> Optional[FunctionWorker]:
        """Start the analysis of the chosen image in a worker thread (None on bad input)."""
        layer = self.image_layer.value
        if layer is None:
            self.status.value = "choose an image layer"
            return None
        channel = self.channel.value if self.channel.visible else None
        try:
            sigma = parse_scale(self.sigma.value, "sigma", integer=False)
            core_radius = parse_scale(self.core_radius.value, "core radius", integer=False)
            grid_step = parse_scale(self.grid_step.value, "grid step", integer=True)
            data = _pixels(layer, channel)
        except ValueError as exc:
            self.status.value = str(exc)
            return None
        spatial = [-2, -1]
        frame = None
        if data.ndim == 3:
            spatial = [0, -2, -1]
            if self.current_frame_only.value:
                frame = self._current_frame(layer)
                data = data[frame]
        mask = self._label_data(self.mask, frame)
        keywords = {
            "pixel_size_um": float(self.pixel_size.value),
            "sigma": sigma,
            "core_radius": core_radius,
            "grid_step": None if grid_step is None else int(grid_step),
            "mask": None if mask is None else mask != 0,
            "nuclei": self._label_data(self.nuclei, frame),
            "cells": self._label_data(self.cells, frame),
            "frame_interval_s": layer.metadata.get("frame_interval_s",
                                                   self._calibration.frame_interval_s),
            "on_frame": self._progress_signal.frames.emit,
        }
        layout = {
            "name": layer.name,
            "scale": tuple(np.asarray(layer.scale)[spatial]),
            "translate": tuple(np.asarray(layer.translate)[spatial]),
            "frame": frame,
        }
        self.run_button.enabled = False
        self.export_button.enabled = False
        self.progress.visible = True
        self.progress.max = data.shape[0] if data.ndim == 3 else 0  # 0: busy
        self.progress.value = 0
        self.status.value = "analysing…"
        info = self._summary_info(layer, channel)
        export_name = Path(self._calibration.path).stem if self._calibration.path else layer.name
        worker = _analysis_job(data, keywords, layout)
        worker.returned.connect(
            lambda outcome: self._on_result(outcome, data, export_name, info, layer.name))
        worker.errored.connect(self._on_error)
        worker.finished.connect(self._on_finished)
        self.worker = worker
        worker.start()
        return worker

    def _on_progress(self, done: int, total: int) -> None:
        if total > 1:
            self.progress.max = total
            self.progress.value = done

    def _on_result(self, outcome: tuple[Any, list], data: np.ndarray, export_name: str,
                   info: dict[str, Any], source: str) -> None:
        result, layers = outcome
        self._replace_layers(layers, source)
        self._last = (result, data, export_name, info)
        n_defects = sum(len(data) for data, keywords, _ in layers
                        if keywords["metadata"]["tazmir"] == "defects")
        self.status.value = f"{n_defects} defects found"
        self.export_button.enabled = True

    def _on_error(self, exc: BaseException) -> None:
        if isinstance(exc, (ValueError, TypeError)):
            self.status.value = f"cannot analyse: {exc}"
        else:
            self.status.value = f"analysis failed: {exc!r}"

    def _on_finished(self) -> None:
        self.run_button.enabled = True
        self.progress.visible = False

    def _replace_layers(self, layers: list, source: str) -> None:
        """Swap in the new layers where this image's old ones were; drop old ones this run
        did not make (tracks of an earlier movie run, nuclei no longer asked for)."""
        made = set()
        for data, keywords, kind in layers:
            keywords["metadata"]["source"] = source
            name = keywords["name"]
            made.add(name)
            new = Layer.create(data, keywords, kind)
            if name in self.viewer.layers:
                old = self.viewer.layers[name]
                new.visible = old.visible
                index = self.viewer.layers.index(old)
                self.viewer.layers.remove(old)
                self.viewer.layers.insert(index, new)
            else:
                self.viewer.add_layer(new)
        for layer in list(self.viewer.layers):
            if layer.metadata.get("source") == source and "tazmir" in layer.metadata \
                    and layer.name not in made:
                self.viewer.layers.remove(layer)

    # Export --------------------------------------------------------------------------------
    def export(self) -> Optional[Path]:
        """Write the last result into a folder named after the image inside the chosen
        folder: the files `tazmir analyze --out FOLDER` writes for that image."""
        if self._last is None:
            self.status.value = "run the analysis first"
            return None
        parent = self.export_folder.value
        if parent is None or str(parent) in ("", "."):
            self.status.value = "choose a folder to export into"
            return None
        result, data, name, info = self._last
        try:
            folder = export_results(Path(parent) / name, result, data, info=info,
                                    overwrite=self.overwrite.value)
        except (OSError, ValueError) as exc:
            self.status.value = f"cannot export: {exc}"
            return None
        self.status.value = f"exported to {folder}"
        return folder


@thread_worker(start_thread=False)
def _analysis_job(data: np.ndarray, keywords: dict, layout: dict) -> Any:
    result = analyze(data, **keywords)
    return result, analysis_layers(result, **layout)
