"""Runs the C++ unit tests (GoogleTest, through CTest) for the pieces Python cannot reach: the
worker pool, failure texts, the SIMD builds against the scalar path, the random generator's
block. `pip install .` builds them beside the module when GoogleTest is installed (Debian's
libgtest-dev); this runs that build's tests rather than building the library a second time."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]


def _test_builds() -> list:
    """Build directories with C++ tests: the pip build for this interpreter, else the
    development preset."""
    tag = f"cp{sys.version_info.major}{sys.version_info.minor}-"
    pip_builds = sorted((ROOT / "build").glob(f"{tag}*/CTestTestfile.cmake"))
    dev = ROOT / "build" / "dev" / "CTestTestfile.cmake"
    return [p.parent for p in pip_builds + ([dev] if dev.exists() else [])]


def test_cpp_unit_tests():
    builds = _test_builds()
    if not builds:
        if os.environ.get("CI"):
            pytest.fail("no C++ test build: install GoogleTest (libgtest-dev) before pip install")
        pytest.skip("no C++ test build (GoogleTest was not installed when the package was built)")
    ctest = shutil.which("ctest")
    if ctest is None:
        pytest.skip("ctest is not installed")
    result = subprocess.run(
        [ctest, "--test-dir", str(builds[0]), "--output-on-failure", "--timeout", "300"],
        capture_output=True, text=True, check=False,
    )
    assert result.returncode == 0, f"{result.stdout}\n{result.stderr}"
    assert "100% tests passed" in result.stdout
