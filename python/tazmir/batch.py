"""Analysing many files: serially, in local worker processes or on a Dask cluster.

Each file is read, analysed and drawn by one task (`process_file`) that returns the analysis
and its figure; the caller writes the results folders in file order, so every way of running
gives the same files. A folder is renamed into place only when complete.
"""

from __future__ import annotations

import contextlib
import math
import os
import shutil
import sys
from collections.abc import Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field, replace
from pathlib import Path
from typing import Any, Optional

from ._workers import process_pool
from .analysis import analyze_image
from .export import MapsFile, write_results
from .files import output_names, read_summary, write_summary_csv
from .io import ImageData, ImageReadError, read_image, select_planes

__all__ = [
    "AnalysisOptions",
    "ClusterUnavailable",
    "FileOutcome",
    "OutputExists",
    "process_file",
    "run_batch",
]


@dataclass(frozen=True)
class AnalysisOptions:
    """The settings shared by every file of a batch (None: from the file, or automatic)."""

    pixel_size_um: Optional[float] = None
    sigma: Any = "auto"
    grid_step: Any = "auto"
    core_radius: Any = "auto"
    mask: Optional[str] = None  # region image path (non-zero = analysed); {stem} as below
    channel: Optional[int] = None
    z: Optional[int] = None
    nuclei: Optional[str] = None  # label image path; {stem} is the image's file stem
    cells: Optional[str] = None
    search_range_um: Optional[float] = None
    memory: int = 1
    frame_interval_s: Optional[float] = None
    figure: bool = True


@dataclass(frozen=True)
class FileOutcome:
    """What one task produced: the analysis with its figure, or the reason it failed."""

    path: str
    result: Any = None
    png: Optional[bytes] = None
    info: dict[str, Any] = field(default_factory=dict)
    notes: tuple[str, ...] = ()
    error: Optional[str] = None
    maps_file: Optional[str] = None  # a movie's maps.tif, filled while it was analysed
    shown: Any = None  # the image under a figure left to be drawn


class InputError(Exception):
    """A file that cannot be analysed as asked (its reason is one line for the user)."""


def _pixel_size(image: ImageData, options: AnalysisOptions) -> tuple[float, str, list[str]]:
    notes = []
    if options.pixel_size_um is not None:
        if image.pixel_size_um is not None and not math.isclose(
            image.pixel_size_um, options.pixel_size_um, rel_tol=1e-6
        ):
            notes.append(f"--pixel-size {options.pixel_size_um:g} µm overrides the file's "
                         f"{image.pixel_size_um:.6g} µm ({image.pixel_size_source})")
        return options.pixel_size_um, "--pixel-size", notes
    if image.pixel_size_um is None:
        raise InputError("the file does not state its pixel size; pass --pixel-size UM")
    assert image.pixel_size_source is not None
    return image.pixel_size_um, image.pixel_size_source, notes


def _label_stack(pattern: str, path: Path, name: str, shape: tuple[int, ...], movie: bool,
                 z: Optional[int]) -> Any:
    label_path = Path(pattern.replace("{stem}", path.stem))
    try:
        labels = read_image(label_path)
        # Label images are usually segmented per plane: a Z is picked only if they have one.
        planes = select_planes(labels, z=z if "Z" in labels.axes else None, labels=True)
    except ImageReadError as exc:
        raise InputError(f"cannot read {name} labels {label_path}: {exc}") from None
    frames = [planes[t] for t in range(len(planes))]
    if frames[0].dtype.kind not in "iu":
        raise InputError(f"{name} labels {label_path} must hold integers, got {frames[0].dtype}")
    got = (len(frames), *frames[0].shape) if movie else frames[0].shape
    if movie and len(frames) == 1 and shape[0] > 1:
        raise InputError(f"{name} labels {label_path} have 1 frame, the movie {shape[0]}")
    if tuple(got) != tuple(shape):
        raise InputError(f"{name} labels {label_path} have shape {tuple(got)}, the image "
                         f"{tuple(shape)}")
    return frames if movie else frames[0]


