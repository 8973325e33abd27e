"""`analyze_movie`: a (T, Y, X) recording analysed frame by frame, defects linked over time.

Every frame is analysed with the scales chosen on the first one, so frames are comparable.
Defects are linked with trackpy, each charge on its own (a +1/2 never continues a -1/2), in
µm with a nearest-velocity predictor so that drifting defects keep their identity. Tracks give
speeds, the self-propulsion of +1/2 defects along their own axis, and the creation and
annihilation of +-1/2 pairs.
"""

from __future__ import annotations

import contextlib
import dataclasses
import math
import warnings
from collections.abc import Iterable, Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, Optional

import numpy as np
import numpy.typing as npt

import _native

from ._workers import process_pool
from .analysis import analyze_image
from .export import DEFECT_COLUMNS, MapsFile, defect_rows
from .io import StoredFrame
from .result import Defect, ImageAnalysis

__all__ = ["MovieAnalysis", "TRACK_COLUMNS", "analyze_movie", "link_defects"]

TRACK_COLUMNS = (
    "track", "charge", "first_frame", "last_frame", "n_frames", "mean_speed_um_per_frame",
    "mean_speed_um_per_s", "self_propulsion_um_per_frame", "self_propulsion_um_per_s",
)
# Without two defects in a frame to set a spacing, links may reach this many grid steps.
_FALLBACK_RANGE_STEPS = 4.0


@dataclass(frozen=True, eq=False)
class MovieAnalysis:
    """Everything `analyze_movie` measured: one `ImageAnalysis` per frame, the linked
    defects (``frame`` and ``track`` set), and the linking settings in µm and frames."""

    frames: list[ImageAnalysis]
    defects: tuple[Defect, ...]
    pixel_size_um: float
    frame_interval_s: Optional[float]
    search_range_um: float
    memory: int

    defect_columns = (*DEFECT_COLUMNS, "track")

    def __repr__(self) -> str:
        rows, cols = self.frames[0].image_shape
        summary = self.summary()
        return (f"MovieAnalysis({len(self.frames)} frames of {rows} x {cols} px at "
                f"{self.pixel_size_um:.4g} µm/px, {len(self.defects)} defects in "
                f"{summary['n_tracks']} tracks, mean speed "
                f"{_fmt(summary['mean_speed_um_per_frame'])} µm/frame)")

    @property
    def grid_step(self) -> int:
        return self.frames[0].grid_step

    def defects_frame(self) -> Any:
        """defects.csv as a pandas DataFrame: one row per defect and frame, with its track."""
        import pandas as pd

        return pd.DataFrame.from_records(defect_rows(self.defects, self.defect_columns),
                                         columns=list(self.defect_columns))

    def track_rows(self) -> list[dict[str, Any]]:
        """tracks.csv rows: one per trajectory."""
        return _track_rows(self.defects, self.frame_interval_s)

    def tracks_frame(self) -> Any:
        """tracks.csv as a pandas DataFrame."""
        import pandas as pd

        return pd.DataFrame.from_records(self.track_rows(), columns=list(TRACK_COLUMNS))

    def nuclei_frame(self) -> Any:
        return self._stacked("nuclei_frame")

    def cells_frame(self) -> Any:
        return self._stacked("cells_frame")

    def _stacked(self, method: str) -> Any:
        import pandas as pd

        parts = [getattr(f, method)().assign(frame=t) for t, f in enumerate(self.frames)]
        table = pd.concat(parts, ignore_index=True)
        return table[["frame", *[c for c in table.columns if c != "frame"]]]

    def to_json(self) -> str:
        """The fenwold parameter set built from the medians of the frames' inputs."""
        ldg = {key: float(np.median([f.ldg[key] for f in self.frames]))
               for key in ("a", "b", "c", "k_elastic")}
        frank = {key: float(np.median([f.frank[key] for f in self.frames]))
                 for key in ("splay", "bend")}
        n_defects = int(round(float(np.median([len(f.defects) for f in self.frames]))))
        area_um2 = float(np.median([f.analysed_area_um2 for f in self.frames]))
        params = _native.build_fenwold_params(
            ldg["a"], ldg["b"], ldg["c"], ldg["k_elastic"], frank["splay"], frank["bend"],
            n_defects, area_um2,
        )
        return str(params["json"])

    def summary(self) -> dict[str, Any]:
        """Headline numbers: scales, defects per frame, tracks, pair events, mean speeds."""
        first = self.frames[0].summary()
        counts = [len(f.defects) for f in self.frames]
        rows = self.track_rows()
        creations, annihilations = pair_events(self.defects, self.search_range_um,
                                               len(self.frames))
        steps = _steps(self.defects)
        speeds = [s for s in steps if s["charge"] is not None]
        plus = [s["along"] for s in speeds if s["charge"] > 0 and s["along"] is not None]
        mean_speed = float(np.mean([s["speed"] for s in speeds])) if speeds else math.nan
        mean_plus = float(np.mean(plus)) if plus else math.nan
        per_s = self.frame_interval_s
        # Scales were chosen on the first frame and kept: its summary says how.
        scales = ("image_rows", "image_cols", "pixel_size_um", "sigma", "grid_step", "k",
                  "core_radius_px", "sigma_auto", "grid_step_auto", "core_radius_auto")
        orders = [f._mean_order() for f in self.frames]
        return {
            "n_frames": len(self.frames),
            "frame_interval_s": per_s,
            **{key: first[key] for key in scales if key in first},
            "mean_coherence": float(np.mean([np.mean(f.coherence, dtype=np.float64) for f in self.frames])),
            "mean_order": float(np.nanmean(orders)) if np.isfinite(orders).any() else math.nan,
            "n_defects_mean": float(np.mean(counts)),
            "defects_per_frame": counts,
            "n_tracks": len(rows),
            "n_pair_creations": creations,
            "n_pair_annihilations": annihilations,
            "search_range_um": self.search_range_um,
            "memory": self.memory,
            "mean_speed_um_per_frame": mean_speed,
            "mean_speed_um_per_s": mean_speed / per_s if per_s else None,
            "plus_self_propulsion_um_per_frame": mean_plus,
            "plus_self_propulsion_um_per_s": mean_plus / per_s if per_s else None,
        }


