"""Throughput of `tazmir analyze` on synthetic 2048 x 2048 tissues, with 1 and 2 local workers.

Run: python benchmarks/bench_pipeline.py [--images 16] [--size 2048] [--repeat 1]

Writes the images as 16-bit TIFFs into a temporary folder, then runs the command line in a
fresh interpreter for each worker count and reports images per second, the speed-up of two
workers over one and the peak resident memory of a worker process. A breakdown of one
image's analysis by stage comes first. The machine may be shared: repeat a run that looks
noisy (--repeat keeps the best wall time).
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

import numpy as np

import _native
import tazmir
from tazmir.grid import block_director
from tazmir.synthetic import synthetic_tissue

# Runs the command line and reports its own peak memory and that of its worker processes.
_RUNNER = textwrap.dedent(
    """
    import json, resource, sys, time
    from tazmir.cli import main
    start = time.perf_counter()
    status = main(sys.argv[1:])
    wall = time.perf_counter() - start
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = sum(u.ru_utime + u.ru_stime for u in (own, children))
    print(json.dumps({"status": status, "wall": wall, "cpu": cpu, "self_kib": own.ru_maxrss,
                      "children_kib": children.ru_maxrss}))
    """
)


def make_images(folder: Path, count: int, size: int) -> list[Path]:
    import tifffile

    paths = []
    for seed in range(count):
        image = synthetic_tissue(size, n_outlined=0, seed=seed).image
        scaled = (image - image.min()) / (image.max() - image.min()) * 65535.0
        path = folder / f"tissue{seed:02d}.tif"
        tifffile.imwrite(path, np.round(scaled).astype(np.uint16))
        paths.append(path)
    return paths


def stage_breakdown(path: Path) -> None:
    from tazmir.figures import render_png
    from tazmir.files import read_image

    # Warm up: the first figure of a process pays for importing matplotlib and its fonts.
    small = synthetic_tissue(32, n_outlined=0).image
    render_png(tazmir.analyze_image(small, pixel_size_um=1.0), small)
    timings = {}
    start = time.perf_counter()
    image = read_image(path)
    timings["read TIFF"] = time.perf_counter() - start
    start = time.perf_counter()
    field = _native.compute_structure_tensor(image, 2.0)
    timings["structure tensor"] = time.perf_counter() - start
    start = time.perf_counter()
    block_director(field["theta"], field["coherence"], 8)
    timings["block director"] = time.perf_counter() - start
    start = time.perf_counter()
    result = tazmir.analyze_image(image, pixel_size_um=0.5)
    timings["analyze_image (all)"] = time.perf_counter() - start
    start = time.perf_counter()
    render_png(result, image)
    timings["figure"] = time.perf_counter() - start
    print(f"one {image.shape[0]} x {image.shape[1]} image, by stage:")
    for name, seconds in timings.items():
        print(f"  {name:22s} {seconds * 1e3:8.1f} ms")
    print(f"  defects found: {len(result.defects)}, G_2 sampled every "
          f"{result.correlation_stride} blocks")


def run_cli(paths: list[Path], out: Path, workers: int) -> dict:
    argv = ["analyze", *map(str, paths), "--pixel-size", "0.5", "--out", str(out),
            "--workers", str(workers), "--no-progress"]
    done = subprocess.run([sys.executable, "-c", _RUNNER, *argv], capture_output=True,
                          text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--images", type=int, default=16)
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tazmir-bench-") as tmp:
        folder = Path(tmp)
        start = time.perf_counter()
        paths = make_images(folder, args.images, args.size)
        print(f"made {args.images} synthetic {args.size} x {args.size} images "
              f"in {time.perf_counter() - start:.1f} s")
        stage_breakdown(paths[0])
        rates = {}
        for workers in (1, 2):
            runs = [run_cli(paths, folder / f"out{workers}-{i}", workers)
                    for i in range(args.repeat)]
            best = min(runs, key=lambda run: run["wall"])
            assert best["status"] == 0, best
            rates[workers] = args.images / best["wall"]
            # With one worker the command's own process does the work.
            peak_kib = best["self_kib"] if workers == 1 else best["children_kib"]
            walls = ", ".join(f"{run['wall']:.1f}" for run in runs)
            # CPU time near workers x wall means the processors were ours; far below, shared.
            print(f"--workers {workers}: {rates[workers]:.3f} images/s "
                  f"(wall {walls} s; CPU {best['cpu']:.1f} s in the best run), "
                  f"peak memory per worker {peak_kib / 1024:.0f} MiB")
        print(f"speed-up of 2 workers over 1: {rates[2] / rates[1]:.2f}x")


if __name__ == "__main__":
    main()