def _region(pattern: str, path: Path, shape: tuple[int, ...], z: Optional[int]) -> Any:
    """The --mask image: binary or labels, the frame's shape (a movie uses it for every
    frame)."""
    mask_path = Path(pattern.replace("{stem}", path.stem))
    try:
        planes = select_planes(read_image(mask_path), z=z, labels=True)
    except ImageReadError as exc:
        raise InputError(f"cannot read mask {mask_path}: {exc}") from None
    if len(planes) != 1:
        raise InputError(f"mask {mask_path} must be one 2-D image, got {len(planes)} planes")
    mask = planes[0]
    if tuple(mask.shape) != tuple(shape):
        raise InputError(f"mask {mask_path} has shape {tuple(mask.shape)}, the image "
                         f"{tuple(shape)}")
    return mask


class _ClusterFrames:
    """Frames of a movie as tasks of the Dask cluster this task runs on (impure: each is
    computed, never looked up by the hash of a large frame)."""

    def __init__(self, client: Any) -> None:
        self._client = client

    def submit(self, fn: Any, *args: Any, **kwargs: Any) -> Any:
        return self._client.submit(fn, *args, pure=False, **kwargs)

    @property
    def workers(self) -> int:
        threads = self._client.nthreads()
        return max(1, sum(threads.values()))


def _movie(planes: Any, frame_workers: int, on_cluster: bool, **arguments: Any) -> Any:
    from .movie import analyze_movie

    if not on_cluster:
        return analyze_movie(planes, workers=frame_workers, **arguments)
    arguments.pop("maps", None)  # cluster workers need not see this machine's disk
    from distributed import worker_client

    # This task leaves its worker's slot while the frames run as tasks of their own.
    with worker_client() as client:
        frames = _ClusterFrames(client)
        return analyze_movie(planes, workers=frames.workers, executor=frames, **arguments)


def _analyse(path: str, options: AnalysisOptions, frame_workers: int,
             on_cluster: bool = False, maps_path: Optional[str] = None, draw: bool = True
             ) -> FileOutcome:
    source = Path(path)
    try:
        image = read_image(source, lazy=True)
    except ImageReadError as exc:
        raise InputError(f"cannot read image: {exc}") from None
    with image:
        try:
            planes = select_planes(image, channel=options.channel, z=options.z).as_stored()
            first = planes[0]
        except ImageReadError as exc:
            raise InputError(str(exc)) from None
        pixel_size, pixel_source, notes = _pixel_size(image, options)
        shape = (len(planes), *planes.frame_shape) if planes.is_movie else planes.frame_shape
        labels = {
            name: _label_stack(pattern, source, name, shape, planes.is_movie, options.z)
            for name, pattern in (("nuclei", options.nuclei), ("cells", options.cells))
            if pattern is not None
        }
        info: dict[str, Any] = {"file": str(source), "pixel_size_source": pixel_source,
                                "axes": image.axes, "channel": options.channel, "z": options.z}
        common = {"pixel_size_um": pixel_size, "sigma": options.sigma,
                  "grid_step": options.grid_step, "core_radius": options.core_radius}
        if options.mask is not None:
            common["mask"] = _region(options.mask, source, planes.frame_shape, options.z)
        maps = None
        if planes.is_movie:
            interval = options.frame_interval_s or image.frame_interval_s
            if maps_path is not None and not on_cluster and len(planes) > 1:
                maps = MapsFile.create(maps_path, len(planes), planes.frame_shape, pixel_size,
                                       interval)
            try:
                result = _movie(
                    planes, frame_workers, on_cluster, frame_interval_s=interval,
                    search_range_um=options.search_range_um, memory=options.memory, maps=maps,
                    **labels, **common,
                )
            except ImageReadError as exc:  # a worker reading its frame
                raise InputError(f"cannot read image: {exc}") from None
            shown = planes[len(planes) - 1]
        else:
            result = analyze_image(first, **labels, **common)
            shown = first
    outcome = FileOutcome(path, result=result, info=info, notes=tuple(notes),
                          maps_file=None if maps is None else maps.path,
                          shown=shown if options.figure else None)
    if not (draw and options.figure):
        return outcome
    return replace(outcome, png=_draw(outcome), shown=None)


