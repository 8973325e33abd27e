"""Per-image cost of `tazmir analyze` against the structure tensor alone, and against the
equivalent scikit-image pipeline, on 2048 x 2048 16-bit images.

Run: python benchmarks/bench_pipeline.py [--images 8] [--size 2048] [--memory-size 8192]
                                         [--movie-frames 24] [--rounds 3]
                                         (--images 0: movies only)

Everything is measured in this one run, so the ratios hold on a shared machine even when the
absolute times do not:

- the command line (a fresh interpreter, one worker, files read from disk and every result
  written) with --no-figure and with the figure, per image, over
  `_native.compute_structure_tensor` alone on the same images at the sigma the analysis
  chose (budgets: 2.0x and 3.0x), in rounds of all three, each run against the structure
  tensor of its own round; the median round counts. One uncounted run goes first and each
  run's results are removed after it, so every measured run finds the page cache alike
  (writing into fresh page cache costs several ms per MB on some virtual machines);
- the equivalent scikit-image pipeline (its structure tensor, block means of the nematic
  tensor, winding numbers of the block director in NumPy) over the command line without the
  figure (target: at least 10x);
- the peak resident memory of the command line on one --memory-size image, in bytes per
  pixel (budget: 24; 0 skips it);
- a breakdown of one image's analysis by stage (cProfile, the costliest calls);
- movies (T, Y, X) of 1024 x 1024 and 2048 x 2048 frames through the command line with one
  and two workers: frames per second, the speed-up and the CPU time (target: two workers at
  least 1.8x one on a quiet machine; CPU far below workers x wall means a shared machine).
  One worker already runs the structure tensor on every processor, so two workers gain
  mostly on the rest of each frame; against one worker held to one thread they show how
  frames scale. 24 frames by default: a movie's fixed costs (starting the workers,
  importing trackpy) are paid once, and real movies are longer still.

The images are the eight rotations and reflections of one synthetic tissue (drawing a
2048 x 2048 tissue takes seconds; its symmetries cost nothing and analyse alike).
"""

from __future__ import annotations

import argparse
import cProfile
import io
import json
import math
import os
import pstats
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path
from typing import Optional

import numpy as np

import _native
import tazmir
from tazmir.synthetic import synthetic_tissue

# Runs the command line in a fresh interpreter and reports its wall, CPU and peak memory.
_RUNNER = textwrap.dedent(
    """
    import json, resource, sys, time
    start = time.perf_counter()
    from tazmir.cli import main
    status = main(sys.argv[1:])
    wall = time.perf_counter() - start
    own = resource.getrusage(resource.RUSAGE_SELF)
    workers = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = sum(u.ru_utime + u.ru_stime for u in (own, workers))
    print(json.dumps({"status": status, "wall": wall, "cpu": cpu,
                      "peak_kib": max(own.ru_maxrss, workers.ru_maxrss)}))
    """
)


def as_uint16(image: np.ndarray) -> np.ndarray:
    scaled = (image - image.min()) / (image.max() - image.min()) * 65535.0
    return np.round(scaled).astype(np.uint16)


def make_images(folder: Path, count: int, size: int) -> list[Path]:
    import tifffile

    base = as_uint16(synthetic_tissue(size, n_outlined=0, seed=0).image)
    variants = [np.rot90(base, k) for k in range(4)] + [np.rot90(base.T, k) for k in range(4)]
    paths = []
    for i in range(count):
        path = folder / f"tissue{i:02d}.tif"
        tifffile.imwrite(path, np.ascontiguousarray(variants[i % 8]))
        paths.append(path)
    return paths


def run_cli(paths: list[Path], out: Path, *extra: str, threads: Optional[int] = None) -> dict:
    argv = ["analyze", *map(str, paths), "--pixel-size", "0.5", "--out", str(out),
            "--no-progress", *extra]
    env = dict(os.environ)
    if threads is not None:
        env["TAZMIR_NUM_THREADS"] = str(threads)
    done = subprocess.run([sys.executable, "-c", _RUNNER, *argv], capture_output=True,
                          text=True, check=False, env=env)
    if done.returncode != 0:
        raise SystemExit(f"tazmir analyze failed:\n{done.stderr}")
    run = json.loads(done.stdout.strip().splitlines()[-1])
    assert run["status"] == 0, run
    return run


