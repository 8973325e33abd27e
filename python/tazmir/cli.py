"""The `tazmir` command: `tazmir demo` and `tazmir analyze IMAGES...`."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any, Optional

__all__ = ["main"]

_CLI_MODULES = ("matplotlib", "tifffile", "imageio", "tqdm", "pandas", "trackpy", "skimage")


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


def _whole_number(minimum: int, wording: str) -> Callable[[str], int]:
    """A parser of whole numbers not below ``minimum`` (``wording`` says so when it is)."""

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
        if value < minimum:
            raise argparse.ArgumentTypeError(f"{wording}, got {text!r}")
        return value

    return parse


_positive_int = _whole_number(1, "must be at least 1")
_index = _whole_number(0, "must be 0 or more")


def _auto(parse: Callable[[str], Any]) -> Callable[[str], Any]:
    """An argument that is "auto" or what ``parse`` reads."""

    def read(text: str) -> Any:
        return "auto" if text == "auto" else parse(text)

    read.__name__ = parse.__name__
    return read


def _add_analysis_options(parser: argparse.ArgumentParser) -> None:
    """The options of how each image is analysed (shared by analyze and compare)."""
    parser.add_argument("--pixel-size", type=_positive_float, metavar="UM",
                        help="pixel size in µm (default: from the file's metadata; "
                        "given, it overrides the metadata)")
    parser.add_argument("--channel", type=_index, metavar="N",
                        help="channel to analyse in a multi-channel file (from 0)")
    parser.add_argument("--z", type=_index, metavar="N", help="Z plane to analyse (from 0)")
    parser.add_argument("--nuclei", metavar="PATH",
                        help="nucleus label image (integers, 0 = background); {stem} is "
                        "replaced by each image's file name without extension")
    parser.add_argument("--cells", metavar="PATH",
                        help="cell label image (integers, 0 = background); {stem} as above")
    parser.add_argument("--search-range", type=_positive_float, metavar="UM",
                        help="movies: farthest a defect moves between frames, in µm "
                        "(default: half the median spacing of neighbouring defects)")
    parser.add_argument("--memory", type=_index, default=1, metavar="N",
                        help="movies: frames a defect may go undetected and keep its track "
                        "(default 1)")
    parser.add_argument("--frame-interval", type=_positive_float, metavar="S",
                        help="movies: seconds between frames (default: from the metadata)")
    parser.add_argument("--mask", metavar="PATH",
                        help="binary or label image of the region to analyse (non-zero = "
                        "analysed); {stem} as above")
    parser.add_argument("--sigma", type=_auto(_positive_float), default="auto", metavar="S",
                        help="structure-tensor scale in pixels, or auto (default: the fibre "
                        "width read from the image)")
    parser.add_argument("--core-radius", type=_auto(_positive_float), default="auto",
                        metavar="R",
                        help="defect-core scale in pixels, or auto (default: a fifth of the "
                        "director's correlation length, at least 2.5 sigma)")
    parser.add_argument("--grid-step", type=_auto(_positive_int), default="auto", metavar="N",
                        help="spacing of the director grid in pixels, or auto (default: a "
                        "third of the core radius)")


class _Version(argparse.Action):
    """--version: the package metadata is read only when asked for."""

    def __init__(self, option_strings: list[str], dest: str, **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0, help="show the version and exit")

    def __call__(self, parser: argparse.ArgumentParser, *args: Any) -> None:
        from . import __version__

        print(f"{parser.prog} {__version__}")
        parser.exit()


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tazmir",
        description="Analyse tissue images as liquid crystals: orientation field, defects, "
        "correlations, continuum parameters for the fenwold simulator.",
    )
    parser.add_argument("--version", action=_Version)
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    demo = commands.add_parser(
        "demo", help="analyse a synthetic tissue with known +-1/2 defects",
        description="Synthesise a tissue-like nematic texture with one +1/2 and one -1/2 "
        "defect (nothing is downloaded), analyse it and write params.json, summary.json, "
        "analysis.png, ripley.csv and the image itself (image.tif).",
    )
    demo.add_argument("--out", type=Path, required=True, metavar="DIR", help="output folder")
    demo.add_argument("--size", type=_positive_int, default=192, metavar="N",
                      help="image side in pixels (default 192)")
    demo.add_argument("--seed", type=int, default=7, help="random seed (default 7)")
    demo.add_argument("--overwrite", action="store_true", help="replace earlier demo results")

    analyze = commands.add_parser(
        "analyze", help="analyse image files",
        description="Analyse images and (T, Y, X) movies: TIFF (ImageJ hyperstacks and "
        "OME-TIFF with their axes and pixel size), PNG, JPEG (colour is converted to grey). "
        "Writes one folder per file (summary.json, params.json, defects.csv, maps.tif, "
        "analysis.png; tracks.csv for movies; nuclei.csv and cells.csv with label images) "
        "and summary.csv with one row per file. Files that cannot be analysed are reported "
        "on stderr and give exit status 1; the others are still analysed.",
    )
    analyze.add_argument("images", nargs="+", type=Path, metavar="IMAGES")
    _add_analysis_options(analyze)
    analyze.add_argument("--out", type=Path, required=True, metavar="DIR", help="output folder")
    where = analyze.add_mutually_exclusive_group()
    where.add_argument("--workers", type=_positive_int, default=1, metavar="N",
                       help="number of local worker processes (default 1: this process)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the Dask distributed cluster at ADDRESS "
                       "(e.g. tcp://host:8786); its workers must see the images")
    analyze.add_argument("--no-progress", action="store_true", help="hide the progress bar")
    analyze.add_argument("--no-figure", action="store_true", help="do not draw analysis.png")
    again = analyze.add_mutually_exclusive_group()
    again.add_argument("--overwrite", action="store_true",
                       help="replace the results of these files in an --out that holds results")
    again.add_argument("--resume", action="store_true",
                       help="keep complete results in --out and analyse only the rest")

    compare = commands.add_parser(
        "compare", help="compare two groups of images metric by metric",
        description="Analyse two groups of images as `analyze` does (into DIR/group_a and "
        "DIR/group_b) and compare every per-image number of summary.json between them: "
        "comparison.csv (metric, n_a, n_b, mean_a, mean_b, std_a, std_b, difference, p_value, "
        "the two-sided permutation p-value of the difference of means, seeded) and "
        "comparison.png (each metric per group).",
    )
    compare.add_argument("images", nargs="+", type=Path, metavar="IMAGES",
                         help="the first group (A)")
    compare.add_argument("--against", nargs="+", type=Path, required=True, metavar="IMAGES",
                         help="the second group (B)")
    _add_analysis_options(compare)
    compare.add_argument("--out", type=Path, required=True, metavar="DIR", help="output folder")
    compare.add_argument("--permutations", type=_positive_int, default=9999, metavar="N",
                         help="permutations of the test (default 9999)")
    compare.add_argument("--seed", type=int, default=0, help="seed of the permutations (default 0)")
    compare.add_argument("--workers", type=_positive_int, default=1, metavar="N",
                         help="number of local worker processes (default 1: this process)")
    compare.add_argument("--no-progress", action="store_true", help="hide the progress bar")
    compare.add_argument("--no-figure", action="store_true",
                         help="do not draw each image's analysis.png")
    compare.add_argument("--overwrite", action="store_true",
                         help="replace the results of an earlier comparison in --out")
    return parser


def _analysis_settings(args: argparse.Namespace) -> Any:
    from .batch import AnalysisOptions

    return AnalysisOptions(
        pixel_size_um=args.pixel_size, sigma=args.sigma, grid_step=args.grid_step,
        core_radius=args.core_radius, mask=args.mask,
        channel=args.channel, z=args.z, nuclei=args.nuclei, cells=args.cells,
        search_range_um=args.search_range, memory=args.memory,
        frame_interval_s=args.frame_interval, figure=not args.no_figure,
    )


def _demo(args: argparse.Namespace) -> int:
    import io

    import tifffile

    from .analysis import analyze_image
    from .export import atomic_write, write_results
    from .synthetic import synthetic_tissue

    if args.out.exists() and any(args.out.iterdir()) and not args.overwrite:
        print(f"tazmir: {args.out} is not empty; pass --overwrite to replace it",
              file=sys.stderr)
        return 2
    tissue = synthetic_tissue(args.size, seed=args.seed)
    result = analyze_image(
        tissue.image,
        pixel_size_um=tissue.pixel_size_um,
        nuclear_mask=tissue.nuclear_mask,
        contours=tissue.contours,
    )
    write_results(args.out, result, image=tissue.image, overwrite=True,
                  info={"pixel_size_source": "synthetic"})
    buffer = io.BytesIO()
    size = tissue.pixel_size_um  # so that `tazmir analyze` finds it without --pixel-size
    tifffile.imwrite(buffer, tissue.image, ome=True,
                     metadata={"axes": "YX", "PhysicalSizeX": size, "PhysicalSizeY": size})
    atomic_write(args.out / "image.tif", buffer.getvalue())
    print(f"synthetic tissue: {args.size} x {args.size} px at {tissue.pixel_size_um} µm/px")
    for planted in tissue.defects:
        print(f"  planted {planted.charge:+.1f} at (row {planted.row:.1f}, col {planted.col:.1f})")
    for found in result.defects:
        print(f"  found   {found.charge:+.1f} at (row {found.row:.1f}, col {found.col:.1f})")
    print(f"wrote {args.out}: params.json, summary.json, defects.csv, nuclei.csv, cells.csv, "
          "maps.tif, ripley.csv, analysis.png, image.tif")
    return 0


def _analyze(args: argparse.Namespace) -> int:
    from . import _heap
    from .batch import ClusterUnavailable, OutputExists, run_batch

    if args.scheduler is not None and _missing(["distributed"]):
        print("tazmir: --scheduler needs Dask distributed: pip install 'tazmir[cluster]'",
              file=sys.stderr)
        return 2
    options = _analysis_settings(args)
    _heap.manage()
    try:
        failures = run_batch(
            args.images, args.out, options, workers=args.workers, scheduler=args.scheduler,
            progress=not args.no_progress, overwrite=args.overwrite, resume=args.resume,
        )
    except (ClusterUnavailable, OutputExists) as exc:
        print(f"tazmir: {exc}", file=sys.stderr)
        return 2
    except OSError as exc:  # the output folder itself cannot be made or written
        print(f"tazmir: cannot write to {args.out}: {exc.strerror or exc}", file=sys.stderr)
        return 2
    total = len(args.images)
    print(f"analysed {total - failures} of {total} images into {args.out}")
    return 1 if failures else 0


def _compare(args: argparse.Namespace) -> int:
    from .batch import OutputExists, run_batch
    from .compare import comparison_csv, comparison_figure, compare_groups
    from .export import atomic_write
    from .figures import png_bytes
    from .files import output_names, read_summary

    if (args.out / "comparison.csv").exists() and not args.overwrite:
        print(f"tazmir: {args.out} already holds a comparison; pass --overwrite to replace it",
              file=sys.stderr)
        return 2
    options = _analysis_settings(args)
    groups, failures = [], 0
    for name, paths in (("group_a", args.images), ("group_b", args.against)):
        folder = args.out / name
        try:
            failures += run_batch(paths, folder, options, workers=args.workers,
                                  progress=not args.no_progress, overwrite=args.overwrite)
        except OutputExists as exc:
            print(f"tazmir: {exc}", file=sys.stderr)
            return 2
        except OSError as exc:
            print(f"tazmir: cannot write to {folder}: {exc.strerror or exc}", file=sys.stderr)
            return 2
        names = output_names([str(Path(p).resolve()) for p in paths])
        groups.append([read_summary(folder / n) for n in names
                       if (folder / n / "summary.json").is_file()])
    if not groups[0] or not groups[1]:
        print("tazmir: no image of one group could be analysed: nothing to compare",
              file=sys.stderr)
        return 1
    rows = compare_groups(groups[0], groups[1], n_permutations=args.permutations,
                          seed=args.seed)
    atomic_write(args.out / "comparison.csv", comparison_csv(rows))
    figure = comparison_figure(groups[0], groups[1], rows, ("A", "B"))
    atomic_write(args.out / "comparison.png", png_bytes(figure))
    print(f"compared {len(groups[0])} against {len(groups[1])} images on {len(rows)} metrics: "
          f"{args.out / 'comparison.csv'}, comparison.png")
    return 1 if failures else 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    args = _parser().parse_args(argv)
    missing = _missing(_CLI_MODULES)
    if missing:
        print(f"tazmir: the command line needs {', '.join(missing)}: "
              "pip install 'tazmir[cli]'", file=sys.stderr)
        return 2
    try:
        if args.command == "demo":
            return _demo(args)
        if args.command == "compare":
            return _compare(args)
        return _analyze(args)
    except KeyboardInterrupt:
        # Results folders appear only when complete: nothing half-written is left behind.
        print("tazmir: interrupted", file=sys.stderr)
        return 130


if __name__ == "__main__":
    raise SystemExit(main())
