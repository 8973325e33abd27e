"""tazmir: tissue images analysed as liquid crystals.

``analyze_image`` runs the whole chain of the compute core ``_native`` on one image and
returns an ``ImageAnalysis``; ``analyze_movie`` does it frame by frame and links the defects
over time; ``read_image`` reads a microscopy file with its axes and pixel size, and
``tazmir.export.write_results`` writes the results folder; ``tazmir.angles`` converts angles
to and from the conventions of other tools; ``tazmir.synthetic`` makes test tissues and
movies with known defects. The command line
(``tazmir demo``, ``tazmir analyze``) and the figures need the ``cli`` extra.
"""

from . import angles, synthetic
from .analysis import analyze_image
from .grid import DirectorGrid
from .io import ImageData, read_image
from .movie import MovieAnalysis, analyze_movie
from .result import Defect, ImageAnalysis
from .synthetic import synthetic_movie, synthetic_tissue



def __getattr__(name: str) -> str:
    # The installed version is looked up on first use: reading the package metadata costs
    # more than importing the analysis itself.
    if name != "__version__":
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    from importlib import metadata

    try:
        return metadata.version("tazmir")
    except metadata.PackageNotFoundError:  # running from a source tree
        return "0+unknown"

__all__ = [
    "Defect",
    "DirectorGrid",
    "ImageAnalysis",
    "ImageData",
    "MovieAnalysis",
    "__version__",
    "analyze_image",
    "analyze_movie",
    "angles",
    "read_image",
    "synthetic",
    "synthetic_movie",
    "synthetic_tissue",
]
