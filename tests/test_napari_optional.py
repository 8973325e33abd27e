"""The napari plugin stays optional: the package and its layer builders load without it."""

from conftest import run_python


def test_package_never_imports_napari_or_qt():
    result = run_python(
        """
        import sys
        import tazmir, tazmir.napari, tazmir.napari.layers, tazmir.napari.reader
        import tazmir.napari.sample
        loaded = [m for m in sys.modules if m.split(".")[0] in
                  ("napari", "magicgui", "qtpy", "PyQt5", "PyQt6", "PySide2", "PySide6")]
        print(loaded)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "[]\n"
