"""Impossible sizes reach the user as MemoryError, never as the core's PanicException, and a
batch reports such an image and goes on."""

import numpy as np
import pytest

import tazmir
from conftest import skip_under_asan
from tazmir import _guard
from tazmir.batch import AnalysisOptions, process_file

IMAGE = np.random.default_rng(3).random((64, 64))


def test_image_larger_than_the_machine_is_refused_before_the_core_runs(monkeypatch):
    monkeypatch.setattr(_guard, "physical_memory", lambda: 2**22)
    with pytest.raises(MemoryError) as info:
        tazmir.analyze_image(np.zeros((512, 512)), pixel_size_um=0.5)
    assert str(info.value) == (
        "an image of 512 x 512 pixels needs about 8.0 MiB for its orientation field, "
        "more than this machine's 4.0 MiB"
    )


def test_scale_whose_kernel_cannot_exist_is_refused():
    with pytest.raises(MemoryError) as info:
        tazmir.analyze_image(IMAGE, pixel_size_um=0.5, sigma=1e300)
    assert str(info.value).startswith("sigma=1e+300 pixels needs a smoothing kernel of ")
    assert str(info.value).endswith(" weights, more than fits in memory")


@skip_under_asan
def test_allocation_failure_inside_the_core_is_a_memory_error(monkeypatch, capfd):
    monkeypatch.setattr(_guard, "physical_memory", lambda: 2**62)
    with pytest.raises(MemoryError) as info:
        tazmir.analyze_image(IMAGE, pixel_size_um=0.5, sigma=1e15)
    assert str(info.value) == (
        "not enough memory for this analysis (memory allocation of 64000000000000008 bytes "
        "failed)"
    )
    capfd.readouterr()  # the core's diagnostic on stderr


def test_batch_reports_an_image_too_large_and_goes_on(tmp_path, monkeypatch):
    tifffile = pytest.importorskip("tifffile")
    small, large = tmp_path / "small.tif", tmp_path / "large.tif"
    tifffile.imwrite(small, IMAGE)
    tifffile.imwrite(large, np.zeros((128, 128)))
    monkeypatch.setattr(_guard, "physical_memory", lambda: 8 * 4 * 100 * 100)
    options = AnalysisOptions(pixel_size_um=0.5)
    outcomes = [process_file(str(path), options) for path in (large, small)]
    assert outcomes[0].error == "cannot analyse image: not enough memory"
    assert outcomes[1].error is None and outcomes[1].result is not None
