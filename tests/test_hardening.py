"""Long-running-process guarantees: no leaked references or memory, clean exceptions for
enormous sizes, and a usable module after an interrupt (inputs left untouched: every call of
tests/test_fuzz.py)."""

import gc
import os
import sys
import tracemalloc

import numpy as np
import pytest

import _native as nt
from conftest import run_python, skip_under_asan

rng = np.random.default_rng(11)
IMAGE = rng.random((48, 48))
MASK = (rng.random((48, 48)) * 6).astype(np.int32)
SQUARE = np.array([[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0]])
THETAS = rng.uniform(0, np.pi, 64)
POINTS = rng.uniform(0, 10, (40, 2))
SAMPLE = rng.normal(size=30)
R_VALUES = np.array([0.5, 1.0, 2.0])
VERTICES = [(0, 0.0), (1, 0.1), (2, 0.2)]
EDGES = [(0, 1, 0.3), (1, 2, 0.4), (0, 2, 0.5)]
TRIANGLES = [(0, 1, 2, 0.6)]

# (function, good arguments, failing arguments): each failure takes a different path.
CALLS = [
    (nt.analyze_shape, (SQUARE,), (SQUARE[:2],)),
    (nt.analyze_shapes_batch, ([SQUARE, SQUARE],), ([SQUARE, SQUARE[:, :1]],)),
    (nt.compute_structure_tensor, (IMAGE, 1.5), (IMAGE.astype(np.float32), 1.5)),
    (nt.compute_multiscale_structure_tensor, (IMAGE, [1.0, 2.0]), (IMAGE, [1.0, "x"])),
    (nt.fit_nuclear_ellipses, (MASK,), (IMAGE,)),
    (nt.detect_defects, (THETAS, 8, 8, 2, 0.5), (THETAS, 9, 8, 2, 0.5)),
    (nt.validate_poincare_hopf, ([0.5, 0.5], 1, 0.1), ("ab", 1, 0.1)),
    (nt.compute_persistence, (VERTICES, EDGES, TRIANGLES), (VERTICES, [(0, 1)], [])),
    (nt.orientational_correlation, (POINTS, THETAS, 2, 5.0, 6), (POINTS, THETAS[:3], 2, 50.0, 6)),
    (nt.ripley_k, (POINTS, [0, 0, 10, 10], R_VALUES), (POINTS, [0, 0, 10], R_VALUES)),
    (nt.permutation_test, (SAMPLE, SAMPLE + 1, 30, 7), (SAMPLE, SAMPLE, 30, -7)),
    (nt.frank_energy, (THETAS, 8, 8, 1.0), (THETAS[:10], 8, 8, 1.0)),
    (nt.estimate_ldg_params, (SAMPLE, 3.0, 0.5), (SAMPLE[::2], 3.0, 0.5)),
    (nt.build_fenwold_params, (1, 2, 3, 4, 5, 6, 7, 8), (1, 2, 3, 4, 5, 6, -7, 8)),
]
ERRORS = (TypeError, ValueError, OverflowError, nt.PanicException)


def _call_all(times):
    for function, good, bad in CALLS:
        for _ in range(times):
            function(*good)
            try:
                function(*bad)
            except ERRORS:
                pass
            else:
                raise AssertionError(f"{function.__name__}{bad!r} did not fail")


def _rss_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@skip_under_asan
@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_no_leaked_references_or_memory(capfd):
    # Shared small ints and floats are referenced from everywhere; the caller's containers
    # and arrays are what a leak would pin.
    arguments = [arg for _, good, bad in CALLS for arg in (*good, *bad)
                 if isinstance(arg, (np.ndarray, list, tuple, str))]
    _call_all(20)  # warm up caches, the pool and the allocator
    gc.collect()
    refcounts = [sys.getrefcount(arg) for arg in arguments]
    tracemalloc.start()
    _call_all(300)  # one-off growth (NumPy's and the interpreter's caches) settles here
    gc.collect()
    blocks_before = len(tracemalloc.take_snapshot().traces)
    rss_before = _rss_bytes()
    _call_all(1500)
    gc.collect()
    blocks_after = len(tracemalloc.take_snapshot().traces)
    tracemalloc.stop()
    rss_growth = _rss_bytes() - rss_before
    assert [sys.getrefcount(arg) for arg in arguments] == refcounts
    # 42,000 calls: leaking any Python object per call would leave 42,000 more traced blocks,
    # and one 48x48 float64 field per call about 750 MB of native memory. Blocks are counted
    # rather than bytes because the interpreter's own tables grow now and then by resizing a
    # block in place (a string-keyed dict going to 2**16 slots takes 0.9 MB at once).
    assert blocks_after - blocks_before < 1000
    assert rss_growth < 32 * 1024 * 1024
    capfd.readouterr()  # the failing calls' diagnostics


def _zero_strided(shape, dtype=np.float64):
    return np.lib.stride_tricks.as_strided(np.zeros(1, dtype), shape, (0,) * len(shape))


HUGE = 2**20
# Overflowing Frank sizes and too wide kernels: with their texts in test_theory_energy.py and
# test_orient_structure_tensor.py.
HUGE_CALLS = {
    "structure-tensor": lambda: nt.compute_structure_tensor(_zero_strided((HUGE, HUGE)), 1.0),
    "multiscale": lambda: nt.compute_multiscale_structure_tensor(_zero_strided((HUGE, HUGE)),
                                                                 [1.0]),
    "ellipses": lambda: nt.fit_nuclear_ellipses(_zero_strided((HUGE, HUGE), np.int32)),
    "defects-overflow": lambda: nt.detect_defects(THETAS, 2**32, 2**32, 2, 0.5),
}


@skip_under_asan
@pytest.mark.parametrize("call", HUGE_CALLS.values(), ids=HUGE_CALLS)
def test_enormous_sizes_end_in_a_clean_exception(call, capfd):
    with pytest.raises((MemoryError, ValueError, nt.PanicException)):
        call()
    capfd.readouterr()


def test_interrupt_leaves_the_module_usable():
    result = run_python(
        """
        import os, signal, threading, time
        import numpy as np
        import _native
        image = np.random.default_rng(0).random((1500, 1500))
        expected = _native.compute_structure_tensor(image[:64, :64], 2.0)["theta"]
        timer = threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT))
        try:
            # Started inside the try: on a loaded machine the signal may come at once.
            timer.start()
            for _ in range(100):
                _native.compute_structure_tensor(image, 8.0)
        except KeyboardInterrupt:
            print("interrupted")
        again = _native.compute_structure_tensor(image[:64, :64], 2.0)["theta"]
        print(np.array_equal(again, expected))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["interrupted", "True"]
