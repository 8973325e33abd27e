"""One digest of everything `_native` returns or raises on a fixed set of inputs.

Every function is called on good inputs (large enough to reach the vectorised and pooled
paths) and on refused ones; each result is serialised exactly (float bits, array bytes, dict
key order, exception class and text) and the whole is hashed. The reference was taken before
the core's code was reorganised; any change of a result bit or a message changes it.
Run this file as a script to print each case's own digest when looking for the one that moved.
"""

import hashlib
import math
import struct
import sys

import numpy as np

import _native as nt

REFERENCE = "1944aef191b91d67bd1d1422697df2fc1e41265767b577ca52ab2fa07550a11b"


def _encode(value, out: list) -> None:
    if isinstance(value, bool) or value is None:
        out.append(repr(value))
    elif isinstance(value, int):
        out.append(f"i{value}")
    elif isinstance(value, float):
        out.append("f" + struct.pack("<d", value).hex())
    elif isinstance(value, str):
        out.append("s" + repr(value))
    elif isinstance(value, np.ndarray):
        array = np.ascontiguousarray(value)
        out.append(f"a{array.dtype.str}{array.shape}{array.tobytes().hex()}")
    elif isinstance(value, dict):
        out.append("{")
        for key, item in value.items():
            out.append(repr(key))
            _encode(item, out)
        out.append("}")
    elif isinstance(value, (list, tuple)):
        out.append("[" if isinstance(value, list) else "(")
        for item in value:
            _encode(item, out)
        out.append("]")
    else:
        raise TypeError(f"cannot encode {type(value).__name__}")


def _star(n, seed, scale=1.0):
    rng = np.random.default_rng(seed)
    phi = np.sort(rng.uniform(0, 2 * math.pi, n))
    radius = scale * rng.uniform(0.5, 1.5, n)
    return np.column_stack([radius * np.cos(phi) + 3.0, radius * np.sin(phi) - 1.0])


def _defect_grid(ny, nx, sign):
    rows, cols = np.mgrid[0:ny, 0:nx].astype(float)
    theta = sign * 0.5 * np.arctan2(rows - ny / 2 + 0.3, cols - nx / 2 + 0.2)
    return np.ascontiguousarray(np.mod(theta, math.pi).ravel())


def _mask():
    mask = np.zeros((40, 50), np.int32)
    rows, cols = np.mgrid[0:40, 0:50]
    mask[((rows - 10) / 6) ** 2 + ((cols - 12) / 3) ** 2 <= 1] = 3
    mask[((rows - 25) / 4) ** 2 + ((cols - 35) / 9) ** 2 <= 1] = 1
    mask[((rows - 30) + (cols - 10)) ** 2 / 40 + ((rows - 30) - (cols - 10)) ** 2 / 8 <= 1] = 7
    mask[0, 49] = 9
    return mask


