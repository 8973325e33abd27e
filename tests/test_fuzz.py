"""Arbitrary arguments to every function: each call returns the documented result type or
raises one of the documented exception classes; it never crashes, hangs or corrupts input.

CI runs a fixed, modest number of examples. A long run:
    TAZMIR_FUZZ_EXAMPLES=8000 pytest tests/test_fuzz.py     # 14 x 8000 = 112,000 calls
"""

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import _native as nt

EXAMPLES = int(os.environ.get("TAZMIR_FUZZ_EXAMPLES", "60"))
ALLOWED = (TypeError, ValueError, OverflowError, MemoryError, nt.PanicException)
FUZZ = settings(max_examples=EXAMPLES, derandomize=True, deadline=None, database=None,
                suppress_health_check=list(HealthCheck))


class UserArray(np.ndarray):
    pass


def number_like(method, result):
    """An object with only `method` (__float__ or __index__), which returns `result` or, given
    an exception class, raises it."""
    def convert(self):
        if isinstance(result, type):
            raise result(f"no {method}")
        return result
    return type("NumberLike", (), {method: convert})()


SPECIAL_FLOATS = [0.0, -0.0, 1.0, -1.0, np.nan, np.inf, -np.inf, 1e-300, 1e300, 5e-324]
floats = st.one_of(st.sampled_from(SPECIAL_FLOATS), st.floats(-100, 100),
                   st.floats(allow_nan=True, allow_infinity=True, width=64))
odd_scalars = st.one_of(
    st.none(),
    st.text(max_size=3),
    st.builds(number_like, st.sampled_from(["__float__", "__index__"]),
              st.sampled_from([TypeError, ValueError, OverflowError])),
    # Objects with __index__: small values, or values no 64-bit parameter can hold. (A count
    # of, say, 2**40 permutations is legitimate work that would just run for a very long time.)
    st.builds(number_like, st.just("__index__"),
              st.one_of(st.integers(-5, 70), st.sampled_from([2**64, 2**70, -(2**63)]))),
    st.sampled_from([[], (1,), {}, np.float32(1.5), np.int64(3), True, 1j]),
)
huge_ints = st.sampled_from([-1, -(2**63), 2**31, 2**32, 2**63, 2**64 - 1, 2**64, 2**100])


def ints(low: int, high: int):
    """Small ints that keep the work bounded, or ones out of range for the parameter."""
    return st.one_of(st.integers(low, high), huge_ints, st.booleans(), odd_scalars)


def scalar_floats():
    return st.one_of(floats, st.integers(-5, 5), odd_scalars)


def bounded_sigmas():
    """Scales whose kernels stay small, or so large that the kernel cannot exist."""
    return st.one_of(st.floats(-3, 12),
                     st.sampled_from([0.0, -0.0, 0.49, 0.5, np.nan, np.inf, 1e300, 1e20]))


DTYPES = [np.float64, np.float64, np.float64, np.float32, np.int32, np.int64, ">f8", "<i4", bool]


@st.composite
def arrays(draw, ndim=None, dtype=None, max_side=7):
    dims = draw(st.sampled_from([0, 1, 2, 3])) if ndim is None else ndim
    kind = np.dtype(draw(st.sampled_from(DTYPES)) if dtype is None else dtype)
    shape = draw(hnp.array_shapes(min_dims=dims, max_dims=dims, min_side=0, max_side=max_side))
    if kind.kind == "f":
        elements = st.floats(allow_nan=True, allow_infinity=True, width=64)
        with np.errstate(over="ignore"):  # float32 saturates to infinity, as intended
            base = draw(hnp.arrays(np.float64, shape, elements=elements)).astype(kind)
    elif kind.kind == "i":
        base = draw(hnp.arrays(kind, shape, elements=st.integers(-3, 8)))
    else:
        base = draw(hnp.arrays(kind, shape))
    return VIEWS[draw(st.sampled_from(list(VIEWS)))](base)


VIEWS = {  # a 0-d array has no first axis to reverse, stride or broadcast
    "plain": lambda a: a, "fortran": np.asfortranarray,
    "reversed": lambda a: a[::-1] if a.ndim else a,
    "strided": lambda a: np.repeat(a, 2, axis=0)[::2] if a.ndim else a,
    "readonly": lambda a: np.frombuffer(a.tobytes(), a.dtype).reshape(a.shape),
    "broadcast": lambda a: np.broadcast_to(a[:1], a.shape) if a.ndim and a.shape[0] else a,
    "masked": np.ma.masked_array, "subclass": lambda a: a.view(UserArray),
}


