"""Writes python/tazmir/fonts/DejaVuSans-subset.ttf, the face analysis.png is lettered in.

DejaVu Sans (the face matplotlib draws with) cut down to the characters our figures use, so
the package ships a few kilobytes instead of the whole face. Run from the repository root
with matplotlib and fontTools installed (the `test` extra): python tools/subset_font.py
"""

from __future__ import annotations

import importlib.util
import shutil
from pathlib import Path

from fontTools import subset

# Printable ASCII and the symbols of our labels: µ, ±, ², ·, °, ×, −, ≈ and a few Greek
# letters and sub- and superscript digits.
TEXT = "".join(chr(c) for c in range(0x20, 0x7F)) + "µ±²³·°×−≈≤≥–—…" + \
    "αβγδεθκλξπρσφχψωΔΘΣΦΩ" + "₀₁₂₃₄₅₆₇₈₉⁰¹⁴⁵⁶⁷⁸⁹⁻"


def main() -> None:
    matplotlib = importlib.util.find_spec("matplotlib")
    assert matplotlib is not None and matplotlib.origin is not None, "needs matplotlib"
    fonts = Path(matplotlib.origin).parent / "mpl-data" / "fonts" / "ttf"
    target = Path(__file__).resolve().parents[1] / "python" / "tazmir" / "fonts"
    options = subset.Options()
    options.layout_features = ["kern"]
    options.name_IDs = ["*"]
    options.notdef_outline = True
    options.hinting = False
    font = subset.load_font(fonts / "DejaVuSans.ttf", options)
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=TEXT)
    subsetter.subset(font)
    subset.save_font(font, target / "DejaVuSans-subset.ttf", options)
    shutil.copyfile(fonts / "LICENSE_DEJAVU", target / "LICENSE_DEJAVU")


if __name__ == "__main__":
    main()