def structure_tensor_seconds(paths: list[Path], sigma: float) -> float:
    import tifffile

    total = 0.0
    for path in paths:
        image = tifffile.imread(path).astype(np.float64)
        start = time.perf_counter()
        _native.compute_structure_tensor(image, sigma)
        total += time.perf_counter() - start
    return total


def skimage_pipeline(image: np.ndarray, sigma: float, step: int) -> int:
    """Structure tensor, coherence-weighted block means of the nematic tensor and the
    winding number of the block director around every plaquette, with scikit-image and
    NumPy; returns the number of +-1/2 defects."""
    from skimage.feature import structure_tensor

    a_rr, a_rc, a_cc = structure_tensor(image, sigma=sigma, order="rc")
    # Angle of the dominant gradient direction from the column axis; the fibre runs across.
    theta = 0.5 * np.arctan2(2.0 * a_rc, a_cc - a_rr) + 0.5 * math.pi
    trace = a_rr + a_cc
    with np.errstate(invalid="ignore", divide="ignore"):
        coherence = np.where(trace > 0, np.hypot(a_cc - a_rr, 2.0 * a_rc) / trace, 0.0)
    rows, cols = image.shape[0] // step, image.shape[1] // step

    def blocks(values: np.ndarray) -> np.ndarray:
        cut = values[: rows * step, : cols * step]
        return cut.reshape(rows, step, cols, step).mean(axis=(1, 3))

    doubled = np.arctan2(blocks(coherence * np.sin(2.0 * theta)),
                         blocks(coherence * np.cos(2.0 * theta)))

    def wrap(angle: np.ndarray) -> np.ndarray:
        return angle - 2.0 * math.pi * np.round(angle / (2.0 * math.pi))

    a, b = doubled[:-1, :-1], doubled[:-1, 1:]
    c, d = doubled[1:, 1:], doubled[1:, :-1]
    winding = np.rint((wrap(b - a) + wrap(c - b) + wrap(d - c) + wrap(a - d)) / (2 * math.pi))
    return int(np.count_nonzero(winding))


def skimage_seconds(paths: list[Path], sigma: float, step: int) -> float:
    import tifffile

    total = 0.0
    for path in paths:
        image = tifffile.imread(path).astype(np.float64)
        start = time.perf_counter()
        skimage_pipeline(image, sigma, step)
        total += time.perf_counter() - start
    return total


def stage_breakdown(path: Path) -> None:
    import tifffile

    image = tifffile.imread(path)
    tazmir.analyze_image(image, pixel_size_um=0.5)  # warm caches and imports
    profile = cProfile.Profile()
    profile.enable()
    tazmir.analyze_image(image, pixel_size_um=0.5)
    profile.disable()
    text = io.StringIO()
    pstats.Stats(profile, stream=text).sort_stats("tottime").print_stats(12)
    lines = [line for line in text.getvalue().splitlines() if line.strip()]
    start = next(i for i, line in enumerate(lines) if line.lstrip().startswith("ncalls"))
    print("analyze_image of one image, costliest calls (cProfile, own time):")
    for line in lines[start: start + 13]:
        print("  " + line.strip()[:110])


def memory_per_pixel(folder: Path, size: int) -> float:
    import tifffile

    # Tiles of a smaller tissue: the cost of an image does not depend on what it shows.
    tile = as_uint16(synthetic_tissue(min(size, 2048), n_outlined=0, seed=1).image)
    reps = math.ceil(size / tile.shape[0])
    image = np.tile(tile, (reps, reps))[:size, :size]
    path = folder / "large.tif"
    tifffile.imwrite(path, image)
    del image, tile
    run = run_cli([path], folder / "out-large", "--no-figure")
    return run["peak_kib"] * 1024.0 / (size * size)


