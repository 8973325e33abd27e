"""analyze_movie on synthetic movies with known paths; tracks, speeds and pair events."""

import math
from types import SimpleNamespace

import numpy as np
import pytest

pytest.importorskip("trackpy")
pd = pytest.importorskip("pandas")

import tazmir
from tazmir.movie import TRACK_COLUMNS, _track_rows, link_defects, pair_events
from tazmir.result import Defect
from tazmir.synthetic import PlantedDefect, planted_orientations, score_links


@pytest.fixture(scope="module")
def drifting():
    movie = tazmir.synthetic_movie(8, 160, seed=5)
    return movie, tazmir.analyze_movie(movie.frames, pixel_size_um=movie.pixel_size_um,
                                       frame_interval_s=2.0)


def test_links_follow_the_planted_paths(drifting):
    movie, result = drifting
    score = score_links(result.defects, movie, tolerance_px=8.0)
    assert score["matched_fraction"] == 1.0
    assert score["correct_fraction"] >= 0.98 and score["recall"] >= 0.98
    tracks = result.tracks_frame()
    assert list(tracks.columns) == list(TRACK_COLUMNS)
    assert len(tracks) == 4 and (tracks["n_frames"] == 8).all()
    # Over the movie each track moves as its planted defect, to within the position error.
    table = result.defects_frame()
    for _, track in table.groupby("track"):
        first, last = track.iloc[0], track.iloc[-1]
        i = np.argmin(np.hypot(*(movie.positions[0] - [first.row_px, first.col_px]).T))
        planted = movie.positions[-1, i] - movie.positions[0, i]
        moved = [last.row_px - first.row_px, last.col_px - first.col_px]
        assert np.hypot(*(moved - planted)) <= 8.0
    summary = result.summary()
    assert summary["defects_per_frame"] == [4] * 8
    assert summary["mean_speed_um_per_s"] == pytest.approx(summary["mean_speed_um_per_frame"] / 2)
    assert "8 frames of 160 x 160 px" in repr(result) and len(repr(result)) < 200


def test_frames_use_the_first_frames_scales_and_workers_change_nothing(drifting):
    movie, serial = drifting
    parallel = tazmir.analyze_movie(movie.frames[:3], pixel_size_um=movie.pixel_size_um,
                                    workers=2, search_range_um=serial.search_range_um)
    first = serial.frames[0]
    assert {(f.sigma, f.grid_step, f.core_radius_px) for f in serial.frames} == {
        (first.sigma, first.grid_step, first.core_radius_px)}
    assert parallel.defects_frame().equals(
        serial.defects_frame().query("frame < 3").reset_index(drop=True))


def defect(frame, track, row, col, charge, angle=None):
    return SimpleNamespace(frame=frame, track=track, row_um=row, col_um=col, charge=charge,
                           angle_rad=angle)


def test_speeds_self_propulsion_and_pair_events_from_hand_made_tracks():
    # A +1/2 moving 1 µm/frame along +x with its axis along +x, then against it; a -1/2
    # created beside it in frame 1 that annihilates with another +1/2 in frame 3.
    defects = [
        defect(0, 0, 0.0, 0.0, 0.5, 0.0), defect(1, 0, 0.0, 1.0, 0.5, 0.0),
        defect(2, 0, 0.0, 2.0, 0.5, math.pi), defect(3, 0, 0.0, 3.0, 0.5, math.pi),
        defect(1, 1, 5.0, 5.0, -0.5), defect(2, 1, 5.0, 5.0, -0.5), defect(3, 1, 6.0, 6.0, -0.5),
        defect(1, 2, 5.0, 6.0, 0.5, 0.0), defect(3, 2, 6.0, 7.0, 0.5, 0.0),
        defect(0, 3, 9.0, 9.0, -0.5), defect(5, 3, 9.0, 9.0, -0.5),
    ]
    rows = {row["track"]: row for row in _track_rows(defects, 0.5)}
    assert rows[0]["mean_speed_um_per_frame"] == 1.0
    assert rows[0]["mean_speed_um_per_s"] == 2.0
    assert rows[0]["self_propulsion_um_per_frame"] == pytest.approx(1 / 3)  # +1, +1, -1
    assert rows[2]["mean_speed_um_per_frame"] == pytest.approx(math.sqrt(2) / 2)
    assert rows[1]["self_propulsion_um_per_frame"] is None  # -1/2 has no propulsion axis
    assert (rows[3]["first_frame"], rows[3]["last_frame"], rows[3]["n_frames"]) == (0, 5, 2)
    assert pair_events(defects, 1.5, n_frames=6) == (1, 1)
    assert pair_events(defects, 0.5, n_frames=6) == (0, 0)


@pytest.mark.parametrize(
    "kwargs, message",
    [({"frame_interval_s": 0.0}, "frame_interval_s must be a positive finite number, got 0.0"),
     ({"search_range_um": -1.0}, "search_range_um must be a positive finite number, got -1.0"),
     ({"memory": -1}, "memory must be a non-negative integer, got -1"),
     ({"frames": []}, "the movie has no frames")],
    ids=["interval", "search-range", "memory", "no-frames"],
)
def test_bad_movie_settings_are_refused(kwargs, message):
    arguments = {"frames": np.zeros((2, 32, 32)), "pixel_size_um": 1.0, **kwargs}
    with pytest.raises(ValueError) as info:
        tazmir.analyze_movie(arguments.pop("frames"), **arguments)
    assert str(info.value) == message


@pytest.mark.parametrize("step_px", [-1.5, 1.5], ids=["tail-first", "head-first"])
def test_self_propulsion_is_the_velocity_along_the_plus_half_axis(step_px):
    # With the -1/2 to its right, the +1/2's tail axis points along -x (angle pi): moving
    # towards -x is self-propulsion along its axis, towards +x against it.
    planted = (PlantedDefect(80, 60, 0.5), PlantedDefect(80, 110, -0.5))
    assert planted_orientations(planted)[0].angle_rad == pytest.approx(math.pi)
    movie = tazmir.synthetic_movie(10, 160, defects=planted, velocities=((0, step_px), (0, 0)),
                                   seed=3)
    tracks = tazmir.analyze_movie(movie.frames, pixel_size_um=0.5).tracks_frame()
    assert tracks["charge"].tolist() == [0.5, -0.5] and (tracks["n_frames"] == 10).all()
    assert tracks["self_propulsion_um_per_frame"][0] == pytest.approx(-step_px * 0.5, abs=0.3)
    assert np.isnan(tracks["self_propulsion_um_per_frame"][1])


def test_a_crowd_too_dense_to_link_is_a_clear_error():
    rng = np.random.default_rng(1)
    frames = [[Defect(r, c, r, c, 0.5, 0.0, 1.0, 1.0) for r, c in rng.uniform(0, 20, (40, 2))]
              for _ in range(2)]
    with pytest.raises(ValueError) as info:
        link_defects(frames, 50.0, 1)
    assert str(info.value) == ("too many defects within 50 µm of each other to link; give a "
                               "smaller search range (--search-range)")
