"""The `tazmir` command: `tazmir demo` and `tazmir analyze IMAGES...`."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Optional

__all__ = ["main"]

_CLI_MODULES = ("matplotlib", "tifffile", "imageio", "tqdm")


def _missing(modules: Sequence[str]) -> list[str]:
    import importlib.util

    return [name for name in modules if importlib.util.find_spec(name) is None]


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value > 0.0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number, got {text!r}")
    return value


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {text!r}")
    return value


def _parser() -> argparse.ArgumentParser:
    from . import __version__

    parser = argparse.ArgumentParser(
        prog="tazmir",
        description="Analyse tissue images as liquid crystals: orientation field, defects, "
        "correlations, continuum parameters for the fenwold simulator.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    demo = commands.add_parser(
        "demo", help="analyse a synthetic tissue with known +-1/2 defects",
        description="Synthesise a tissue-like nematic texture with one +1/2 and one -1/2 "
        "defect (nothing is downloaded), analyse it and write params.json, summary.json, "
        "analysis.png and the image itself (image.tif).",
    )
    demo.add_argument("--out", type=Path, required=True, metavar="DIR", help="output folder")
    demo.add_argument("--size", type=_positive_int, default=192, metavar="N",
                      help="image side in pixels (default 192)")
    demo.add_argument("--seed", type=int, default=7, help="random seed (default 7)")

    analyze = commands.add_parser(
        "analyze", help="analyse image files",
        description="Analyse 2-D TIFF, PNG or JPEG images (colour is converted to grey). "
        "Writes one folder per image (params.json, summary.json, analysis.png) and "
        "summary.csv with one row per image. Unreadable files are reported on stderr and "
        "make the exit status non-zero; the others are still analysed.",
    )
    analyze.add_argument("images", nargs="+", type=Path, metavar="IMAGES")
    analyze.add_argument("--pixel-size", type=_positive_float, required=True, metavar="UM",
                         help="pixel size in µm")
    analyze.add_argument("--sigma", type=_positive_float, default=2.0, metavar="S",
                         help="structure-tensor scale in pixels (default 2.0)")
    analyze.add_argument("--grid-step", type=_positive_int, default=8, metavar="N",
                         help="block size of the director grid in pixels (default 8)")
    analyze.add_argument("--out", type=Path, required=True, metavar="DIR", help="output folder")
    where = analyze.add_mutually_exclusive_group()
    where.add_argument("--workers", type=_positive_int, default=1, metavar="N",
                       help="number of local worker processes (default 1: this process)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the Dask distributed cluster at ADDRESS "
                       "(e.g. tcp://host:8786); its workers must see the images")
    analyze.add_argument("--no-progress", action="store_true", help="hide the progress bar")
    return parser


def _demo(args: argparse.Namespace) -> int:
    import tifffile

    from .analysis import analyze_image
    from .batch import FileOutcome, write_outcome
    from .figures import render_png
    from .synthetic import synthetic_tissue

    tissue = synthetic_tissue(args.size, seed=args.seed)
    result = analyze_image(
        tissue.image,
        pixel_size_um=tissue.pixel_size_um,
        nuclear_mask=tissue.nuclear_mask,
        contours=tissue.contours,
    )
    outcome = FileOutcome(
        "demo", summary=result.summary(), params_json=result.to_json(),
        png=render_png(result, tissue.image),
    )
    write_outcome(args.out, outcome)
    tifffile.imwrite(args.out / "image.tif", tissue.image)
    print(f"synthetic tissue: {args.size} x {args.size} px at {tissue.pixel_size_um} µm/px")
    for planted in tissue.defects:
        print(f"  planted {planted.charge:+.1f} at (row {planted.row:.1f}, col {planted.col:.1f})")
    for found in result.defects:
        print(f"  found   {found.charge:+.1f} at (row {found.row:.1f}, col {found.col:.1f})")
    print(f"wrote {args.out / 'params.json'}, summary.json, analysis.png, image.tif")
    return 0


def _analyze(args: argparse.Namespace) -> int:
    from .batch import AnalysisOptions, ClusterUnavailable, run_batch

    if args.scheduler is not None and _missing(["distributed"]):
        print("tazmir: --scheduler needs Dask distributed: pip install 'tazmir[cluster]'",
              file=sys.stderr)
        return 2
    options = AnalysisOptions(args.pixel_size, args.sigma, args.grid_step)
    try:
        failures = run_batch(
            args.images, args.out, options, workers=args.workers, scheduler=args.scheduler,
            progress=not args.no_progress,
        )
    except ClusterUnavailable as exc:
        print(f"tazmir: {exc}", file=sys.stderr)
        return 2
    total = len(args.images)
    print(f"analysed {total - failures} of {total} images into {args.out}")
    return 1 if failures else 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    args = _parser().parse_args(argv)
    missing = _missing(_CLI_MODULES)
    if missing:
        print(f"tazmir: the command line needs {', '.join(missing)}: "
              "pip install 'tazmir[cli]'", file=sys.stderr)
        return 2
    if args.command == "demo":
        return _demo(args)
    return _analyze(args)


if __name__ == "__main__":
    raise SystemExit(main())
