"""`tazmir compare`: two groups of images, a table of per-metric permutation tests."""

import itertools
import math

import numpy as np
import pytest

tifffile = pytest.importorskip("tifffile")

from tazmir.cli import main  # noqa: E402
from tazmir.compare import compare_groups, metrics_of  # noqa: E402
from tazmir.synthetic import PlantedDefect, synthetic_tissue  # noqa: E402

from conftest import read_csv  # noqa: E402


SITES = {2: [(64, 40), (64, 88)], 6: [(32, 32), (32, 64), (32, 96), (96, 96), (96, 64), (96, 32)]}


def write_group(folder, name, n_defects, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for seed in seeds:
        rng = np.random.default_rng(seed)
        places = np.array(SITES[n_defects]) + rng.uniform(-4, 4, (n_defects, 2))
        defects = [PlantedDefect(r, c, 0.5 - (i % 2)) for i, (r, c) in enumerate(places)]
        image = synthetic_tissue(128, defects=defects, n_outlined=0, seed=seed).image
        path = folder / f"{name}{seed}.tif"
        tifffile.imwrite(path, image.astype(np.float32), imagej=True, resolution=(2.0, 2.0),
                         metadata={"unit": "um"})
        paths.append(str(path))
    return paths


def run_compare(a, b, out, *extra):
    # Fixed scales: the test is about the comparison, not about reading scales off small images.
    return main(["compare", *a, "--against", *b, "--out", str(out), "--no-progress",
                 "--no-figure", "--sigma", "2", "--grid-step", "2", "--core-radius", "5", *extra])


def read_rows(path):
    return {row["metric"]: row for row in read_csv(path)}


@pytest.fixture(scope="module")
def groups(tmp_path_factory):
    folder = tmp_path_factory.mktemp("images")
    return {
        "few": write_group(folder, "few", 2, range(5)),
        "many": write_group(folder, "many", 6, range(10, 15)),
        "many_too": write_group(folder, "again", 6, range(20, 25)),
    }


def test_groups_differing_in_defect_density_get_a_small_p_value(groups, tmp_path, capsys):
    assert run_compare(groups["few"], groups["many"], tmp_path / "out") == 0
    rows = read_rows(tmp_path / "out" / "comparison.csv")
    density = rows["defect_density_per_um2"]
    assert (density["n_a"], density["n_b"]) == ("5", "5")
    assert float(density["p_value"]) < 0.02 and float(density["difference"]) < 0
    assert float(density["difference"]) == pytest.approx(
        float(density["mean_a"]) - float(density["mean_b"]), rel=1e-12)
    assert "ldg_b_fixed" not in rows and "pixel_size_um" not in rows
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == [
        "comparison.csv", "comparison.png", "group_a", "group_b"]
    assert "compared 5 against 5 images on" in capsys.readouterr().out


def test_alike_groups_get_a_large_p_value_and_the_same_file_every_time(groups, tmp_path,
                                                                        capsys):
    a, b = groups["many"], groups["many_too"]
    assert run_compare(a, b, tmp_path) == 0
    first = (tmp_path / "comparison.csv").read_bytes()
    assert float(read_rows(tmp_path / "comparison.csv")
                 ["defect_density_per_um2"]["p_value"]) > 0.2
    capsys.readouterr()
    assert run_compare(a, b, tmp_path) == 2  # an earlier comparison is kept unless overwritten
    assert capsys.readouterr().err == (
        f"tazmir: {tmp_path} already holds a comparison; pass --overwrite to replace it\n")
    assert (tmp_path / "comparison.csv").read_bytes() == first
    assert run_compare(a, b, tmp_path, "--overwrite") == 0
    assert (tmp_path / "comparison.csv").read_bytes() == first


def test_p_values_approach_the_exact_permutation_distribution():
    a, b = [1.0, 2.5, 3.0, 4.2], [3.9, 5.0, 6.1]
    pool = a + b
    observed = abs(np.mean(a) - np.mean(b))
    splits = list(itertools.combinations(range(7), 4))
    extreme = sum(
        abs(np.mean([pool[i] for i in s]) - np.mean([pool[i] for i in range(7) if i not in s]))
        >= observed - 1e-12 for s in splits)
    row, = compare_groups([{"x": v} for v in a], [{"x": v} for v in b], n_permutations=20000)
    assert row["p_value"] == pytest.approx(extreme / len(splits), abs=0.01)
    assert (row["n_a"], row["n_b"]) == (4, 3)


def test_only_measured_numbers_are_metrics():
    summaries = [
        {"pixel_size_um": 0.5, "ldg_c_fixed": 1.0, "correlation_fit_ok": True, "file": "a.tif",
         "n_defects": 3, "correlation_length_um": math.nan, "shape_index_mean": None},
        {"n_defects": 4, "correlation_length_um": 2.0, "shape_index_mean": None},
    ]
    assert metrics_of(summaries) == ["n_defects", "correlation_length_um"]
    rows = compare_groups(summaries[:1], summaries[1:])
    assert [(r["metric"], r["n_a"], r["n_b"]) for r in rows] == [
        ("n_defects", 1, 1), ("correlation_length_um", 0, 1)]
    assert rows[1]["p_value"] is None