def array_args(ndim, dtype=np.float64, max_side=7):
    """Mostly arrays of the right kind, sometimes anything else."""
    right = arrays(ndim=ndim, dtype=dtype, max_side=max_side)
    return st.one_of(right, right, arrays(max_side=max_side), odd_scalars)


def float_seqs(elements):
    return st.one_of(st.lists(elements, max_size=5), st.lists(elements, max_size=5).map(tuple),
                     arrays(ndim=1, dtype=np.float64, max_side=5), odd_scalars)


def tuple_seqs(*kinds):
    good = st.tuples(*kinds)
    item = st.one_of(good, good, st.lists(kinds[-1], max_size=4), st.tuples(*kinds[:-1]),
                     odd_scalars)
    return st.one_of(st.lists(item, max_size=8), st.text(max_size=2), odd_scalars)


vertex_ids = st.one_of(st.integers(0, 6), st.sampled_from([-1, 2**64 - 1, 2**64, 2**40]))
filtration = st.one_of(st.floats(0, 3), st.sampled_from([np.nan, np.inf, -0.0]))

CALLS = {
    "analyze_shape": (dict, st.tuples(array_args(2))),
    "analyze_shapes_batch": (
        list,
        st.tuples(st.one_of(st.lists(array_args(2), max_size=4), arrays(ndim=3), odd_scalars)),
    ),
    "compute_structure_tensor": (dict, st.tuples(array_args(2, max_side=12), bounded_sigmas())),
    "compute_multiscale_structure_tensor": (
        dict, st.tuples(array_args(2, max_side=10), float_seqs(bounded_sigmas()))),
    "fit_nuclear_ellipses": (list, st.tuples(array_args(2, dtype=np.int32, max_side=12))),
    "detect_defects": (
        list,
        st.tuples(array_args(1, max_side=40), ints(0, 8), ints(0, 8), ints(0, 7), scalar_floats())),
    "validate_poincare_hopf": (
        dict, st.tuples(float_seqs(scalar_floats()), ints(-3, 3), scalar_floats())),
    "compute_persistence": (
        list, st.tuples(tuple_seqs(vertex_ids, filtration),
                        tuple_seqs(vertex_ids, vertex_ids, filtration),
                        tuple_seqs(vertex_ids, vertex_ids, vertex_ids, filtration))),
    "orientational_correlation": (
        dict,
        st.tuples(array_args(2), array_args(1), ints(0, 7), scalar_floats(),
                  # Bin counts the machine can hold, or ones it cannot.
                  st.one_of(st.integers(0, 40), st.sampled_from([-1, 2**62, 2**64]),
                            odd_scalars)),
    ),
    "ripley_k": (dict, st.tuples(array_args(2), float_seqs(scalar_floats()), array_args(1))),
    "permutation_test": (
        dict,
        st.tuples(array_args(1), array_args(1),
                  st.one_of(st.integers(0, 60), st.sampled_from([-1, 2**64, 2**100]), odd_scalars),
                  ints(0, 2**64 - 1)),
    ),
    "frank_energy": (
        dict, st.tuples(array_args(1, max_side=40), ints(0, 8), ints(0, 8), scalar_floats())),
    "estimate_ldg_params": (dict, st.tuples(array_args(1), scalar_floats(), scalar_floats())),
    "build_fenwold_params": (
        dict, st.tuples(*[scalar_floats()] * 6, ints(0, 100), scalar_floats())),
}


def _snapshot(value):
    if isinstance(value, np.ndarray):
        return (value.shape, value.dtype.str, np.asarray(value).tobytes())
    if isinstance(value, (list, tuple)):
        return [_snapshot(item) for item in value]
    return None


@pytest.mark.parametrize("name", list(CALLS))
def test_any_arguments(name):
    result_type, strategy = CALLS[name]
    function = getattr(nt, name)

    @FUZZ
    @given(strategy)
    def check(args):
        before = _snapshot(list(args))
        try:
            result = function(*args)
        except ALLOWED:
            pass
        else:
            assert type(result) is result_type
        assert _snapshot(list(args)) == before, "an argument was written to"

    check()