def process_file(path: str, options: AnalysisOptions, frame_workers: int = 1,
                 on_cluster: bool = False, maps_path: Optional[str] = None,
                 draw: bool = True) -> FileOutcome:
    """Read, analyse and draw one file; failures come back as `FileOutcome.error`.

    The frames of a movie run in ``frame_workers`` local processes, or as tasks of the Dask
    cluster when ``on_cluster`` (called as a task there). With ``maps_path`` a movie's
    maps.tif is filled there frame by frame (`tazmir.export.MapsFile`), and removed again
    when the file fails. Without ``draw`` the figure is left to the caller (the image under
    it is in `FileOutcome.shown`)."""
    try:
        return _analyse(path, options, frame_workers, on_cluster, maps_path, draw)
    except InputError as exc:
        error = str(exc)
    except (ValueError, TypeError, OSError) as exc:
        error = f"cannot analyse image: {exc}"
    except MemoryError:
        # One huge image must not end the batch; the others may well fit.
        error = "cannot analyse image: not enough memory"
    except BaseException:
        _discard(maps_path)
        raise
    _discard(maps_path)
    return FileOutcome(path, error=error)


# Results of more pixels than this are written before the next file is analysed: their maps
# (8 bytes a pixel) held beside the next analysis would raise the peak memory by as much.
OVERLAP_PIXELS = 1 << 23


def _held_pixels(outcome: FileOutcome) -> int:
    if outcome.result is None:
        return 0
    frames = getattr(outcome.result, "frames", None) or [outcome.result]
    rows, cols = frames[0].image_shape
    return len(frames) * rows * cols


def _draw(outcome: FileOutcome) -> bytes:
    from .figures import render_png

    try:
        return render_png(outcome.result, outcome.shown)
    except (ValueError, TypeError, MemoryError) as exc:
        raise InputError(f"cannot draw the figure: {exc}") from None


def _discard(path: Optional[str]) -> None:
    if path is not None:
        Path(path).unlink(missing_ok=True)


def _serial(todo: Sequence[tuple[str, str]], options: AnalysisOptions, frame_workers: int,
            out_dir: Path) -> Iterator[FileOutcome]:
    for path, name in todo:
        # A hidden name beside the results folders, cleared with them when a run is killed.
        maps_path = out_dir / f".{name}.maps.partial-{os.getpid()}.tif"
        # The figure is drawn by the thread that writes the folder, beside the next file's
        # analysis.
        yield process_file(path, options, frame_workers, maps_path=str(maps_path), draw=False)


def _local_processes(
    paths: Sequence[str], options: AnalysisOptions, workers: int
) -> Iterator[FileOutcome]:
    executor = process_pool(workers)
    try:
        # At most two tasks per worker wait: results hold whole analyses.
        pending: list[Future] = []
        for path in paths:
            pending.append(executor.submit(process_file, path, options))
            if len(pending) >= 2 * workers:
                yield pending.pop(0).result()
        for future in pending:
            yield future.result()
    except BaseException:
        executor.shutdown(wait=False, cancel_futures=True)
        for process in list((executor._processes or {}).values()):
            process.terminate()
        raise
    executor.shutdown()


class ClusterUnavailable(Exception):
    """The Dask scheduler could not be reached."""


class OutputExists(Exception):
    """The output folder already holds results and neither overwrite nor resume was asked."""


def _connect(address: str) -> Any:
    from distributed import Client

    try:
        return Client(address)
    except (OSError, TimeoutError) as exc:
        raise ClusterUnavailable(f"cannot reach the Dask scheduler at {address}: {exc}") from exc


def _cluster(paths: Sequence[str], options: AnalysisOptions, client: Any) -> Iterator[FileOutcome]:
    with client:
        futures = client.map(process_file, paths, options=options, on_cluster=True, pure=False)
        for path, future in zip(paths, futures):
            try:
                yield future.result()
            except Exception as exc:  # a lost worker, a broken environment on the cluster
                yield FileOutcome(path, error=f"failed on the cluster: {exc!r}")


def holds_results(out_dir: Path) -> bool:
    """True when ``out_dir`` has a summary.csv or a results folder (one with summary.json)."""
    if not out_dir.is_dir():
        return False
    return (out_dir / "summary.csv").exists() or any(
        (child / "summary.json").is_file() for child in out_dir.iterdir() if child.is_dir()
    )


def _remove_leftovers(out_dir: Path) -> None:
    """Hidden staging folders of a run that was killed before it could clean up."""
    for child in out_dir.glob(".*.partial-*"):
        if child.is_dir():
            shutil.rmtree(child, ignore_errors=True)
        else:
            child.unlink(missing_ok=True)


