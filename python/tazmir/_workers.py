"""Local worker processes, for the files of a batch and for the frames of a movie."""

from __future__ import annotations

import contextlib
import math
import os
from collections.abc import Iterator
from typing import Any

from . import _heap

# Read by the BLAS libraries NumPy may load (OpenBLAS, MKL, OpenMP), once, as it loads.
_BLAS_THREADS = ("OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS", "OMP_NUM_THREADS")


def process_pool(workers: int) -> Any:
    """A pool of ``workers`` processes sharing the processors, started at once (interpreter,
    NumPy and the core load while the caller gets on with its own work)."""
    import multiprocessing
    from concurrent.futures import ProcessPoolExecutor  # only when work is spread

    threads = max(1, (os.cpu_count() or 1) // workers)
    # spawn, not fork: the parent may already run threads (the core's pool, a progress bar).
    context = multiprocessing.get_context("spawn")
    executor = ProcessPoolExecutor(workers, mp_context=context, initializer=_start,
                                   initargs=(threads,))
    with _blas_on_one_thread():
        for _ in range(workers):
            executor.submit(math.sqrt, 1.0)  # each spawns a worker with this environment
    return executor


@contextlib.contextmanager
def _blas_on_one_thread() -> Iterator[None]:
    """Workers started within run BLAS on one thread, unless the user chose otherwise: their
    fits are tiny, and BLAS threads left spinning after each call would take processor
    time from the other workers. Only the environment the workers start with is changed."""
    saved = {name: os.environ.get(name) for name in _BLAS_THREADS}
    for name in _BLAS_THREADS:
        os.environ.setdefault(name, "1")
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)


def _start(threads: int) -> None:
    import signal

    # Ctrl-C goes to the parent, which stops the workers; they must not die mid-task first.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    # Each worker has its own core thread pool: the processors are shared between them
    # unless the user chose a size.
    os.environ.setdefault("TAZMIR_NUM_THREADS", str(threads))
    _heap.manage()  # a worker analyses images and nothing else
