"""compute_persistence: pairs of a filtered complex, against small complexes worked by hand,
an elder-rule union-find, and the Betti numbers of an annulus and a sphere."""

import math
import os
import sys

import numpy as np
import pytest

import _native

sys.path.insert(0, os.path.dirname(__file__))
from _topo_reference import Cycling, elder_rule_pairs, literal_persistence  # noqa: E402

INF = math.inf
CYCLE_MESSAGE = "a simplex lists the same face twice, so the boundary reduction cannot finish"


def pairs(vertices, edges=(), triangles=()):
    result = _native.compute_persistence(list(vertices), list(edges), list(triangles))
    for p in result:
        assert list(p) == ["birth", "death", "dimension", "persistence"]
    return [(p["birth"], p["death"], p["dimension"]) for p in result]


TRIANGLE_VERTICES = [(0, 0.0), (1, 0.0), (2, 0.0)]
TRIANGLE_EDGES = [(0, 1, 1.0), (1, 2, 1.0), (0, 2, 1.0)]


@pytest.mark.parametrize(
    "vertices, edges, triangles, expected",
    [
        pytest.param([], [], [], [], id="empty"),
        pytest.param([(0, 0.0)], [], [], [(0.0, INF, 0)], id="one-vertex"),
        pytest.param([(0, 0.0), (1, 0.0)], [(0, 1, 1.0)], [],
                     [(0.0, 1.0, 0), (0.0, INF, 0)], id="edge-kills-later-vertex"),
        pytest.param(TRIANGLE_VERTICES, TRIANGLE_EDGES, [(0, 1, 2, 2.0)],
                     [(0.0, 1.0, 0), (0.0, 1.0, 0), (1.0, 2.0, 1), (0.0, INF, 0)],
                     id="filled-triangle"),
        pytest.param(TRIANGLE_VERTICES, TRIANGLE_EDGES, [(0, 1, 2, 1.0)],
                     [(0.0, 1.0, 0), (0.0, 1.0, 0), (0.0, INF, 0)], id="cycle-dies-at-birth"),
        pytest.param([(0, 0.0)], [(0, 0, 1.0)], [], [(0.0, 1.0, 0)], id="loop-edge-kills-vertex"),
        pytest.param(TRIANGLE_VERTICES, [], [(0, 1, 2, 1.0)],
                     [(0.0, INF, 0)] * 3, id="triangle-without-edges"),
        pytest.param([(5, 0.0)], [(1, 2, 1.0)], [], [(0.0, 1.0, 0)],
                     id="unlisted-endpoints-resolve-to-first"),
        pytest.param([(0, 0.0), (1, 0.0)], [(0, 1, 5e-16)], [], [(0.0, INF, 0)],
                     id="short-pair-dropped"),
        pytest.param([(0, 0.0), (1, 2.0)], [(0, 1, 1.0)], [], [(2.0, 1.0, 0), (0.0, INF, 0)],
                     id="death-below-birth"),
        pytest.param([(0, 1.0), (1, 1.0)], [(0, 1, 1.0)], [], [(1.0, INF, 0)],
                     id="vertex-sorts-before-edge-of-equal-value"),
        pytest.param([(0, 0.0), (0, 3.0), (1, 1.0)], [(0, 1, 4.0)], [],
                     [(3.0, 4.0, 0), (0.0, INF, 0), (1.0, INF, 0)],
                     id="later-duplicate-vertex-wins"),
        pytest.param([(0, 0.0), (1, 1.0)], [(0, 1, 2.0), (1, 0, 3.0)], [],
                     [(1.0, 2.0, 0), (0.0, INF, 0)], id="duplicate-edge"),
        pytest.param([], [(0, 1, 1.0), (1, 2, 2.0)], [], [], id="edges-without-vertices"),
    ],
)
def test_small_complexes(vertices, edges, triangles, expected):
    assert pairs(vertices, edges, triangles) == expected


def test_result_dicts_and_infinite_persistence():
    assert _native.compute_persistence([(0, 0.0)], [], []) == [
        {"birth": 0.0, "death": INF, "dimension": 0, "persistence": INF}]
    result = _native.compute_persistence([(0, 0.0), (1, 2.0)], [(0, 1, 1.0)], [])
    assert result[0] == {"birth": 2.0, "death": 1.0, "dimension": 0, "persistence": -1.0}


def test_order_finite_by_death_then_essential_by_vertex():
    vertices = [(0, 3.0), (1, 0.0), (2, 1.0), (3, 2.0), (4, 0.5)]
    edges = [(2, 3, 5.0), (0, 1, 4.0), (3, 4, 6.0)]
    assert pairs(vertices, edges) == [(3.0, 4.0, 0), (2.0, 5.0, 0), (1.0, 6.0, 0),
                                      (0.0, INF, 0), (0.5, INF, 0)]


