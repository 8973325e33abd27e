"""Argument conversion: what each parameter kind refuses, with which exception and text.

Every case fails before any computation runs, so the texts are the frame's own."""

import numpy as np
import pytest

import _native as nt

F64 = np.zeros((3, 2))
V64 = np.zeros(4)
ARRAY = "cannot be converted to 'PyArray<T, D>'"


class Floaty:
    def __float__(self):
        raise ValueError("no float here")


class Indexy:
    def __index__(self):
        raise TypeError("no index here") from KeyError("root cause")


class Subclassed(np.ndarray):
    pass


CASES = [
    # 2-D and 1-D float64 arrays: no casting of any kind (an array sequence's items:
    # tests/test_shape.py).
    ("float32", lambda: nt.compute_structure_tensor(F64.astype(np.float32), 1.0),
     TypeError, f"argument 'image': 'ndarray' object {ARRAY}"),
    ("nested-list", lambda: nt.analyze_shape([[0.0, 0.0], [1.0, 0.0], [0.0, 1.0]]),
     TypeError, f"argument 'contour_xy': 'list' object {ARRAY}"),
    ("0d-for-1d", lambda: nt.estimate_ldg_params(np.float64(1.0), 1.0, 1.0),
     TypeError, f"argument 's_values': 'float64' object {ARRAY}"),
    ("none-array", lambda: nt.ripley_k(None, [0, 0, 1, 1], V64),
     TypeError, f"argument 'points': 'NoneType' object {ARRAY}"),
    # Float sequences.
    ("str-sequence", lambda: nt.compute_multiscale_structure_tensor(F64, "12"),
     TypeError, "argument 'sigmas': Can't extract `str` to `Vec`"),
    ("dict-sequence", lambda: nt.validate_poincare_hopf({}, 1, 0.1),
     TypeError, "argument 'charges': 'dict' object cannot be converted to 'Sequence'"),
    ("generator", lambda: nt.validate_poincare_hopf((x for x in []), 1, 0.1),
     TypeError, "argument 'charges': 'generator' object cannot be converted to 'Sequence'"),
    ("bad-item", lambda: nt.validate_poincare_hopf([0.5, "x"], 1, 0.1),
     TypeError, "argument 'charges': must be real number, not str"),
    ("float-raises", lambda: nt.validate_poincare_hopf([Floaty()], 1, 0.1),
     ValueError, "no float here"),
    # The fixed quadruple.
    ("short-bbox", lambda: nt.ripley_k(F64, [0, 0, 1], V64),
     ValueError, "expected a sequence of length 4 (got 3)"),
    ("str-bbox", lambda: nt.ripley_k(F64, "abcd", V64),
     TypeError, "argument 'bbox': must be real number, not str"),
    ("int-bbox", lambda: nt.ripley_k(F64, 4, V64),
     TypeError, "argument 'bbox': 'int' object cannot be converted to 'Sequence'"),
    # Tuple sequences.
    ("list-item", lambda: nt.compute_persistence([[1, 0.5]], [], []),
     TypeError, "argument 'vertices': 'list' object cannot be converted to 'PyTuple'"),
    ("short-tuple", lambda: nt.compute_persistence([(1,)], [], []),
     ValueError, "expected tuple of length 2, but got tuple of length 1"),
    ("float-vertex", lambda: nt.compute_persistence([(1.5, 0.0)], [], []),
     TypeError, "argument 'vertices': 'float' object cannot be interpreted as an integer"),
    # Scalars.
    ("none-float", lambda: nt.compute_structure_tensor(F64, None),
     TypeError, "argument 'sigma': must be real number, not NoneType"),
    ("huge-float", lambda: nt.compute_structure_tensor(F64, 10**400),
     OverflowError, "int too large to convert to float"),
    ("float-for-int", lambda: nt.detect_defects(V64, 1.5, 2, 2, 0.1),
     TypeError, "argument 'nx': 'float' object cannot be interpreted as an integer"),
    ("negative-usize", lambda: nt.detect_defects(V64, -1, 2, 2, 0.1),
     OverflowError, "can't convert negative int to unsigned"),
    ("huge-usize", lambda: nt.frank_energy(V64, 2, 2**64, 1.0),
     OverflowError, "int too big to convert"),
    ("u32-too-big", lambda: nt.detect_defects(V64, 2, 2, 2**32, 0.1),
     OverflowError, "out of range integral type conversion attempted"),
    ("u32-beyond-long", lambda: nt.detect_defects(V64, 2, 2, 2**64, 0.1),
     OverflowError, "Python int too large to convert to C long"),
    ("str-int", lambda: nt.permutation_test(V64, V64, "9", 1),
     TypeError, "argument 'n_permutations': 'str' object cannot be interpreted as an integer"),
]


