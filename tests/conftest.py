"""Shared fixtures and helpers for the _native test suite."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _native


def run_python(code: str, **env: str) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter with extra environment variables."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env={**os.environ, **env},
        check=False,
        timeout=300,
    )


@pytest.fixture
def native():
    return _native


@pytest.fixture
def rng():
    return np.random.default_rng(20261206)