# --- faces listed twice -----------------------------------------------------------------------


def test_column_that_reproduces_itself_raises_instead_of_hanging():
    # [0, 1] plus the owner column [1, 1] gives [0, 1] again, for ever.
    with pytest.raises(ValueError) as info:
        pairs([(0, 0.0), (1, 0.0)], [(1, 1, 1.0), (0, 1, 2.0)])
    assert str(info.value) == CYCLE_MESSAGE


def test_triangle_listing_an_edge_twice_raises():
    # Triangle (0, 0, 1) looks up {0, 0} (absent), {0, 1} and {0, 1}: its column [e, e] takes
    # the pivot e, the last edge. Triangle (0, 1, 2) has the column [f, g, e]; adding [e, e]
    # leaves it as it was.
    vertices = [(0, 0.0), (1, 0.0), (2, 0.0)]
    edges = [(1, 2, 1.0), (0, 2, 1.0), (0, 1, 1.0)]
    with pytest.raises(ValueError) as info:
        pairs(vertices, edges, [(0, 0, 1, 2.0), (0, 1, 2, 3.0)])
    assert str(info.value) == CYCLE_MESSAGE


def test_repeated_face_that_settles_keeps_the_literal_result():
    # Column [1, 1] meets the owner [0, 1] twice and empties: the second edge is positive.
    result = pairs([(0, 0.0), (1, 0.0)], [(0, 1, 1.0), (1, 1, 2.0)])
    assert result == [(0.0, 1.0, 0), (0.0, INF, 0)]


# --- NaN ---------------------------------------------------------------------------------------


def test_nan_among_two_simplices_is_an_internal_failure():
    with pytest.raises(_native.PanicException) as info:
        pairs([(0, 0.0), (1, math.nan)])
    assert str(info.value) == "called `Option::unwrap()` on a `None` value"


def test_single_nan_vertex_is_never_compared():
    (result,) = _native.compute_persistence([(0, math.nan)], [], [])
    assert math.isnan(result["birth"]) and result["death"] == INF
    assert result["dimension"] == 0 and math.isnan(result["persistence"])


# --- against independent computations -----------------------------------------------------------


@pytest.mark.parametrize("seed", range(6))
def test_dimension_zero_pairs_match_a_union_find(seed):
    rng = np.random.default_rng(seed)
    n = int(rng.integers(5, 60))
    values = rng.random(n).tolist()
    edges = []
    for _ in range(int(rng.integers(0, 3 * n))):
        a, b = (int(v) for v in rng.choice(n, 2, replace=False))
        edges.append((a, b, max(values[a], values[b]) + float(rng.random())))
    finite, roots = elder_rule_pairs(values, edges)
    result = pairs(enumerate(values), edges)
    assert sorted((b, d) for b, d, dim in result if d != INF) == finite
    assert all(dim == 0 for _, _, dim in result)
    assert sorted(b for b, d, _ in result if d == INF) == roots


def betti_numbers(vertices, edges, triangles):
    """Betti numbers from a filtration with distinct values (no pair is dropped): every
    negative simplex kills a class, the rest carry homology."""
    result = pairs(vertices, edges, triangles)
    killed = [sum(1 for _, d, dim in result if dim == k and d != INF) for k in (0, 1)]
    essential = sum(1 for _, d, _ in result if d == INF)
    return essential, len(edges) - killed[0] - killed[1], len(triangles) - killed[1]


def filtration(vertex_lists, edge_list, triangle_list):
    step = iter(range(1, 10_000))
    vertices = [(v, float(next(step))) for v in vertex_lists]
    edges = [(a, b, float(next(step))) for a, b in edge_list]
    triangles = [(a, b, c, float(next(step))) for a, b, c in triangle_list]
    return vertices, edges, triangles


def test_betti_numbers_of_an_annulus():
    n = 8  # two rings of n vertices, quads between them split into triangles
    triangles = []
    for i in range(n):
        j = (i + 1) % n
        triangles += [(i, j, n + i), (j, n + j, n + i)]
    edges = sorted({tuple(sorted(p)) for a, b, c in triangles for p in ((a, b), (b, c), (a, c))})
    assert betti_numbers(*filtration(range(2 * n), edges, triangles)) == (1, 1, 0)


