"""The tazmir command line: demo, analyze over files, failures, local worker processes."""

import contextlib
import io
import json
import math
import re
import subprocess
import sys

import numpy as np
import pytest

pytest.importorskip("matplotlib")
tifffile = pytest.importorskip("tifffile")
iio = pytest.importorskip("imageio.v3")
pytest.importorskip("tqdm")

import tazmir
from tazmir.cli import main
from tazmir.files import read_image
from tazmir.synthetic import synthetic_tissue

from conftest import read_csv, read_outputs


@pytest.fixture(scope="module")
def images(tmp_path_factory):
    """Two small synthetic tissues (TIFF and RGB PNG), a file that is not an image and an
    image too small to analyse."""
    folder = tmp_path_factory.mktemp("images")
    first = synthetic_tissue(64, n_outlined=0, seed=1).image
    second = synthetic_tissue(72, n_outlined=0, seed=2).image
    tifffile.imwrite(folder / "first.tif", first)
    grey = np.round((second - second.min()) / np.ptp(second) * 255).astype(np.uint8)
    iio.imwrite(folder / "second.png", np.stack([grey, grey, grey], axis=-1))
    (folder / "broken.tif").write_bytes(b"this is not a TIFF file")
    tifffile.imwrite(folder / "tiny.tif", np.zeros((4, 4)))
    return [folder / name for name in ("first.tif", "broken.tif", "second.png", "tiny.tif")]


def run_analyze(images, out, *extra):
    return main(["analyze", *map(str, images), "--pixel-size", "0.5", "--out", str(out),
                 "--no-progress", *extra])


@pytest.fixture(scope="module")
def serial_run(images, tmp_path_factory):
    out, said, err = tmp_path_factory.mktemp("serial"), io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(said), contextlib.redirect_stderr(err):
        status = run_analyze(images, out)
    return status, out, said.getvalue(), err.getvalue()


def test_failing_files_are_reported_and_the_others_analysed(serial_run, images):
    status, out, said, err = serial_run
    assert status == 1 and "analysed 2 of 4 images" in said
    err = err.splitlines()
    assert len(err) == 2 and err[0].startswith(f"tazmir: {images[1]}: cannot read image: ")
    assert err[1].startswith(f"tazmir: {images[3]}: cannot analyse image: image of shape (4, 4)")
    assert sorted(p.name for p in out.iterdir()) == ["first", "second", "summary.csv"]
    rows = read_csv(out / "summary.csv")
    assert [(r["name"], r["file"], r["image_rows"]) for r in rows] == [
        ("first", str(images[0]), "64"), ("second", str(images[2]), "72")]
    first = tazmir.analyze_image(read_image(images[0]), pixel_size_um=0.5)
    assert (out / "first" / "params.json").read_text() == first.to_json()
    summary = json.loads((out / "first" / "summary.json").read_text())
    assert (summary["n_defects"], summary["n_nuclei"]) == (first.summary()["n_defects"], None)
    assert (out / "first" / "analysis.png").read_bytes().startswith(b"\x89PNG\r\n\x1a\n")


def test_local_worker_processes_write_the_same_files(serial_run, images, tmp_path):
    status, serial_out, _, _ = serial_run
    assert run_analyze(images, tmp_path, "--workers", "2") == status
    assert read_outputs(tmp_path) == read_outputs(serial_out)


def test_repeated_file_names_get_numbered_folders(images, tmp_path):
    assert run_analyze([images[0], images[0]], tmp_path, "--no-figure") == 0
    assert sorted(p.name for p in tmp_path.iterdir()) == ["first", "first-2", "summary.csv"]


def test_demo_writes_its_outputs_and_finds_the_planted_defects(tmp_path, capsys):
    assert main(["demo", "--out", str(tmp_path)]) == 0
    assert sorted(p.name for p in tmp_path.iterdir()) == [
        "analysis.png", "cells.csv", "defects.csv", "image.tif", "maps.tif", "nuclei.csv",
        "params.json", "ripley.csv", "summary.json"]
    summary = json.loads((tmp_path / "summary.json").read_text())
    assert (summary["n_positive"], summary["n_negative"], summary["n_cells"]) == (1, 1, 400)
    out = capsys.readouterr().out
    found = re.findall(r"found   ([+-]0\.5) at \(row ([\d.]+), col ([\d.]+)\)", out)
    assert [q for q, _, _ in found] == ["+0.5", "-0.5"]
    for (_, row, col), planted in zip(found, [(96.0, 64.0), (96.0, 128.0)]):
        assert math.hypot(float(row) - planted[0], float(col) - planted[1]) < 4.0
    np.testing.assert_array_equal(tifffile.imread(tmp_path / "image.tif"),
                                  synthetic_tissue().image)
    assert tazmir.read_image(tmp_path / "image.tif").pixel_size_um == 0.5
    assert main(["demo", "--out", str(tmp_path)]) == 2
    assert capsys.readouterr().err == (
        f"tazmir: {tmp_path} is not empty; pass --overwrite to replace it\n")
    assert main(["demo", "--out", str(tmp_path), "--overwrite"]) == 0


@pytest.mark.parametrize(
    "argv, message",
    [
        (["analyze", "x.tif"], "the following arguments are required: --out"),
        (["analyze", "x.tif", "--out", "o", "--channel", "-1"],
         "argument --channel: must be 0 or more, got '-1'"),
        (["analyze", "x.tif", "--out", "o", "--overwrite", "--resume"],
         "argument --resume: not allowed with argument --overwrite"),
        (["analyze", "x.tif", "--pixel-size", "0", "--out", "o"], "must be a positive number"),
        (["analyze", "x.tif", "--pixel-size", "1", "--out", "o", "--workers", "2",
          "--scheduler", "tcp://localhost:1"], "not allowed with argument"),
    ],
    ids=["no-out", "negative-channel", "overwrite-and-resume", "zero-pixel-size",
         "workers-and-scheduler"],
)
def test_usage_errors_exit_with_status_2(argv, message, capsys):
    with pytest.raises(SystemExit) as info:
        main(argv)
    assert info.value.code == 2
    assert message in capsys.readouterr().err


def test_module_entry_point_runs():
    done = subprocess.run([sys.executable, "-m", "tazmir", "--version"], capture_output=True,
                          text=True, timeout=120, check=False)
    assert (done.returncode, done.stdout.split()[0]) == (0, "tazmir")
