"""Analysing many image files: serially, in local worker processes or on a Dask cluster.

Each file is read, analysed and drawn by one task (`process_file`) that returns everything
to write; the caller writes the outputs in file order, so every way of running gives the
same files.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Iterator, Sequence
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass
from itertools import repeat
from pathlib import Path
from typing import Any, Optional

from .analysis import analyze_image
from .files import ImageReadError, output_names, read_image, summary_json, write_summary_csv

__all__ = [
    "AnalysisOptions",
    "ClusterUnavailable",
    "FileOutcome",
    "process_file",
    "run_batch",
    "write_outcome",
]


@dataclass(frozen=True)
class AnalysisOptions:
    """The `analyze_image` settings shared by every file of a batch."""

    pixel_size_um: float
    sigma: float = 2.0
    grid_step: int = 8


@dataclass(frozen=True)
class FileOutcome:
    """What one task produced: the outputs to write, or the reason it failed."""

    path: str
    summary: Optional[dict[str, Any]] = None
    params_json: Optional[str] = None
    png: Optional[bytes] = None
    error: Optional[str] = None


def process_file(path: str, options: AnalysisOptions) -> FileOutcome:
    """Read, analyse and draw one image file; failures come back as `FileOutcome.error`."""
    from .figures import render_png

    try:
        image = read_image(path)
    except ImageReadError as exc:
        return FileOutcome(path, error=f"cannot read image: {exc}")
    try:
        result = analyze_image(
            image,
            pixel_size_um=options.pixel_size_um,
            sigma=options.sigma,
            grid_step=options.grid_step,
        )
    except (ValueError, TypeError) as exc:
        return FileOutcome(path, error=f"cannot analyse image: {exc}")
    except MemoryError:
        # One huge image must not end the batch; the others may well fit.
        return FileOutcome(path, error="cannot analyse image: not enough memory")
    return FileOutcome(
        path, summary=result.summary(), params_json=result.to_json(), png=render_png(result, image)
    )


def write_outcome(folder: Path, outcome: FileOutcome) -> None:
    """Write params.json, summary.json and analysis.png of one image into `folder`."""
    assert outcome.summary is not None and outcome.params_json is not None
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "params.json").write_text(outcome.params_json, encoding="utf-8")
    (folder / "summary.json").write_text(summary_json(outcome.summary), encoding="utf-8")
    if outcome.png is not None:
        (folder / "analysis.png").write_bytes(outcome.png)


def _limit_threads(threads: int) -> None:
    # Each worker process has its own core thread pool: share the processors between them
    # unless the user chose a size.
    os.environ.setdefault("TAZMIR_NUM_THREADS", str(threads))


def _serial(paths: Sequence[str], options: AnalysisOptions) -> Iterator[FileOutcome]:
    for path in paths:
        yield process_file(path, options)


def _local_processes(
    paths: Sequence[str], options: AnalysisOptions, workers: int
) -> Iterator[FileOutcome]:
    import multiprocessing

    threads = max(1, (os.cpu_count() or 1) // workers)
    # spawn, not fork: the parent may already run threads (the core's pool, a progress bar).
    context = multiprocessing.get_context("spawn")
    with ProcessPoolExecutor(
        workers, mp_context=context, initializer=_limit_threads, initargs=(threads,)
    ) as executor:
        yield from executor.map(process_file, paths, repeat(options))


class ClusterUnavailable(Exception):
    """The Dask scheduler could not be reached."""


def _connect(address: str) -> Any:
    from distributed import Client

    try:
        return Client(address)
    except (OSError, TimeoutError) as exc:
        raise ClusterUnavailable(f"cannot reach the Dask scheduler at {address}: {exc}") from exc


def _cluster(paths: Sequence[str], options: AnalysisOptions, client: Any) -> Iterator[FileOutcome]:
    with client:
        futures = client.map(process_file, paths, options=options, pure=False)
        for path, future in zip(paths, futures):
            try:
                yield future.result()
            except Exception as exc:  # a lost worker, a broken environment on the cluster
                yield FileOutcome(path, error=f"failed on the cluster: {exc!r}")


def run_batch(
    paths: Sequence[str | Path],
    out_dir: Path,
    options: AnalysisOptions,
    *,
    workers: int = 1,
    scheduler: Optional[str] = None,
    progress: bool = True,
) -> int:
    """Analyse `paths` into `out_dir` (one folder each plus summary.csv); return the number
    of files that failed, each reported on stderr with its name and reason.

    With `scheduler` the files run on that Dask distributed cluster, whose workers must see
    them at the same (absolute) paths; otherwise in `workers` local processes (1: in this
    process). Raises ClusterUnavailable when the scheduler cannot be reached.
    """
    from tqdm import tqdm

    files = [str(Path(p).resolve()) for p in paths]
    names = output_names(files)
    if scheduler is not None:
        outcomes = _cluster(files, options, _connect(scheduler))
    elif workers > 1:
        outcomes = _local_processes(files, options, workers)
    else:
        outcomes = _serial(files, options)
    out_dir.mkdir(parents=True, exist_ok=True)
    rows = []
    failures = 0
    with tqdm(total=len(files), unit="image", disable=None if progress else True,
              file=sys.stderr) as bar:
        for given, name, outcome in zip(paths, names, outcomes):
            if outcome.error is not None:
                failures += 1
                bar.write(f"tazmir: {given}: {outcome.error}", file=sys.stderr)
            else:
                write_outcome(out_dir / name, outcome)
                assert outcome.summary is not None
                rows.append((str(given), name, outcome.summary))
            bar.update()
    write_summary_csv(out_dir / "summary.csv", rows)
    return failures
