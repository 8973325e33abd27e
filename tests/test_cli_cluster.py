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

from conftest import read_outputs


def test_local_cluster_of_two_worker_processes_matches_the_serial_run(tmp_path):
    images = []
    for seed, size in enumerate([64, 80, 72]):
        images.append(tmp_path / f"tissue{seed}.tif")
        tifffile.imwrite(images[-1], synthetic_tissue(size, n_outlined=0, seed=seed).image)
    (tmp_path / "empty.png").write_bytes(b"")
    tifffile.imwrite(tmp_path / "movie.tif", np.asarray(synthetic_movie(5, 96, seed=3).frames,
                                                        np.float32), imagej=True,
                     metadata={"axes": "TYX"})
    images[1:1] = [tmp_path / "empty.png", tmp_path / "movie.tif"]
    common = [*map(str, images), "--pixel-size", "0.5", "--grid-step", "6", "--no-progress"]

    assert main(["analyze", *common, "--out", str(tmp_path / "serial")]) == 1
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        status = main(["analyze", *common, "--out", str(tmp_path / "cluster"),
                       "--scheduler", cluster.scheduler_address])
        # A movie's frames ran as tasks of their own, not inside the file's task.
        prefixes = client.run_on_scheduler(
            lambda dask_scheduler: sorted(dask_scheduler.task_prefixes))
    assert status == 1 and {"process_file", "analyze_frame"} <= set(prefixes)
    serial, clustered = read_outputs(tmp_path / "serial"), read_outputs(tmp_path / "cluster")
    # summary.csv, three folders of five files and the movie's six.
    assert len(serial) == 1 + 3 * 5 + 6 and "movie/tracks.csv" in serial
    assert serial == clustered


def test_an_unreachable_scheduler_is_reported_without_a_traceback(tmp_path, capsys):
    import dask

    tifffile.imwrite(tmp_path / "a.tif", np.zeros((16, 16)))
    with dask.config.set({"distributed.comm.timeouts.connect": "1s"}):
        status = main(["analyze", str(tmp_path / "a.tif"), "--pixel-size", "1", "--out",
                       str(tmp_path / "out"), "--scheduler", "tcp://127.0.0.1:9"])
    assert status == 2
    assert "tazmir: cannot reach the Dask scheduler at tcp://127.0.0.1:9: " in (
        capsys.readouterr().err)
