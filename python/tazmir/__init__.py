"""tazmir: tissue images analysed as liquid crystals.

``analyze_image`` runs the whole chain of the compute core ``_native`` on one image and
returns an ``ImageAnalysis``; ``tazmir.angles`` converts angles to and from the conventions of
other tools; ``tazmir.synthetic`` makes test tissues with known defects. The command line
(``tazmir demo``, ``tazmir analyze``) and the figures need the ``cli`` extra.
"""

from importlib import metadata as _metadata

from . import angles, synthetic
from .analysis import analyze_image
from .grid import DirectorGrid
from .result import Defect, ImageAnalysis
from .synthetic import synthetic_tissue

try:
    __version__ = _metadata.version("tazmir")
except _metadata.PackageNotFoundError:  # running from a source tree
    __version__ = "0+unknown"

__all__ = [
    "Defect",
    "DirectorGrid",
    "ImageAnalysis",
    "__version__",
    "analyze_image",
    "angles",
    "synthetic",
    "synthetic_tissue",
]
