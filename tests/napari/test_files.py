"""Movies, export and reading back: the widget's folder equals the command line's, and the
reader shows it as the widget did."""

import subprocess
import sys

import numpy as np
import tifffile

from test_widget import tazmir_layers


def test_movie_gives_tracks_along_the_planted_paths(dock, analyse):
    viewer, widget = dock("movie")
    movie = viewer.layers["synthetic movie"]
    analyse(widget)
    tracks = tazmir_layers(viewer)["synthetic movie tracks"]
    assert tuple(tracks.scale) == tuple(movie.scale) == (1.0, 0.5, 0.5)
    positions = movie.metadata["planted_positions"]  # (frame, defect, row/col)
    charges = movie.metadata["planted_charges"]
    followed = set()
    for track in np.unique(tracks.data[:, 0]):
        rows = tracks.data[tracks.data[:, 0] == track]
        frames = rows[:, 1].astype(int)
        distance = np.hypot(*(positions[frames] - rows[:, None, 2:]).transpose(2, 0, 1))
        planted = np.argmin(distance.mean(axis=0))
        if len(rows) >= 6 and distance[:, planted].max() < 8.0:  # one block
            assert np.all(tracks.features["charge"][tracks.data[:, 0] == track]
                          == charges[planted])
            followed.add(int(planted))
    assert followed == set(range(len(charges)))


def test_export_equals_the_command_line_and_reads_back(dock, analyse, tmp_path):
    tissue = tmp_path / "tissue.tif"
    image = dock("tissue")[0].layers["synthetic tissue"].data
    tifffile.imwrite(tissue, image.astype(np.float32), imagej=True, resolution=(2.0, 2.0), metadata={"unit": "um"})
    command = [sys.executable, "-m", "tazmir", "analyze", str(tissue), "--out",
               str(tmp_path / "cli"), "--no-progress"]
    assert subprocess.run(command, capture_output=True, check=False).returncode == 0

    viewer, widget = dock()
    viewer.open(str(tissue), plugin="napari")
    assert widget.pixel_size.value == 0.5  # from the file's calibration
    analyse(widget)
    widget.export_folder.value = tmp_path / "napari"
    assert widget.export() == tmp_path / "napari" / "tissue"
    written = sorted(p.name for p in (tmp_path / "cli" / "tissue").iterdir())
    assert written == sorted(p.name for p in (tmp_path / "napari" / "tissue").iterdir())
    for name in written:
        cli = (tmp_path / "cli" / "tissue" / name).read_bytes()
        assert (tmp_path / "napari" / "tissue" / name).read_bytes() == cli, name
    assert widget.export() is None
    assert widget.status.value.startswith("cannot export: ")  # no silent overwrite

    shown = {layer.metadata["tazmir"]: layer for layer in tazmir_layers(viewer).values()}
    viewer.open(str(tmp_path / "napari" / "tissue"), plugin="tazmir")
    read = {layer.metadata["tazmir"]: layer for layer in tazmir_layers(viewer).values()
            if layer not in shown.values()}
    assert sorted(read) == ["coherence", "defect_axes", "defects", "director"]
    for kind in ("defects", "defect_axes", "director"):
        np.testing.assert_allclose(read[kind].data, shown[kind].data, atol=1e-4)
        assert tuple(read[kind].scale) == (0.5, 0.5)
    np.testing.assert_array_equal(read["defects"].features["charge"],
                                  shown["defects"].features["charge"])
