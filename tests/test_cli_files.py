"""tazmir analyze on a lab's files: metadata, labels, maps, and runs that are safe to repeat."""

import errno
import json
import os
import threading

import numpy as np
import pytest

pytest.importorskip("matplotlib")
tifffile = pytest.importorskip("tifffile")
pytest.importorskip("trackpy")
pytest.importorskip("skimage")

import tazmir
from tazmir import batch, export
from tazmir.cli import main

from conftest import read_csv, read_outputs


def write_ij(path, data, axes="YX", size=0.5, **meta):
    tifffile.imwrite(path, np.asarray(data, np.float32), imagej=True,
                     resolution=(1 / size, 1 / size), metadata={"axes": axes, "unit": "um", **meta})


@pytest.fixture(scope="module")
def lab(tmp_path_factory):
    """An ImageJ image with its nucleus labels beside it, and a plain TIFF without metadata."""
    folder = tmp_path_factory.mktemp("lab")
    tissue = tazmir.synthetic_tissue(96, seed=3)
    write_ij(folder / "a.tif", tissue.image)
    tifffile.imwrite(folder / "a_nuclei.tif", tissue.nuclear_mask)
    tifffile.imwrite(folder / "plain.tif", tissue.image)
    return folder, tissue


def analyze(*args):
    return main(["analyze", *map(str, args), "--no-progress"])