def _fmt(value: Any) -> str:
    return "n/a" if value is None or not math.isfinite(value) else f"{value:.3g}"


def _angle(defect: Any) -> float:
    value = getattr(defect, "angle_rad", None)
    return math.nan if value is None else float(value)


def _steps(defects: Sequence[Any]) -> list[dict[str, Any]]:
    """Per link between consecutive detections of a track: speed and, for +1/2, the velocity
    along the defect's own axis (cos angle, sin angle) with x = column, y = row."""
    by_track: dict[int, list[Any]] = {}
    for d in defects:
        if d.track is not None:
            by_track.setdefault(d.track, []).append(d)
    steps = []
    for track in by_track.values():
        track.sort(key=lambda d: d.frame)
        for a, b in zip(track, track[1:]):
            gap = b.frame - a.frame
            vx, vy = (b.col_um - a.col_um) / gap, (b.row_um - a.row_um) / gap
            along = None
            if a.charge > 0:
                psi = _angle(a)
                along = None if math.isnan(psi) else vx * math.cos(psi) + vy * math.sin(psi)
            steps.append({"track": a.track, "charge": a.charge, "speed": math.hypot(vx, vy),
                          "along": along})
    return steps


def _track_rows(defects: Sequence[Any], interval: Optional[float]) -> list[dict[str, Any]]:
    steps = _steps(defects)
    rows = []
    tracks = sorted({d.track for d in defects if d.track is not None})
    for track in tracks:
        members = [d for d in defects if d.track == track]
        own = [s for s in steps if s["track"] == track]
        speed = float(np.mean([s["speed"] for s in own])) if own else None
        along_values = [s["along"] for s in own if s["along"] is not None]
        along = float(np.mean(along_values)) if along_values else None
        per_s = (lambda v: v / interval if v is not None and interval else None)
        rows.append({
            "track": track,
            "charge": members[0].charge,
            "first_frame": min(d.frame for d in members),
            "last_frame": max(d.frame for d in members),
            "n_frames": len(members),
            "mean_speed_um_per_frame": speed,
            "mean_speed_um_per_s": per_s(speed),
            "self_propulsion_um_per_frame": along,
            "self_propulsion_um_per_s": per_s(along),
        })
    return rows


def pair_events(defects: Sequence[Any], distance_um: float, n_frames: int) -> tuple[int, int]:
    """Pair creations (a +1/2 and a -1/2 track starting in the same frame after the first,
    within ``distance_um``) and annihilations (both ending in the same frame before the
    last, within that distance); each track takes part in at most one event."""
    ends: dict[int, tuple[Any, Any]] = {}
    for d in defects:
        first, last = ends.get(d.track, (d, d))
        ends[d.track] = (d if d.frame < first.frame else first, d if d.frame > last.frame else last)

    def count(which: int, frame_ok: Any) -> int:
        points = [e[which] for e in ends.values() if frame_ok(e[which].frame)]
        used: set[int] = set()
        pairs = sorted(
            (math.hypot(p.row_um - m.row_um, p.col_um - m.col_um), p.track, m.track)
            for p in points if p.charge > 0 for m in points
            if m.charge < 0 and m.frame == p.frame
        )
        events = 0
        for dist, plus, minus in pairs:
            if dist <= distance_um and plus not in used and minus not in used:
                used.update((plus, minus))
                events += 1
        return events

    return count(0, lambda f: f > 0), count(1, lambda f: f < n_frames - 1)


