"""The topology functions' refusals and internal failures, with their exact texts (refusals
of wrong array, tuple and sequence kinds are the frame's: tests/test_conversions.py)."""

import numpy as np
import pytest

import _native as nt

LENGTH = "assertion `left == right` failed: frames.len() must equal nx * ny\n  left: {}\n right: {}"
INDEX = "index out of bounds: the len is {} but the index is {}"
CYCLE = "a simplex lists the same face twice, so the boundary reduction cannot finish"
PANIC = nt.PanicException

CASES = [
    ("one-extra", lambda: nt.detect_defects(np.zeros(5), 2, 2, 2, 0.5), PANIC, LENGTH.format(5, 4)),
    ("zero-rows", lambda: nt.detect_defects(np.zeros(0), 0, 2, 2, 0.5), PANIC, INDEX.format(0, 0)),
    # nx * ny = 2**64 + 4 wraps to the length 4; the walk leaves the grid at its second row.
    ("count-wraps", lambda: nt.detect_defects(np.zeros(4), 2**63 + 2, 2, 2, 0.5),
     PANIC, INDEX.format(4, 4)),
    ("nan-filtration", lambda: nt.compute_persistence([(0, 0.0), (1, float("nan"))], [], []),
     PANIC, "called `Option::unwrap()` on a `None` value"),
    # [0, 1] plus the owner column [1, 1] gives [0, 1] again, for ever.
    ("edge-lists-vertex-twice",
     lambda: nt.compute_persistence([(0, 0.0), (1, 0.0)], [(1, 1, 1.0), (0, 1, 2.0)], []),
     ValueError, CYCLE),
    # Triangle (0, 0, 1) finds {0, 1} twice: its column [e, e] owns the last edge e, and adding
    # it to the column [f, g, e] of triangle (0, 1, 2) leaves that column as it was.
    ("triangle-lists-edge-twice",
     lambda: nt.compute_persistence([(0, 0.0), (1, 0.0), (2, 0.0)],
                                    [(1, 2, 1.0), (0, 2, 1.0), (0, 1, 1.0)],
                                    [(0, 0, 1, 2.0), (0, 1, 2, 3.0)]),
     ValueError, CYCLE),
]


@pytest.mark.parametrize(("call", "exc", "message"), [pytest.param(*c[1:], id=c[0]) for c in CASES])
def test_refusals(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc and str(info.value) == message
