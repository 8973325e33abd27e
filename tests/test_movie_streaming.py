"""A movie read page by page and spread over worker processes, its maps written frame by frame
as they come, gives the tables and maps of one analysed whole in memory."""

import numpy as np
import pytest

tifffile = pytest.importorskip("tifffile")
pytest.importorskip("trackpy")

import tazmir
from tazmir.cli import main
from tazmir.export import csv_text, defect_rows, write_maps
from tazmir.movie import TRACK_COLUMNS
from tazmir.synthetic import synthetic_movie


@pytest.mark.parametrize("workers", ["1", "2"], ids=["serial", "two-processes"])
def test_streamed_movie_gives_the_tables_of_the_whole_movie(tmp_path, workers):
    frames = np.asarray(synthetic_movie(4, 96, seed=11).frames, np.float32)
    path = tmp_path / "movie.tif"
    tifffile.imwrite(path, frames, imagej=True, metadata={"axes": "TYX"})
    assert main(["analyze", str(path), "--pixel-size", "0.5", "--no-progress", "--no-figure",
                 "--workers", workers, "--out", str(tmp_path / "out")]) == 0

    whole = tazmir.analyze_movie(frames.astype(np.float64), pixel_size_um=0.5)
    folder = tmp_path / "out" / "movie"
    columns = whole.defect_columns
    assert len(whole.defects) > 0
    assert (folder / "defects.csv").read_text() == csv_text(
        columns, defect_rows(whole.defects, columns))
    assert (folder / "tracks.csv").read_text() == csv_text(TRACK_COLUMNS, whole.track_rows())
    write_maps(tmp_path / "whole.tif", whole.frames, 0.5)
    assert (folder / "maps.tif").read_bytes() == (tmp_path / "whole.tif").read_bytes()


def test_a_movie_failing_midway_leaves_no_maps_behind(tmp_path, capsys):
    frames = np.asarray(synthetic_movie(4, 96, seed=11).frames, np.float32)
    frames[2, 10, 10] = np.nan  # the third frame cannot be analysed
    path = tmp_path / "movie.tif"
    tifffile.imwrite(path, frames, imagej=True, metadata={"axes": "TYX"})
    out = tmp_path / "out"
    assert main(["analyze", str(path), "--pixel-size", "0.5", "--no-progress", "--no-figure",
                 "--out", str(out)]) == 1
    assert "cannot analyse image" in capsys.readouterr().err
    assert sorted(p.name for p in out.iterdir()) == ["summary.csv"]
