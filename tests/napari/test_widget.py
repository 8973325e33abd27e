"""The dock widget in a real viewer: planted defects, layer scales, re-runs, bad input."""

import subprocess
import sys
import textwrap

import imageio.v3 as iio
import numpy as np
import pytest

SAMPLE_SCALE = (0.5, 0.5)


def tazmir_layers(viewer):
    return {layer.name: layer for layer in viewer.layers if "tazmir" in layer.metadata}


def test_sample_gives_planted_defects_and_reruns_replace_layers(dock, analyse, tmp_path):
    viewer, widget = dock("tissue")
    image = viewer.layers["synthetic tissue"]
    assert widget.image_layer.value is image
    assert widget.pixel_size.value == 0.5  # from the layer's scale
    widget.nuclei.value = viewer.layers["synthetic nuclei"]
    analyse(widget)

    layers = tazmir_layers(viewer)
    points = layers["synthetic tissue defects"]
    planted = image.metadata["planted_defects"]
    assert len(points.data) == len(planted) == 2
    for row, col, charge in planted:
        distance = np.hypot(points.data[:, 0] - row, points.data[:, 1] - col)
        nearest = int(np.argmin(distance))
        assert distance[nearest] < 4.0  # half a block of the automatic grid
        assert points.features["charge"][nearest] == charge
    plus = points.features["charge"].to_numpy() > 0
    assert points.symbol[plus][0] != points.symbol[~plus][0]
    assert not np.array_equal(points.face_color[plus][0], points.face_color[~plus][0])
    assert len(layers["synthetic tissue nuclei"].data) > 300
    for layer in layers.values():
        assert tuple(layer.scale) == SAMPLE_SCALE, layer.name

    viewer.layers["synthetic nuclei"].visible = False
    viewer.reset_view()
    shot = tmp_path / "napari.png"
    iio.imwrite(shot, viewer.screenshot(canvas_only=True, flash=False))
    assert iio.imread(shot)[..., :3].std() > 10  # the layers were drawn

    widget.grid_step.value = "12"
    widget.nuclei.value = None
    analyse(widget)
    rerun = tazmir_layers(viewer)
    assert set(rerun) == set(layers) - {"synthetic tissue nuclei"}
    assert len(rerun["synthetic tissue director"].data) == (192 // 12) ** 2
    assert len(viewer.layers) == len(rerun) + 2  # the sample's image and labels


@pytest.mark.parametrize(
    ("field", "text", "message"),
    [
        ("sigma", "fast", "sigma must be 'auto' or a number, got 'fast'"),
        ("sigma", "-1", "sigma must be a non-negative number, got '-1'"),
        ("core_radius", "wide", "core radius must be 'auto' or a number, got 'wide'"),
        ("grid_step", "2.5", "grid step must be 'auto' or a whole number, got '2.5'"),
        ("grid_step", "0", "grid step must be at least 1, got '0'"),
    ],
    ids=["sigma-word", "sigma-negative", "core-word", "step-fraction", "step-zero"],
)
def test_bad_scales_are_reported_not_run(dock, field, text, message):
    viewer, widget = dock("tissue")
    getattr(widget, field).value = text
    assert widget.run() is None
    assert widget.status.value == message
    assert not tazmir_layers(viewer)


def test_plugin_is_listed_without_importing_it():
    code = textwrap.dedent(
        """
        import sys
        from npe2 import PluginManager
        manager = PluginManager.instance()
        manager.discover()
        manifest = manager.get_manifest("tazmir")
        print(manifest.display_name, [w.display_name for w in manifest.contributions.widgets])
        # Reading the manifest imports the package holding it, not the widget or Qt.
        assert not [m for m in sys.modules if m.startswith(("tazmir.napari.", "PyQt", "magicgui"))]
        """
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            check=False, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "tazmir ['tazmir: orientation and defects']\n"
