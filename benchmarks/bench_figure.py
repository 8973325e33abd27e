"""Cost of analysis.png against the structure tensor, on one 2048 x 2048 synthetic tissue.

Run: python benchmarks/bench_figure.py [--size 2048] [--repeat 5]

Everything is measured in this one run, so the ratios hold on a shared machine:

- `_native.compute_structure_tensor` on the image at the sigma the analysis chose (the unit);
- `render_png` (drawn directly with Pillow): warm (median of --repeat calls) and the first
  call of a fresh interpreter, its imports included (the core is imported before the clock
  starts, as a worker has it already);
- the same figure through matplotlib (`png_bytes(analysis_figure(...))`), warm and first call.

The issue's budget: `tazmir analyze` with the figure at most 3.0x the structure tensor and
without it 2.0x, which leaves the figure about 1x.
"""

from __future__ import annotations

import argparse
import pickle
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path
from typing import Callable

import _native
import tazmir
from tazmir.figures import analysis_figure, png_bytes, render_png

# Loads the analysis (importing the core), then times the figure's imports and first call.
_FIRST_CALL = textwrap.dedent(
    """
    import pickle, sys, time
    result, image = pickle.load(open(sys.argv[1], "rb"))
    start = time.perf_counter()
    if sys.argv[2] == "direct":
        from tazmir.figures import render_png
        render_png(result, image)
    else:
        from tazmir.figures import analysis_figure, png_bytes
        png_bytes(analysis_figure(result, image))
    print(time.perf_counter() - start)
    """
)


def median_seconds(call: Callable[[], object], repeat: int) -> float:
    call()
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def first_call_seconds(saved: Path, path: str, repeat: int) -> float:
    times = []
    for _ in range(repeat):
        done = subprocess.run([sys.executable, "-c", _FIRST_CALL, str(saved), path],
                              capture_output=True, text=True, check=True)
        times.append(float(done.stdout.strip().splitlines()[-1]))
    return statistics.median(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()

    image = tazmir.synthetic_tissue(args.size, n_outlined=0, seed=0).image
    result = tazmir.analyze_image(image, pixel_size_um=0.5)
    tensor = median_seconds(lambda: _native.compute_structure_tensor(image, result.sigma),
                            args.repeat)
    rows = [
        ("render_png, warm", median_seconds(lambda: render_png(result, image), args.repeat)),
        ("matplotlib, warm", median_seconds(lambda: png_bytes(analysis_figure(result, image)),
                                            max(1, args.repeat // 2))),
    ]
    with tempfile.TemporaryDirectory() as folder:
        saved = Path(folder) / "analysis.pickle"
        saved.write_bytes(pickle.dumps((result, image)))
        rows.insert(1, ("render_png, first call + imports",
                        first_call_seconds(saved, "direct", args.repeat)))
        rows.append(("matplotlib, first call + imports",
                     first_call_seconds(saved, "matplotlib", max(1, args.repeat // 2))))

    print(f"{args.size} x {args.size} image; structure tensor (sigma {result.sigma:.3g}) "
          f"{tensor * 1e3:.0f} ms")
    for name, seconds in rows:
        print(f"  {name:34s} {seconds * 1e3:6.0f} ms = {seconds / tensor:5.2f}x the structure "
              f"tensor")
    direct, matplotlib = rows[0][1], rows[2][1]
    print(f"  matplotlib / render_png (warm): {matplotlib / direct:.1f}x")


if __name__ == "__main__":
    main()
