"""Shared fixtures and helpers of the test suite."""

import csv
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
