"""The module frame: registration, docstrings, argument binding, import rules."""

import ast
import hashlib
import importlib
import inspect
import sys
from pathlib import Path

import numpy as np
import pytest

import _native
from conftest import run_python

STUB = Path(__file__).resolve().parents[1] / "src" / "python" / "_native.pyi"


def _stub() -> tuple:
    """The stub's __all__ and name -> text signature of every function it declares, in order."""
    tree = ast.parse(STUB.read_text())
    (names,) = [n.value for n in tree.body if isinstance(n, ast.Assign)
                and n.targets[0].id == "__all__"]
    return ast.literal_eval(names), {
        node.name: "(" + ", ".join(arg.arg for arg in node.args.args) + ")"
        for node in tree.body if isinstance(node, ast.FunctionDef)}


DOCSTRINGS = "c07fc4ab50c92fba491b6f7d405613a45dcabf8f376f420c415abe4a470d289a"


def test_stub_declares_the_live_module_and_the_docstrings_keep_their_text():
    # Names, parameters and their order: the stub cannot drift from the binding table.
    names, functions = _stub()
    assert names == list(functions) == _native.__all__ and len(functions) == 14
    assert functions == {name: str(inspect.signature(getattr(_native, name))) for name in names}
    assert _native.__doc__ == "tazmir native extension module."
    assert all((getattr(_native, name).__name__, getattr(_native, name).__module__)
               == (name, "_native") for name in names)
    # The published texts, fixed: one digest of every name, text signature and docstring.
    digest = hashlib.sha256()
    for name in _native.__all__:
        function = getattr(_native, name)
        digest.update(f"{name}\n{function.__text_signature__}\n{function.__doc__}\n".encode())
    assert digest.hexdigest() == DOCSTRINGS


IMAGE = np.zeros((4, 4))


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: _native.analyze_shape(IMAGE, IMAGE),
         "analyze_shape() takes 1 positional arguments but 2 were given"),
        (lambda: _native.compute_structure_tensor(IMAGE),
         "compute_structure_tensor() missing 1 required positional argument: 'sigma'"),
        (lambda: _native.compute_structure_tensor(),
         "compute_structure_tensor() missing 2 required positional arguments: "
         "'image' and 'sigma'"),
        (lambda: _native.build_fenwold_params(1, 2, 3, 4, splay=5),
         "build_fenwold_params() missing 3 required positional arguments: "
         "'bend', 'n_defects', and 'image_area_um2'"),
        (lambda: _native.frank_energy(np.zeros(1), 1, nx=1, dx=1.0),
         "frank_energy() got multiple values for argument 'nx'"),
        (lambda: _native.compute_structure_tensor(IMAGE, sgma=1.0),
         "compute_structure_tensor() got an unexpected keyword argument 'sgma'"),
        # Binding checks keywords in the order given, before any missing argument.
        (lambda: _native.ripley_k(zeta=1, points=2),
         "ripley_k() got an unexpected keyword argument 'zeta'"),
        # Too many positionals is reported before an unknown keyword.
        (lambda: _native.analyze_shape(1, 2, bogus=3),
         "analyze_shape() takes 1 positional arguments but 2 were given"),
        (lambda: _native.analyze_shape(**{"é": 1}),
         "analyze_shape() got an unexpected keyword argument 'é'"),
    ],
    ids=["extra", "missing-one", "missing-two", "missing-three", "twice", "unknown",
         "unknown-before-missing", "extra-before-unknown", "non-ascii"],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError and str(info.value) == message


def test_keywords_bind_like_positionals():
    # Both reach the same conversion failure in the same parameter.
    for call in (
        lambda: _native.compute_structure_tensor(image=IMAGE, sigma="x"),
        lambda: _native.compute_structure_tensor(IMAGE, "x"),
        lambda: _native.compute_structure_tensor(sigma="x", image=IMAGE),
    ):
        with pytest.raises(TypeError, match="^argument 'sigma': must be real number, not str$"):
            call()


def test_repeated_import_returns_the_same_module_and_panics_are_not_exceptions():
    module = sys.modules.pop("_native")
    try:
        assert importlib.import_module("_native") is module
    finally:
        sys.modules["_native"] = module
    cls = _native.PanicException
    assert (cls.__bases__, cls.__module__) == ((BaseException,), "_native")


def test_sub_interpreters_are_refused():
    result = run_python(
        """
        import _native
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            raise SystemExit("no-subinterpreters")
        interp = interpreters.create()
        try:
            interpreters.run_string(interp, "import _native")
        except Exception as error:
            print(type(error).__name__, error)
        interpreters.destroy(interp)
        print(_native.__all__[0])  # the first interpreter's module is unaffected
        """
    )
    if result.stderr.strip() == "no-subinterpreters":
        pytest.skip("this interpreter has no sub-interpreter module")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert "ImportError" in lines[0] and "does not support sub-interpreters" in lines[0]
    assert lines[-1] == "analyze_shape"