def cases():
    """(name, call) pairs; each call is made once and its outcome encoded."""
    rng = np.random.default_rng(1234)
    image = rng.random((150, 203))
    small = rng.random((9, 7))
    thetas = rng.uniform(0, math.pi, 31 * 23)
    points = rng.uniform(0, 10, (300, 2))
    values_a = rng.normal(0.0, 1.0, 60)
    values_b = rng.normal(0.3, 1.0, 45)
    square = np.array([[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0]])
    stars = [_star(n, s) for n, s in [(64, 1), (7, 2), (200, 3), (3, 4)]]
    complex_ = (
        [(i, float(i % 3)) for i in range(6)],
        [(0, 1, 1.0), (1, 2, 1.5), (2, 0, 2.0), (2, 3, 2.0), (3, 4, 2.5), (4, 5, 3.0),
         (5, 3, 3.0), (1, 3, 3.5)],
        [(0, 1, 2, 4.0), (3, 4, 5, 5.0)],
    )
    yield from [
        ("shape-star", lambda: [nt.analyze_shape(s) for s in stars]),
        ("shape-square", lambda: nt.analyze_shape(square)),
        ("shape-fortran", lambda: nt.analyze_shape(np.asfortranarray(stars[0]))),
        ("shape-collinear", lambda: nt.analyze_shape(np.array([[0.0, 0], [1, 1], [2, 2]]))),
        ("shape-nan", lambda: nt.analyze_shape(np.array([[0.0, 0], [1, np.nan], [2, 0]]))),
        ("shape-two", lambda: nt.analyze_shape(square[:2])),
        ("shape-three-columns", lambda: nt.analyze_shape(np.zeros((5, 3)))),
        ("shape-int", lambda: nt.analyze_shape(np.zeros((5, 2), np.int64))),
        ("shape-empty", lambda: nt.analyze_shape(np.zeros((0, 2)))),
        ("batch-list", lambda: nt.analyze_shapes_batch(stars)),
        ("batch-3d", lambda: nt.analyze_shapes_batch(np.stack([_star(16, s) for s in range(5)]))),
        ("batch-bad", lambda: nt.analyze_shapes_batch([square, np.zeros((3, 2))])),
        ("batch-not-seq", lambda: nt.analyze_shapes_batch(5)),
        ("st-image", lambda: nt.compute_structure_tensor(image, 2.0)),
        ("st-sigma-small", lambda: nt.compute_structure_tensor(image, 0.7)),
        ("st-fortran", lambda: nt.compute_structure_tensor(np.asfortranarray(image), 1.3)),
        ("st-reversed", lambda: nt.compute_structure_tensor(image[::-2, ::3], 1.0)),
        ("st-small", lambda: nt.compute_structure_tensor(small, 3.0)),
        *[(f"st-sigma-{name}", lambda s=s: nt.compute_structure_tensor(small, s))
          for name, s in [("zero", 0.0), ("neg", -1.0), ("nan", math.nan), ("inf", math.inf)]],
        ("st-no-columns", lambda: nt.compute_structure_tensor(np.zeros((5, 0)), 1.0)),
        ("st-no-rows", lambda: nt.compute_structure_tensor(np.zeros((0, 5)), 1.0)),
        ("st-1d", lambda: nt.compute_structure_tensor(np.zeros(5), 1.0)),
        ("st-int", lambda: nt.compute_structure_tensor(np.zeros((5, 5), np.int32), 1.0)),
        ("st-constant", lambda: nt.compute_structure_tensor(np.ones((20, 30)), 1.0)),
        ("ms-image", lambda: nt.compute_multiscale_structure_tensor(image[:80, :90], [1, 2.5, 4])),
        ("ms-empty-sigmas", lambda: nt.compute_multiscale_structure_tensor(small, [])),
        ("ms-str", lambda: nt.compute_multiscale_structure_tensor(small, "ab")),
        ("ms-bad-sigma", lambda: nt.compute_multiscale_structure_tensor(small, [1.0, -2.0])),
        ("ellipses", lambda: nt.fit_nuclear_ellipses(_mask())),
        ("ellipses-empty", lambda: nt.fit_nuclear_ellipses(np.zeros((4, 4), np.int32))),
        ("ellipses-negative", lambda: nt.fit_nuclear_ellipses(-_mask())),
        ("ellipses-float", lambda: nt.fit_nuclear_ellipses(np.zeros((4, 4)))),
        ("defects-random", lambda: nt.detect_defects(thetas, 23, 31, 2, 0.5)),
        ("defects-plus", lambda: nt.detect_defects(_defect_grid(16, 20, 1), 16, 20, 2, 1.0)),
        ("defects-minus", lambda: nt.detect_defects(_defect_grid(16, 20, -1), 16, 20, 2, 1.0)),
        ("defects-k1", lambda: nt.detect_defects(thetas, 31, 23, 1, 0.5)),
        ("defects-k6", lambda: nt.detect_defects(thetas, 31, 23, 6, 0.1)),
        ("defects-k0", lambda: nt.detect_defects(thetas, 31, 23, 0, 0.1)),
        ("defects-steps", lambda: nt.detect_defects(
            np.array([0.0, math.pi / 2, math.pi / 4, 3 * math.pi / 4]), 2, 2, 2, 0.1)),
        ("defects-length", lambda: nt.detect_defects(np.zeros(5), 2, 2, 2, 0.5)),
        ("defects-zero", lambda: nt.detect_defects(np.zeros(0), 0, 2, 2, 0.5)),
        ("defects-wrap", lambda: nt.detect_defects(np.zeros(4), 2**63 + 2, 2, 2, 0.5)),
        ("defects-neg-k", lambda: nt.detect_defects(np.zeros(4), 2, 2, -1, 0.5)),
        ("ph", lambda: nt.validate_poincare_hopf([0.5, -0.5, 0.5, 1 / 3], 1, 0.2)),
        ("ph-false", lambda: nt.validate_poincare_hopf([0.5], 2, 0.1)),
        ("ph-str", lambda: nt.validate_poincare_hopf("ab", 0, 1.0)),
        ("ph-big-chi", lambda: nt.validate_poincare_hopf([], 2**31, 1.0)),
        ("persistence", lambda: nt.compute_persistence(*complex_)),
        ("persistence-nan", lambda: nt.compute_persistence([(0, 0.0), (1, float("nan"))], [], [])),
        ("persistence-cycle", lambda: nt.compute_persistence(
            [(0, 0.0), (1, 0.0)], [(1, 1, 1.0), (0, 1, 2.0)], [])),
        ("persistence-missing-face", lambda: nt.compute_persistence(
            [(0, 0.0)], [(0, 5, 1.0)], [])),
        ("persistence-long", lambda: nt.compute_persistence([(0, 0.0, 1.0)], [], [])),
        ("persistence-int", lambda: nt.compute_persistence([], [], 5)),
        ("corr", lambda: nt.orientational_correlation(points, thetas[:300], 2, 5.0, 17)),
        ("corr-k6", lambda: nt.orientational_correlation(points, thetas[:300], 6, 50.0, 3)),
        ("corr-zero-bins", lambda: nt.orientational_correlation(points, thetas[:300], 2, 5.0, 0)),
        ("corr-mismatch", lambda: nt.orientational_correlation(points, thetas[:10], 2, 5.0, 4)),
        ("corr-huge-bins", lambda: nt.orientational_correlation(points, thetas[:300], 2, 5.0,
                                                               2**62)),
        ("corr-neg-r", lambda: nt.orientational_correlation(points, thetas[:300], 2, -1.0, 4)),
        ("ripley", lambda: nt.ripley_k(points, [0, 0, 10, 10], np.linspace(0, 3, 13))),
        ("ripley-bbox", lambda: nt.ripley_k(points, [0, 0, 10], np.linspace(0, 3, 4))),
        ("ripley-flat", lambda: nt.ripley_k(points, [0, 0, 0, 10], np.linspace(0, 3, 4))),
        ("ripley-one", lambda: nt.ripley_k(points[:1], [0, 0, 10, 10], np.linspace(0, 3, 4))),
        ("perm", lambda: nt.permutation_test(values_a, values_b, 999, 42)),
        ("perm-seed0", lambda: nt.permutation_test(values_a[:5], values_b[:5], 50, 0)),
        ("perm-huge-seed", lambda: nt.permutation_test(values_a, values_b, 10, 2**64 - 1)),
        ("perm-empty", lambda: nt.permutation_test(np.zeros(0), values_b, 10, 1)),
        ("perm-zero", lambda: nt.permutation_test(values_a, values_b, 0, 1)),
        ("frank", lambda: nt.frank_energy(thetas, 23, 31, 0.5)),
        ("frank-short", lambda: nt.frank_energy(thetas[:10], 23, 31, 0.5)),
        ("frank-dx0", lambda: nt.frank_energy(thetas, 23, 31, 0.0)),
        ("frank-tiny", lambda: nt.frank_energy(thetas[:4], 2, 2, 1.0)),
        ("ldg", lambda: nt.estimate_ldg_params(np.abs(values_a) / 3, 4.5, 0.325)),
        ("ldg-empty", lambda: nt.estimate_ldg_params(np.zeros(0), 4.5, 0.325)),
        ("ldg-zero", lambda: nt.estimate_ldg_params(np.zeros(8), 0.0, 0.0)),
        ("fenwold", lambda: nt.build_fenwold_params(1.5, -2.25, 0.1, 3e-7, 12.5, 1e21, 4, 1e4)),
        ("fenwold-odd", lambda: nt.build_fenwold_params(float("nan"), float("inf"), -0.0,
                                                        5e-324, 1 / 3, 1e-7, 2**60, 0.1)),
        ("bind-extra", lambda: nt.compute_structure_tensor(small, 2.0, 3.0)),
        ("bind-missing", lambda: nt.ripley_k()),
        ("bind-keyword", lambda: nt.build_fenwold_params(1, 2, 3, 4, splay=5, bend=6,
                                                         n_defects=1, image_area_um2=2.0)),
        ("bind-unknown", lambda: nt.frank_energy(thetas, 23, 31, dy=1.0)),
        ("bind-twice", lambda: nt.compute_structure_tensor(small, 2.0, sigma=1.0)),
        ("bind-float-int", lambda: nt.frank_energy(thetas, 23.0, 31, 1.0)),
    ]


def outcome(call) -> str:
    out: list = []
    try:
        _encode(call(), out)
    except BaseException as error:  # PanicException derives from BaseException
        if isinstance(error, (KeyboardInterrupt, SystemExit)):
            raise
        out.append(f"!{type(error).__name__}:{error}")
    return "".join(out)


def digests() -> dict:
    return {name: hashlib.sha256(outcome(call).encode()).hexdigest() for name, call in cases()}


def total(per_case: dict) -> str:
    return hashlib.sha256("".join(f"{k}={v};" for k, v in per_case.items()).encode()).hexdigest()


def test_every_result_and_message_unchanged(capfd):
    assert total(digests()) == REFERENCE
    capfd.readouterr()  # the internal failures' diagnostics on stderr


if __name__ == "__main__":
    per_case = digests()
    for name, digest in per_case.items():
        print(name, digest, file=sys.stdout)
    print("total", total(per_case))
