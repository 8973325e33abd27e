"""Shared fixtures and helpers of the test suite."""

import csv
import math
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import numpy as np
import pytest


NAPARI_TESTS = Path(__file__).parent / "napari"


def pytest_ignore_collect(collection_path, config):
    """The napari plugin's tests need the napari extra and a display: they run only when
    asked for by path (`pytest tests/napari`), in their own step of CI."""
    if collection_path != NAPARI_TESTS:
        return None
    base = config.invocation_params.dir
    asked = [(base / arg.split("::")[0]).resolve() for arg in config.args]
    return None if any(path.is_relative_to(NAPARI_TESTS) for path in asked) else True


# AddressSanitizer's allocator aborts on an impossible allocation instead of failing it, and
# its quarantine holds freed memory: tests of those two behaviours cannot run under it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
skip_under_asan = pytest.mark.skipif(UNDER_ASAN, reason="not meaningful under AddressSanitizer")


def run_python(code: str, **env: str) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter with extra environment variables."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, env={**os.environ, **env}, check=False, timeout=300)


def read_outputs(folder: Path) -> dict:
    """Every file's bytes below `folder`, keyed by its path relative to it."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file()}


def read_csv(path: Path) -> list:
    with open(path, newline="") as handle:
        return list(csv.DictReader(handle))


@pytest.fixture
def rng():
    return np.random.default_rng(20261206)


def match_defects(found, planted, tolerance_px=8.0):
    """Greedy nearest same-charge matching of found to planted defects: (precision, recall,
    position errors in px, angle errors in degrees modulo each charge's symmetry)."""
    used, position, angle = set(), [], []
    for truth in planted:
        candidates = [(math.hypot(d.row_px - truth.row, d.col_px - truth.col), i)
                      for i, d in enumerate(found) if i not in used and d.charge == truth.charge]
        candidates = [c for c in candidates if c[0] <= tolerance_px]
        if not candidates:
            continue
        distance, i = min(candidates)
        used.add(i)
        position.append(distance)
        period = 2 * math.pi if truth.charge > 0 else 2 * math.pi / 3
        error = (found[i].angle_rad - truth.angle_rad) % period
        angle.append(math.degrees(min(error, period - error)))
    return (len(used) / max(1, len(found)), len(used) / max(1, len(planted)),
            np.array(position), np.array(angle))


def inside_ellipse(shape, centre, a, b, theta):
    """Pixels of `shape` inside the ellipse about `centre` (row, col) with semi-axis `a` along
    the director angle `theta` and `b` across it."""
    rows, cols = np.indices(shape, dtype=np.float64)
    dr, dc = rows - centre[0], cols - centre[1]
    along = dc * math.cos(theta) + dr * math.sin(theta)
    across = dr * math.cos(theta) - dc * math.sin(theta)
    return (along / a) ** 2 + (across / b) ** 2 <= 1.0