def test_metadata_labels_and_maps_make_a_complete_folder(lab, tmp_path, capsys):
    folder, tissue = lab
    assert analyze(folder / "a.tif", "--out", tmp_path, "--nuclei", folder / "{stem}_nuclei.tif") == 0
    out = tmp_path / "a"
    assert sorted(p.name for p in out.iterdir()) == [
        "analysis.png", "defects.csv", "maps.tif", "nuclei.csv", "params.json", "ripley.csv",
        "summary.json"]
    summary = json.loads((out / "summary.json").read_text())
    assert (summary["pixel_size_um"], summary["pixel_size_source"]) == (0.5, "imagej")
    expected = tazmir.analyze_image(tissue.image.astype(np.float32), pixel_size_um=0.5,
                                    nuclei=tissue.nuclear_mask)
    assert summary["n_nuclei"] == expected.summary()["n_nuclei"]
    rows = read_csv(out / "defects.csv")
    assert [(float(r["row_px"]), float(r["col_px"]), float(r["charge"])) for r in rows] == [
        (d.row, d.col, d.charge) for d in expected.defects]
    with tifffile.TiffFile(out / "maps.tif") as tif:
        assert (tif.series[0].axes, tif.series[0].dtype, tif.imagej_metadata["unit"],
                tif.pages[0].tags["XResolution"].value) == ("CYX", np.float32, "um", (2, 1))
        assert tif.imagej_metadata["Labels"] == ["theta_rad", "coherence", "order"]
        maps = tif.asarray()
    np.testing.assert_array_equal(maps[:2], np.stack([expected.theta, expected.coherence]))
    # Order: each grid block's S on its pixels, NaN where no director is defined.
    grid, step = expected.grid, expected.grid.step
    blocks = maps[2][step // 2::step, step // 2::step][: grid.shape[0], : grid.shape[1]]
    valid = True if grid.valid is None else grid.valid
    np.testing.assert_array_equal(blocks, np.where(valid, grid.order, np.nan)
                                  .astype(np.float32))
    assert np.isnan(maps[2][grid.shape[0] * step:]).all()
    assert capsys.readouterr().err == ""


def test_pixel_size_override_is_said_and_missing_pixel_size_fails(lab, tmp_path, capsys):
    folder, _ = lab
    assert analyze(folder / "a.tif", folder / "plain.tif", "--out", tmp_path, "--no-figure") == 1
    assert capsys.readouterr().err == (f"tazmir: {folder / 'plain.tif'}: the file does not "
                                       "state its pixel size; pass --pixel-size UM\n")
    assert not (tmp_path / "a" / "analysis.png").exists()
    assert analyze(folder / "a.tif", "--out", tmp_path / "o", "--pixel-size", "1") == 0
    assert capsys.readouterr().err == (f"tazmir: {folder / 'a.tif'}: --pixel-size 1 µm "
                                       "overrides the file's 0.5 µm (imagej)\n")
    assert json.loads((tmp_path / "o" / "a" / "summary.json").read_text())[
        "pixel_size_source"] == "--pixel-size"


def test_a_second_run_is_refused_overwritten_or_resumed(lab, tmp_path, capsys, monkeypatch):
    folder, _ = lab
    inputs = [folder / "a.tif", folder / "plain.tif", "--pixel-size", "0.5", "--no-figure"]
    assert analyze(*inputs, "--out", tmp_path) == 0
    before = read_outputs(tmp_path)
    capsys.readouterr()
    assert analyze(*inputs, "--out", tmp_path) == 2
    assert capsys.readouterr().err == (
        f"tazmir: {tmp_path} already holds results; pass --overwrite to replace them or "
        "--resume to finish an interrupted run\n")
    assert read_outputs(tmp_path) == before
    (tmp_path / "a" / "mine.txt").write_text("kept")
    assert analyze(*inputs, "--out", tmp_path, "--overwrite") == 0
    assert read_outputs(tmp_path) == {**before, "a/mine.txt": b"kept"}
    (tmp_path / "plain" / "summary.json").unlink()  # as a run killed mid-folder leaves it
    calls, real = [], batch.process_file
    monkeypatch.setattr(batch, "process_file",
                        lambda path, *a, **k: calls.append(path) or real(path, *a, **k))
    assert analyze(*inputs, "--out", tmp_path, "--resume") == 0
    assert calls == [str(folder / "plain.tif")]
    assert read_outputs(tmp_path) == {**before, "a/mine.txt": b"kept"}


def test_interrupt_and_write_errors_leave_no_partial_files(lab, tmp_path, capsys, monkeypatch):
    folder, _ = lab
    inputs = [folder / "a.tif", folder / "plain.tif", "--pixel-size", "0.5", "--no-figure"]
    real = export.write_maps

    def interrupted(path, *args):
        real(path, *args)
        if "plain" in str(path.parent):
            raise KeyboardInterrupt

    monkeypatch.setattr(export, "write_maps", interrupted)
    assert analyze(*inputs, "--out", tmp_path / "stop") == 130
    assert capsys.readouterr().err == "tazmir: interrupted\n"
    assert sorted(read_outputs(tmp_path / "stop")) == [
        "a/defects.csv", "a/maps.tif", "a/params.json", "a/summary.json"]

    def full(path, *args):
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(export, "write_maps", full)
    assert analyze(*inputs, "--out", tmp_path / "full") == 1
    err = capsys.readouterr().err.splitlines()
    assert len(err) == 2 and err[0] == (f"tazmir: {folder / 'a.tif'}: cannot write results: "
                                        "[Errno 28] No space left on device")
    assert sorted(read_outputs(tmp_path / "full")) == ["summary.csv"]

    # The maps are synced to disk before their folder appears: a mount that cannot sync
    # still gets its results, a sync that fails is a failed write.
    monkeypatch.setattr(export, "write_maps", real)
    for code, status in ((errno.ENOSYS, 0), (errno.EIO, 1)):
        monkeypatch.setattr(os, "fdatasync", lambda fd, code=code: _raise(OSError(code, "")))
        assert analyze(*inputs, "--out", tmp_path / f"sync{code}") == status
    err = capsys.readouterr().err.splitlines()
    assert err[0] == f"tazmir: {folder / 'a.tif'}: cannot write results: [Errno 5] "
    assert sorted(read_outputs(tmp_path / f"sync{errno.EIO}")) == ["summary.csv"]


def _raise(exc: Exception) -> None:
    raise exc


@pytest.mark.parametrize("limit, overlapped", [(1 << 40, True), (0, False)],
                         ids=["small-results-overlap", "large-results-first"])
def test_a_folder_is_written_beside_the_next_analysis_unless_large(lab, tmp_path, monkeypatch,
                                                                    limit, overlapped):
    folder, _ = lab
    events = []
    real_analyse, real_write = batch.process_file, batch.write_results

    def analyse(path, *args, **kwargs):
        events.append(("analyse", path))
        return real_analyse(path, *args, **kwargs)

    def write(folder_path, *args, **kwargs):
        # Held until the next analysis starts (or briefly, when that never comes).
        for _ in range(200):
            if overlapped is False or len(events) > 1:
                break
            threading.Event().wait(0.01)
        real_write(folder_path, *args, **kwargs)
        events.append(("written", folder_path.name))

    monkeypatch.setattr(batch, "OVERLAP_PIXELS", limit)
    monkeypatch.setattr(batch, "process_file", analyse)
    monkeypatch.setattr(batch, "write_results", write)
    assert analyze(folder / "a.tif", folder / "plain.tif", "--pixel-size", "0.5",
                   "--no-figure", "--out", tmp_path) == 0
    kinds = [kind for kind, _ in events]
    assert kinds == (["analyse", "analyse", "written", "written"] if overlapped
                     else ["analyse", "written", "analyse", "written"])


def test_a_multichannel_file_needs_a_channel(tmp_path, capsys):
    image = tazmir.synthetic_tissue(64, n_outlined=0).image
    write_ij(tmp_path / "two.tif", np.stack([image, image[::-1]]), axes="CYX",
             Labels=["actin", "dapi"])
    assert analyze(tmp_path / "two.tif", "--out", tmp_path / "o", "--no-figure") == 1
    assert capsys.readouterr().err.startswith(f"tazmir: {tmp_path / 'two.tif'}: 2 channels")
    assert analyze(tmp_path / "two.tif", "--out", tmp_path / "p", "--channel", "1",
                   "--no-figure") == 0
    summary = json.loads((tmp_path / "p" / "two" / "summary.json").read_text())
    assert (summary["axes"], summary["channel"]) == ("CYX", 1)


@pytest.mark.parametrize(
    "labels, message",
    [
        (None, "cannot read nuclei labels {folder}/none.tif: no such file"),
        (np.zeros((96, 96), np.float32), "nuclei labels {folder}/none.tif must hold integers, "
         "got float32"),
        (np.zeros((90, 96), np.uint16), "nuclei labels {folder}/none.tif have shape (90, 96), "
         "the image (96, 96)"),
    ],
    ids=["missing", "float", "shape"],
)
def test_unusable_label_files_fail_that_image(lab, tmp_path, capsys, labels, message):
    folder, _ = lab
    if labels is not None:
        tifffile.imwrite(tmp_path / "none.tif", labels)
    assert analyze(folder / "a.tif", "--out", tmp_path / "o", "--nuclei", tmp_path / "none.tif",
                   "--no-figure") == 1
    assert capsys.readouterr().err == (
        f"tazmir: {folder / 'a.tif'}: " + message.format(folder=tmp_path) + "\n")


def test_write_results_appears_whole_and_replaces_only_when_asked(lab, tmp_path):
    _, tissue = lab
    result = tazmir.analyze_image(tissue.image, pixel_size_um=0.5)
    (tmp_path / "empty").mkdir()
    export.write_results(tmp_path / "empty", result, figure=False)
    with pytest.raises(FileExistsError) as info:
        export.write_results(tmp_path / "empty", result, figure=False)
    assert str(info.value) == f"{tmp_path / 'empty'} is not empty (pass overwrite=True to replace it)"
    export.write_results(tmp_path / "empty", result, figure=False, overwrite=True)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["empty"]  # no staging folder left