@pytest.mark.parametrize(
    ("call", "exc", "message"), [pytest.param(*c[1:], id=c[0]) for c in CASES]
)
def test_refusals(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc and str(info.value) == message


def test_reworded_type_error_keeps_its_cause_and_a_subclass_passes_unchanged():
    with pytest.raises(TypeError) as info:
        nt.detect_defects(V64, Indexy(), 2, 2, 0.1)
    assert str(info.value) == "argument 'nx': no index here"
    assert isinstance(info.value.__cause__, KeyError)

    class Special(TypeError):
        pass

    class Raises:
        def __float__(self):
            raise Special("special")

    with pytest.raises(Special, match="^special$"):
        nt.compute_structure_tensor(F64, Raises())


def unaligned(array):
    out = np.ndarray(array.shape, array.dtype, np.zeros(array.nbytes + 1, np.uint8), offset=1)
    out[...] = array
    return out


# Any 2-D array of the right dtype is read as its C-ordered copy would be; a 2-column
# parameter reads the first two of more columns.
rng = np.random.default_rng(4)
IMAGE, POINTS = rng.integers(0, 6, (40, 50)) + 0.25, rng.uniform(0, 1, (25, 2))
LAYOUT_CALLS = {
    "shape": (nt.analyze_shape, POINTS[np.argsort(np.arctan2(*(POINTS - 0.5).T))]),
    "single": (lambda a: nt.compute_structure_tensor(a, 2.0), IMAGE),
    "multiscale": (lambda a: nt.compute_multiscale_structure_tensor(a, [1, 3]), IMAGE),
    "ellipses": (nt.fit_nuclear_ellipses, IMAGE.astype(np.int32)),
    "correlation": (lambda a: nt.orientational_correlation(a, np.linspace(0, 3, 25), 2, 0.8, 5),
                    POINTS),
    "ripley": (lambda a: nt.ripley_k(a, (0, 0, 1, 1), np.array([0.1, 0.3])), POINTS),
}
LAYOUTS = {
    "fortran": np.asfortranarray, "negative-strides": lambda a: a[::-1, ::-1],
    "row-strided": lambda a: a[::2], "column-strided": lambda a: np.repeat(a, 2, axis=1)[:, ::2],
    "unaligned": unaligned, "masked": np.ma.masked_array, "subclass": lambda a: a.view(Subclassed),
    "read-only": lambda a: np.frombuffer(a.tobytes(), a.dtype).reshape(a.shape),
}


@pytest.mark.parametrize(("function", "base", "layout"), [
    pytest.param(function, base, layout, id=f"{name}-{layout}")
    for name, (function, base) in LAYOUT_CALLS.items()
    for layout in [*LAYOUTS, *(["extra-column"] if base.shape[1] == 2 else [])]])
def test_any_layout_gives_the_result_of_a_c_ordered_copy(function, base, layout):
    if layout == "extra-column":
        view, copy = np.column_stack([base, base[:, :1] * np.nan]), base
    else:
        view = LAYOUTS[layout](base)
        copy = np.ascontiguousarray(np.asarray(view))
    before = np.array(view)
    np.testing.assert_equal(function(view), function(copy))
    np.testing.assert_array_equal(np.asarray(view), before)


def test_conversion_runs_in_parameter_order():
    strided = np.zeros(8)[::2]
    # A later argument's conversion failure comes before the body reads the strided block.
    with pytest.raises(TypeError, match="^argument 'threshold'"):
        nt.detect_defects(strided, 2, 2, 2, "x")
    with pytest.raises(TypeError) as info:
        nt.detect_defects(strided, 2, 2, 2, 0.1)
    assert str(info.value) == "The given array is not contiguous"


@pytest.mark.parametrize("n", [0, 1])
def test_short_strided_1d_arrays_count_as_contiguous(n):
    thetas = np.zeros(4)[: 2 * n : 2]
    assert thetas.size == n
    assert list(nt.estimate_ldg_params(thetas, 1.0, 1.0)) == ["a", "b", "c", "k_elastic"]
