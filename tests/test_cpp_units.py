"""Runs the C++ unit tests (GoogleTest through CMake and CTest) for the pieces Python cannot
reach: the worker pool, error texts, number formatting, the random generator's block."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build" / "cpp-tests"


def _gtest_installed() -> bool:
    return any(Path(p, "gtest", "gtest.h").exists() for p in ("/usr/include", "/usr/local/include"))


def _run(*command: str) -> subprocess.CompletedProcess:
    return subprocess.run(command, capture_output=True, text=True, cwd=ROOT, check=False)


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_cpp_unit_tests():
    if not _gtest_installed():
        if os.environ.get("CI"):
            pytest.fail("GoogleTest (Debian's libgtest-dev) is required in CI")
        pytest.skip("GoogleTest (Debian's libgtest-dev) is not installed")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    steps = [
        ("cmake", "-S", str(ROOT), "-B", str(BUILD), *generator, "-DTAZMIR_PYTHON=OFF",
         "-DTAZMIR_TESTS=ON", "-DCMAKE_BUILD_TYPE=Release"),
        ("cmake", "--build", str(BUILD), "--parallel", "2"),
        ("ctest", "--test-dir", str(BUILD), "--output-on-failure", "--timeout", "300"),
    ]
    for step in steps:
        result = _run(*step)
        assert result.returncode == 0, f"{' '.join(step)}\n{result.stdout}\n{result.stderr}"
