"""tazmir analyze on a Dask distributed cluster gives the files of the serial run."""

import numpy as np
import pytest

pytest.importorskip("matplotlib")
tifffile = pytest.importorskip("tifffile")
pytest.importorskip("imageio")
pytest.importorskip("tqdm")
distributed = pytest.importorskip("distributed")

from tazmir.cli import main
from tazmir.synthetic import synthetic_movie, synthetic_tissue


def read_outputs(folder):
    return {
        str(path.relative_to(folder)): path.read_bytes()
        for path in sorted(folder.rglob("*")) if path.is_file()
    }


def test_local_cluster_with_two_worker_processes_matches_the_serial_run(tmp_path):
    images = []
    for seed, size in enumerate([64, 80, 72]):
        path = tmp_path / f"tissue{seed}.tif"
        tifffile.imwrite(path, synthetic_tissue(size, n_outlined=0, seed=seed).image)
        images.append(str(path))
    (tmp_path / "empty.png").write_bytes(b"")
    images.insert(1, str(tmp_path / "empty.png"))
    common = [*images, "--pixel-size", "0.5", "--grid-step", "6", "--no-progress"]

    assert main(["analyze", *common, "--out", str(tmp_path / "serial")]) == 1
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
    ) as cluster:
        status = main(["analyze", *common, "--out", str(tmp_path / "cluster"),
                       "--scheduler", cluster.scheduler_address])
    assert status == 1
    serial, clustered = read_outputs(tmp_path / "serial"), read_outputs(tmp_path / "cluster")
    assert sorted(serial) == sorted(clustered)
    assert len(serial) == 1 + 3 * 5  # summary.csv and three folders of five files
    assert serial == clustered
    assert np.all([name.startswith(("tissue", "summary")) for name in serial])


def test_a_movie_spread_frame_by_frame_over_the_cluster_matches_the_serial_run(tmp_path):
    movie = synthetic_movie(5, 96, seed=3)
    path = tmp_path / "movie.tif"
    tifffile.imwrite(path, np.asarray(movie.frames, np.float32), imagej=True,
                     metadata={"axes": "TYX"})
    common = [str(path), "--pixel-size", "0.5", "--no-progress"]
    assert main(["analyze", *common, "--out", str(tmp_path / "serial")]) == 0
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
    ) as cluster, distributed.Client(cluster) as client:
        status = main(["analyze", *common, "--out", str(tmp_path / "cluster"),
                       "--scheduler", cluster.scheduler_address])
        # Frames ran as tasks of their own, not inside the file's task.
        prefixes = client.run_on_scheduler(
            lambda dask_scheduler: sorted(dask_scheduler.task_prefixes))
    assert status == 0
    serial, clustered = read_outputs(tmp_path / "serial"), read_outputs(tmp_path / "cluster")
    assert "movie/tracks.csv" in serial and serial == clustered
    assert {"process_file", "analyze_frame"} <= set(prefixes)


def test_an_unreachable_scheduler_is_reported_without_a_traceback(tmp_path, capsys):
    import dask

    tifffile.imwrite(tmp_path / "a.tif", np.zeros((16, 16)))
    with dask.config.set({"distributed.comm.timeouts.connect": "1s"}):
        status = main(["analyze", str(tmp_path / "a.tif"), "--pixel-size", "1", "--out",
                       str(tmp_path / "out"), "--scheduler", "tcp://127.0.0.1:9"])
    assert status == 2
    assert "tazmir: cannot reach the Dask scheduler at tcp://127.0.0.1:9: " in (
        capsys.readouterr().err)