def test_betti_numbers_of_a_sphere():
    # The octahedron: poles 0 and 5 over the square 1-2-3-4.
    triangles = [(0, 1, 2), (0, 2, 3), (0, 3, 4), (0, 1, 4),
                 (5, 1, 2), (5, 2, 3), (5, 3, 4), (5, 1, 4)]
    edges = sorted({tuple(sorted(p)) for a, b, c in triangles for p in ((a, b), (b, c), (a, c))})
    assert betti_numbers(*filtration(range(6), edges, triangles)) == (1, 0, 1)


def test_betti_numbers_of_two_disjoint_circles():
    edges = [(0, 1), (1, 2), (0, 2), (3, 4), (4, 5), (3, 5)]
    assert betti_numbers(*filtration(range(6), edges, [])) == (2, 2, 0)


# --- arguments -----------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "args, exc, message",
    [
        pytest.param(([[0, 0.0]], [], []), TypeError,
                     "argument 'vertices': 'list' object cannot be converted to 'PyTuple'",
                     id="list-item"),
        pytest.param(([(0, 0.0, 1.0)], [], []), ValueError,
                     "expected tuple of length 2, but got tuple of length 3", id="long-tuple"),
        pytest.param(([], [(0, 1)], []), ValueError,
                     "expected tuple of length 3, but got tuple of length 2", id="short-edge"),
        pytest.param(([], "abc", []), TypeError,
                     "argument 'edges': Can't extract `str` to `Vec`", id="str"),
        pytest.param(([], [], 5), TypeError,
                     "argument 'triangles': 'int' object cannot be converted to 'Sequence'",
                     id="not-a-sequence"),
        pytest.param(([(-1, 0.0)], [], []), OverflowError, None, id="negative-index"),
        pytest.param(([(0.5, 0.0)], [], []), TypeError, None, id="float-index"),
    ],
)
def test_argument_errors(args, exc, message):
    with pytest.raises(exc) as info:
        _native.compute_persistence(*args)
    if message is not None:
        assert str(info.value) == message


def test_tuple_subclasses_and_numpy_scalars_are_accepted():
    from collections import namedtuple

    Vertex = namedtuple("Vertex", "index value")
    result = pairs([Vertex(np.uint32(0), np.float64(0.0)), (np.int64(1), 1)], [(0, 1, 2.0)])
    assert result == [(1.0, 2.0, 0), (0.0, INF, 0)]


# --- random malformed complexes against the rules followed to the letter ----------------------


@pytest.mark.parametrize("seed", range(40))
def test_random_complexes_follow_the_literal_rules(seed):
    rng = np.random.default_rng(seed)
    n_index = int(rng.integers(1, 8))
    values = [0.0, 0.5, 1.0, 1.5, 2.0]  # few distinct values: many ties

    def value():
        return float(rng.choice(values))

    vertices = [(int(rng.integers(0, n_index + 2)), value())
                for _ in range(int(rng.integers(0, 7)))]
    edges = [(int(rng.integers(0, n_index)), int(rng.integers(0, n_index)), value())
             for _ in range(int(rng.integers(0, 10)))]
    triangles = [(int(rng.integers(0, n_index)), int(rng.integers(0, n_index)),
                  int(rng.integers(0, n_index)), value())
                 for _ in range(int(rng.integers(0, 6)))]
    try:
        expected = literal_persistence(vertices, edges, triangles)
    except Cycling:
        with pytest.raises(ValueError, match=CYCLE_MESSAGE):
            pairs(vertices, edges, triangles)
    else:
        assert pairs(vertices, edges, triangles) == expected


@pytest.mark.parametrize("seed", range(5))
def test_lower_star_mesh_follows_the_literal_rules(seed):
    # A triangulated grid with a lower-star filtration: the path the fast pivots take.
    rng = np.random.default_rng(seed)
    rows, cols = 7, 9
    height = rng.random(rows * cols).round(2).tolist()  # rounded: ties between values
    triangles = []
    for r in range(rows - 1):
        for c in range(cols - 1):
            a, b, d, e = r * cols + c, r * cols + c + 1, (r + 1) * cols + c, (r + 1) * cols + c + 1
            triangles += [(a, b, e), (a, e, d)]
    edge_keys = sorted({tuple(sorted(p))
                        for a, b, c in triangles for p in ((a, b), (b, c), (a, c))})
    rng.shuffle(edge_keys)
    vertices = list(enumerate(height))
    edges = [(a, b, max(height[a], height[b])) for a, b in edge_keys]
    tris = [(a, b, c, max(height[a], height[b], height[c])) for a, b, c in triangles]
    assert pairs(vertices, edges, tris) == literal_persistence(vertices, edges, tris)
