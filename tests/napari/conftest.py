"""Fixtures of the napari plugin's tests (run as `pytest tests/napari` with the napari-test
extra, on a display: Xvfb in CI)."""

import pytest

from tazmir.napari.widget import AnalysisWidget

RUN_TIMEOUT_MS = 120_000


@pytest.fixture
def analyse(qtbot):
    """Run an `AnalysisWidget` and wait until its worker has finished."""

    def run(widget: AnalysisWidget) -> None:
        worker = widget.run()
        assert worker is not None, widget.status.value
        qtbot.waitUntil(lambda: widget.run_button.enabled, timeout=RUN_TIMEOUT_MS)

    return run


@pytest.fixture
def dock(make_napari_viewer):
    """A shown viewer (a hidden one draws nothing into screenshots) with the widget docked;
    `sample` names a sample of the plugin to open first."""

    def make(sample=None):
        viewer = make_napari_viewer(show=True)
        if sample is not None:
            viewer.open_sample("tazmir", sample)
        widget = AnalysisWidget(viewer)
        viewer.window.add_dock_widget(widget)
        return viewer, widget

    return make
