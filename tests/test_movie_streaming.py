"""A movie file read page by page and spread over worker processes, its maps written frame by
frame as they come, gives the tables and maps of one analysed whole in memory."""

import json

import numpy as np
import pytest

tifffile = pytest.importorskip("tifffile")
pytest.importorskip("trackpy")

import tazmir
from tazmir.cli import main
from tazmir.export import csv_text, defect_rows, write_maps
from tazmir.movie import TRACK_COLUMNS
from tazmir.synthetic import synthetic_movie


def write_movie(path, frames):
    tifffile.imwrite(path, frames, imagej=True, resolution=(2.0, 2.0),
                     metadata={"axes": "TYX", "unit": "um", "finterval": 10.0})


@pytest.mark.parametrize("workers", ["1", "2"], ids=["serial", "two-processes"])
def test_streamed_movie_gives_the_tables_of_the_whole_movie(tmp_path, workers):
    frames = np.asarray(synthetic_movie(4, 96, seed=11).frames, np.float32)
    write_movie(tmp_path / "movie.tif", frames)
    assert main(["analyze", str(tmp_path / "movie.tif"), "--no-progress", "--workers", workers,
                 "--out", str(tmp_path / "out")]) == 0

    whole = tazmir.analyze_movie(frames.astype(np.float64), pixel_size_um=0.5,
                                 frame_interval_s=10.0)
    folder = tmp_path / "out" / "movie"
    assert sorted(p.name for p in folder.iterdir()) == [
        "analysis.png", "defects.csv", "maps.tif", "params.json", "summary.json", "tracks.csv"]
    summary = json.loads((folder / "summary.json").read_text())
    assert (summary["n_frames"], summary["frame_interval_s"]) == (4, 10.0)
    columns = whole.defect_columns
    assert len(whole.defects) > 0 and columns[-1] == "track"
    assert (folder / "defects.csv").read_text() == csv_text(
        columns, defect_rows(whole.defects, columns))
    assert (folder / "tracks.csv").read_text() == csv_text(TRACK_COLUMNS, whole.track_rows())
    write_maps(tmp_path / "whole.tif", whole.frames, 0.5, 10.0)
    assert (folder / "maps.tif").read_bytes() == (tmp_path / "whole.tif").read_bytes()
    with tifffile.TiffFile(folder / "maps.tif") as tif:
        assert (tif.series[0].axes, tif.series[0].shape) == ("TCYX", (4, 3, 96, 96))
        assert tif.imagej_metadata["finterval"] == 10.0


def test_a_movie_failing_midway_leaves_no_maps_behind(tmp_path, capsys):
    frames = np.asarray(synthetic_movie(4, 96, seed=11).frames, np.float32)
    frames[2, 10, 10] = np.nan  # the third frame cannot be analysed
    write_movie(tmp_path / "movie.tif", frames)
    out = tmp_path / "out"
    assert main(["analyze", str(tmp_path / "movie.tif"), "--no-progress", "--no-figure",
                 "--out", str(out)]) == 1
    assert "cannot analyse image" in capsys.readouterr().err
    assert sorted(p.name for p in out.iterdir()) == ["summary.csv"]