def _default_range(frames: Sequence[ImageAnalysis], pixel_size_um: float) -> float:
    """Half the median nearest-neighbour spacing of defects within a frame: a defect moving
    less than that per frame is nearer its own next position than to any other's."""
    spacings = []
    for frame in frames:
        if len(frame.defects) < 2:
            continue
        points = np.array([[d.row_um, d.col_um] for d in frame.defects])
        distance = np.hypot(*(points[:, None, :] - points[None, :, :]).transpose(2, 0, 1))
        np.fill_diagonal(distance, np.inf)
        spacings.extend(distance.min(axis=1).tolist())
    floor = frames[0].grid_step * pixel_size_um
    if not spacings:
        return _FALLBACK_RANGE_STEPS * floor
    return max(floor, 0.5 * float(np.median(spacings)))


def link_defects(
    frames: Sequence[Sequence[Defect]], search_range_um: float, memory: int,
) -> tuple[Defect, ...]:
    """Link per-frame defects into tracks with trackpy, each charge separately; returns the
    defects with ``frame`` and ``track`` set (tracks numbered from 0 by first appearance)."""
    import pandas as pd
    import trackpy
    from trackpy.linking import SubnetOversizeException
    from trackpy.predict import NearestVelocityPredict

    trackpy.quiet()
    records = [(t, i, d.col_um, d.row_um, d.charge) for t, found in enumerate(frames)
               for i, d in enumerate(found)]
    table = pd.DataFrame.from_records(records, columns=["frame", "index", "x", "y", "charge"])
    linked = []
    for charge in (0.5, -0.5):
        part = table[np.sign(table["charge"]) == np.sign(charge)]
        if part.empty:
            continue
        with warnings.catch_warnings():
            # trackpy's velocity predictor still calls a pandas API that pandas deprecates.
            warnings.filterwarnings("ignore", message="The 'lsuffix' and 'rsuffix' keywords")
            try:
                # Where too many defects crowd one search disc, shrink it there (adaptive
                # search) rather than give up.
                result = NearestVelocityPredict().link_df(
                    part.copy(), search_range_um, memory=memory, pos_columns=["x", "y"],
                    adaptive_stop=0.1 * search_range_um, adaptive_step=0.9,
                )
            except SubnetOversizeException:
                raise ValueError(
                    f"too many defects within {search_range_um:.3g} µm of each other to link; "
                    "give a smaller search range (--search-range)"
                ) from None
        result["particle"] = result["particle"].astype(np.int64) * 2 + (charge < 0)
        linked.append(result[["frame", "index", "particle"]])
    if not linked:
        return ()
    joined = pd.concat(linked, ignore_index=True).sort_values(["frame", "index"])
    first_seen = joined.drop_duplicates("particle")["particle"].tolist()
    renumber = {particle: number for number, particle in enumerate(first_seen)}
    out = []
    for t, i, particle in joined.itertuples(index=False):
        out.append(dataclasses.replace(frames[t][i], frame=int(t), track=renumber[particle]))
    return tuple(out)


def _prepare_linking() -> None:
    """Import trackpy (about a second, with scipy.stats) while the first frames run
    elsewhere, instead of after the last."""
    with contextlib.suppress(ImportError):  # link_defects says what is missing
        import trackpy  # noqa: F401


def _analyze_frame(image: Any, t: int, maps: Optional[MapsFile], options: dict[str, Any]
                   ) -> ImageAnalysis:
    if isinstance(image, StoredFrame):
        image = image.read()
    result = analyze_image(image, **options)
    return result if maps is None else maps.store(t, result)