def movie_rates(folder: Path, frames: int, sizes: tuple[int, ...] = (1024, 2048)) -> None:
    import tifffile

    base = as_uint16(synthetic_tissue(max(sizes), n_outlined=0, seed=2).image)
    for size in sizes:
        # A slow drift of one texture: the defects move a little from frame to frame.
        stack = np.stack([base[t: t + size, t: t + size] if size < base.shape[0]
                          else np.roll(base, (t, t), axis=(0, 1)) for t in range(frames)])
        path = folder / f"movie{size}.tif"
        tifffile.imwrite(path, stack, imagej=True, metadata={"axes": "TYX"})
        del stack
        # The core's loops already use every processor in one process; frame workers pay
        # off against one process held to one thread, as each worker is.
        runs = {
            "1": run_cli([path], folder / f"out-movie{size}-1", "--no-figure"),
            "1, one thread": run_cli([path], folder / f"out-movie{size}-1t", "--no-figure",
                                     threads=1),
            "2": run_cli([path], folder / f"out-movie{size}-2", "--no-figure", "--workers", "2"),
        }
        for name, run in runs.items():
            print(f"movie {size} x {size}, {frames} frames, --workers {name}: "
                  f"{frames / run['wall']:.2f} frames/s (wall {run['wall']:.1f} s, CPU "
                  f"{run['cpu']:.1f} s of this process and its workers)")
        print(f"  speed-up of 2 workers over 1: {runs['1']['wall'] / runs['2']['wall']:.2f}x, "
              f"over 1 held to one thread: "
              f"{runs['1, one thread']['wall'] / runs['2']['wall']:.2f}x "
              "(target >= 1.8x on a quiet machine)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--images", type=int, default=8)
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--memory-size", type=int, default=8192)
    parser.add_argument("--movie-frames", type=int, default=24)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tazmir-bench-") as tmp:
        folder = Path(tmp)
        if args.images == 0:
            movie_rates(folder, args.movie_frames)
            return
        paths = make_images(folder, args.images, args.size)
        print(f"{args.images} images of {args.size} x {args.size} px (uint16)")
        stage_breakdown(paths[0])

        # A first run, not counted, leaves the page cache as every measured run finds it.
        run_cli(paths, folder / "out-warm-up", "--no-figure")
        summary = json.loads((folder / "out-warm-up" / paths[0].stem / "summary.json")
                             .read_text())
        sigma, step = summary["sigma"], summary["grid_step"]
        shutil.rmtree(folder / "out-warm-up")
        # Rounds of the structure tensor and both runs, interleaved, so that a change in the
        # machine's load touches every measurement of a round alike; the median round is
        # the verdict, the spread shows how far the load moved.
        ratios: dict[str, list[float]] = {"no figure": [], "figure": []}
        walls: dict[str, list[float]] = {"no figure": [], "figure": []}
        cpus: dict[str, list[float]] = {"no figure": [], "figure": []}
        st_rounds = []
        for _ in range(args.rounds):
            st = structure_tensor_seconds(paths, sigma) / args.images
            st_rounds.append(st)
            for name, extra in (("no figure", ("--no-figure",)), ("figure", ())):
                out = folder / f"out-{name.replace(' ', '-')}"
                run = run_cli(paths, out, *extra)
                # Each run writes 48 MB of maps per image. Kept, they pile up in the page
                # cache, which some virtual machines fill from fresh host memory at several
                # ms per MB, a cost that would fall on the next run.
                shutil.rmtree(out)
                walls[name].append(run["wall"] / args.images)
                cpus[name].append(run["cpu"] / args.images)
                ratios[name].append(run["wall"] / args.images / st)
        st = float(np.median(st_rounds))
        print(f"structure tensor alone (sigma {sigma:g} px, as chosen): {st * 1e3:.0f} ms "
              f"per image (median of {args.rounds} rounds: "
              f"{', '.join(f'{t * 1e3:.0f}' for t in st_rounds)} ms)")
        for name, budget in (("no figure", 2.0), ("figure", 3.0)):
            print(f"tazmir analyze, {name:9s}: {np.median(walls[name]) * 1e3:5.0f} ms per "
                  f"image = {np.median(ratios[name]):.2f}x the structure tensor of its round "
                  f"(budget {budget:.1f}x; rounds {', '.join(f'{r:.2f}' for r in ratios[name])})"
                  f"; CPU {np.median(cpus[name]) * 1e3:.0f} ms per image")
        no_figure = float(np.median(walls["no figure"]))
        peer = skimage_seconds(paths, sigma, step) / args.images
        print(f"scikit-image pipeline (structure tensor, block means, winding numbers): "
              f"{peer * 1e3:.0f} ms per image = {peer / no_figure:.1f}x tazmir analyze "
              f"--no-figure (target >= 10x), {peer / st:.1f}x the structure tensor")
        if args.memory_size:
            per_pixel = memory_per_pixel(folder, args.memory_size)
            print(f"peak memory of tazmir analyze --no-figure on {args.memory_size} x "
                  f"{args.memory_size}: {per_pixel:.1f} bytes per pixel (budget 24)")
        if args.movie_frames:
            movie_rates(folder, args.movie_frames)


if __name__ == "__main__":
    main()