class _Messages(contextlib.AbstractContextManager):
    """What the run needs of a progress bar when none is shown: its messages."""

    def __exit__(self, *exc: object) -> None:
        return None

    def write(self, text: str, file: Any = None) -> None:
        print(text, file=file or sys.stderr)

    def update(self) -> None:
        pass


def _progress_bar(total: int, shown: bool) -> Any:
    if not shown:
        return _Messages()  # not importing tqdm spares a sixth of the start-up
    from tqdm import tqdm

    return tqdm(total=total, unit="file", disable=None, file=sys.stderr)


def run_batch(
    paths: Sequence[str | Path],
    out_dir: Path,
    options: AnalysisOptions,
    *,
    workers: int = 1,
    scheduler: Optional[str] = None,
    progress: bool = True,
    overwrite: bool = False,
    resume: bool = False,
) -> int:
    """Analyse `paths` into `out_dir` (one folder each plus summary.csv); return the number
    of files that failed, each reported on stderr with its name and reason.

    An `out_dir` that already holds results raises OutputExists (nothing is touched) unless
    `overwrite` (replace the folders of these files and summary.csv) or `resume` (keep the
    complete folders and analyse only the missing files). With `scheduler` the files run on
    that Dask distributed cluster, whose workers must see them at the same (absolute) paths;
    otherwise in `workers` local processes (1: in this process; a single movie then spreads
    its frames over the workers). Raises ClusterUnavailable when the scheduler cannot be
    reached.
    """
    if holds_results(out_dir) and not (overwrite or resume):
        raise OutputExists(
            f"{out_dir} already holds results; pass --overwrite to replace them or --resume "
            "to finish an interrupted run"
        )
    files = [str(Path(p).resolve()) for p in paths]
    names = output_names(files)
    done = {name for name in names if resume and (out_dir / name / "summary.json").is_file()}
    todo = [(f, n) for f, n in zip(files, names) if n not in done]
    todo_files = [f for f, _ in todo]
    if scheduler is not None:
        outcomes = _cluster(todo_files, options, _connect(scheduler))
    elif workers > 1 and len(todo_files) > 1:
        outcomes = _local_processes(todo_files, options, workers)
    else:
        outcomes = _serial(todo, options, workers, out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    _remove_leftovers(out_dir)
    summaries: dict[str, dict[str, Any]] = {n: read_summary(out_dir / n) for n in done}
    failures = 0

    def write(file: str, name: str, outcome: FileOutcome) -> FileOutcome:
        if outcome.error is not None:
            return outcome
        try:
            png = outcome.png if outcome.shown is None else _draw(outcome)
            write_results(out_dir / name, outcome.result, png=png, figure=options.figure,
                          overwrite=overwrite or resume, info=outcome.info,
                          maps_file=outcome.maps_file)
            summaries[name] = read_summary(out_dir / name)
        except InputError as exc:
            return FileOutcome(file, error=str(exc))
        except OSError as exc:
            return FileOutcome(file, error=f"cannot write results: {exc}")
        finally:
            _discard(outcome.maps_file)  # moved into the folder unless it failed
        return outcome

    # One folder is written (mostly the maps, with the interpreter lock released) while the
    # next file is analysed; files are still reported and written in order.
    with _progress_bar(len(todo), progress) as bar, ThreadPoolExecutor(1) as writer:

        def report(given: str, written: Future) -> None:
            nonlocal failures
            outcome = written.result()
            if outcome.error is not None:
                failures += 1
                bar.write(f"tazmir: {given}: {outcome.error}", file=sys.stderr)
            bar.update()

        previous: Optional[tuple[str, Future]] = None
        for (file, name), outcome in zip(todo, outcomes):
            given = str(paths[files.index(file)])
            if previous is not None:
                report(*previous)
            for note in outcome.notes:
                bar.write(f"tazmir: {given}: {note}", file=sys.stderr)
            previous = (given, writer.submit(write, file, name, outcome))
            if _held_pixels(outcome) > OVERLAP_PIXELS:
                report(*previous)  # written before the next file is read
                previous = None
            del outcome  # the writer holds the only reference: freed once written
        if previous is not None:
            report(*previous)
    rows = [(str(paths[i]), name, summaries[name]) for i, name in enumerate(names)
            if name in summaries]
    write_summary_csv(out_dir / "summary.csv", rows)
    return failures