def _analyze_frames(
    frames: Iterable[npt.ArrayLike], options: dict[str, Any], nuclei: Any, cells: Any,
    workers: int, executor: Any = None, maps: Optional[MapsFile] = None,
) -> list[ImageAnalysis]:
    iterator = iter(frames)
    try:
        first_image = next(iterator)
    except StopIteration:
        raise ValueError("the movie has no frames") from None
    own = executor is None and workers > 1
    if own:
        executor = process_pool(workers)
    try:
        first = analyze_image(first_image, **options, **_labels_at(nuclei, cells, 0))
        # One set of scales for every frame, chosen on the first.
        options = {**options, "sigma": first.sigma, "grid_step": first.grid_step,
                   "core_radius": first.core_radius_px}
        results = [first if maps is None else maps.store(0, first)]
        if executor is None:
            # A frame's maps go to the file while the next frame is analysed.
            with ThreadPoolExecutor(1) as writer:
                stored: Optional[Future] = None
                for t, image in enumerate(iterator, start=1):
                    result = analyze_image(image, **options, **_labels_at(nuclei, cells, t))
                    if maps is None:
                        results.append(result)
                        continue
                    if stored is not None:
                        results.append(stored.result())
                    stored = writer.submit(maps.store, t, result, wait=True)
                if stored is not None:
                    results.append(stored.result())
        else:
            # Keep only a few frames in flight, so a long movie is never read whole.
            pending: list[Future] = []
            for t, image in enumerate(_sent_frames(frames, iterator), start=1):
                pending.append(executor.submit(
                    _analyze_frame, image, t, maps,
                    {**options, **_labels_at(nuclei, cells, t)}))
                if t == 1:
                    _prepare_linking()
                if len(pending) >= 2 * max(workers, 1):
                    results.append(pending.pop(0).result())
            results.extend(f.result() for f in pending)
    finally:
        if own:
            executor.shutdown(cancel_futures=True)
    if maps is not None:
        results = [maps.attach(t, result) for t, result in enumerate(results)]
    return results


def _sent_frames(frames: Iterable[npt.ArrayLike], rest: Iterator[npt.ArrayLike]
                 ) -> Iterator[Any]:
    """What the workers receive for the frames after the first: the pixels, or for the pages
    of a movie file a reference that each worker reads itself, sparing this process reading,
    copying and piping every frame."""
    stored = getattr(frames, "stored_frame", None)
    if stored is None or stored(0) is None:
        return (np.asarray(image) for image in rest)
    return (stored(t) for t in range(1, len(frames)))  # type: ignore[arg-type]


def _labels_at(nuclei: Any, cells: Any, t: int) -> dict[str, Any]:
    out = {}
    if nuclei is not None:
        out["nuclei"] = np.asarray(nuclei[t])
    if cells is not None:
        out["cells"] = np.asarray(cells[t])
    return out


def analyze_movie(
    frames: Iterable[npt.ArrayLike],
    *,
    pixel_size_um: float,
    frame_interval_s: Optional[float] = None,
    search_range_um: Optional[float] = None,
    memory: int = 1,
    nuclei: Optional[Sequence[npt.ArrayLike]] = None,
    cells: Optional[Sequence[npt.ArrayLike]] = None,
    workers: int = 1,
    executor: Any = None,
    maps: Optional[MapsFile] = None,
    **options: Any,
) -> MovieAnalysis:
    """Analyse a movie (a (T, Y, X) array or any sequence of 2-D frames) frame by frame and
    link its defects over time.

    ``options`` are `analyze_image`'s (sigma, grid_step, k, ...); an automatic choice is made
    on the first frame and kept for all. ``search_range_um`` is the farthest a defect may move
    between frames (default: half the median spacing of neighbouring defects), ``memory``
    the number of frames a defect may go undetected and keep its track. ``nuclei``/``cells``
    are label stacks, one label image per frame. ``workers`` > 1 analyses frames in that many
    processes; ``executor`` (anything with ``submit(fn, *args, **kwargs)`` returning a future,
    such as a `concurrent.futures.Executor`) runs them there instead, ``workers`` frames at
    a time. Frames are read one at a time and only a few are in flight, so the movie is never
    held whole. ``maps`` (a `tazmir.export.MapsFile` made for this movie's frames) receives
    every frame's pixel maps as it is analysed; the frames then hold them as read-only views
    of that file instead of in memory. Needs pandas and trackpy (the ``cli`` extra).
    """
    for name, value in (("frame_interval_s", frame_interval_s),
                        ("search_range_um", search_range_um)):
        if value is not None and not (value > 0 and math.isfinite(value)):
            raise ValueError(f"{name} must be a positive finite number, got {value!r}")
    if isinstance(memory, bool) or not isinstance(memory, (int, np.integer)) or memory < 0:
        raise ValueError(f"memory must be a non-negative integer, got {memory!r}")
    if maps is not None and not (hasattr(frames, "__len__") and len(frames) == maps.shape[0]):
        raise ValueError(f"maps is made for {maps.shape[0]} frames: the movie must be a "
                         "sequence of as many")
    options = {**options, "pixel_size_um": pixel_size_um}
    results = _analyze_frames(frames, options, nuclei, cells, workers, executor, maps)
    pixel_size = results[0].pixel_size_um
    reach = search_range_um if search_range_um is not None else _default_range(results, pixel_size)
    linked = link_defects([f.defects for f in results], reach, int(memory))
    return MovieAnalysis(results, linked, pixel_size, frame_interval_s, float(reach), int(memory))
