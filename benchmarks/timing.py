"""Timing and memory helpers shared by the benchmarks (run them from the repository root:
`python benchmarks/bench_*.py` puts this folder on the import path)."""

from __future__ import annotations

import math
import time
import tracemalloc
from collections.abc import Callable, Sequence
from typing import Any


def best_times(functions: Sequence[Callable[[], Any]], repeat: int) -> list[float]:
    """Best wall time of each function, the runs interleaved so that load from other
    processes on the machine falls on all of them alike (it only ever adds time)."""
    best = [math.inf] * len(functions)
    for _ in range(repeat):
        for slot, function in enumerate(functions):
            start = time.perf_counter()
            function()
            best[slot] = min(best[slot], time.perf_counter() - start)
    return best


def best_seconds(function: Callable[[], Any], repeat: int = 3) -> float:
    """Best wall time of ``repeat`` calls."""
    return best_times([function], repeat)[0]


def peak_bytes(function: Callable[[], Any]) -> int:
    """Peak memory allocated through Python's allocators (NumPy included) during a call."""
    tracemalloc.start()
    try:
        function()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
