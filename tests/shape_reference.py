"""A literal, slow Python reading of the shape descriptors, and outlines shared by the tests.

Every float operation is written in the documented order with Python floats (IEEE doubles,
no fused multiply-add) and the C library's functions through `math`, so the results are
expected to agree with the native code to the last bit. The W1 eigen-decomposition is
left to NumPy, so elongation and its angle are compared with a tolerance instead.
"""

from __future__ import annotations

import math

import numpy as np


def vertices(xy: np.ndarray) -> list[tuple[float, float]]:
    return [(float(row[0]), float(row[1])) for row in xy]


def area(v: list[tuple[float, float]]) -> float:
    s = 0.0
    for i, (x, y) in enumerate(v):
        xj, yj = v[(i + 1) % len(v)]
        s = s + (x * yj - y * xj)
    return abs(s * 0.5)


def perimeter(v: list[tuple[float, float]]) -> float:
    total = -0.0
    for i, (x, y) in enumerate(v):
        xj, yj = v[(i + 1) % len(v)]
        dx = x - xj
        dy = y - yj
        total = total + math.sqrt(dx * dx + dy * dy)
    return total


def shape_index(v: list[tuple[float, float]]) -> float:
    a = area(v)
    return 0.0 if a < 1e-15 else perimeter(v) / math.sqrt(a)


def convexity(v: list[tuple[float, float]]) -> float:
    """Graham scan as documented; raises ValueError where the native code fails."""
    a = area(v)
    w = list(v)
    p = 0
    for i in range(1, len(w)):
        if w[i][1] < w[p][1] or (w[i][1] == w[p][1] and w[i][0] < w[p][0]):
            p = i
    w[0], w[p] = w[p], w[0]
    px, py = w[0]

    def key(q: tuple[float, float]) -> tuple[float, float]:
        dx = q[0] - px
        dy = q[1] - py
        theta = math.atan2(dy, dx)
        if math.isnan(theta):
            raise ValueError("nan angle")
        return (theta, dx * dx + dy * dy)

    order = [w[0], *sorted(w[1:], key=key)]  # sorted() is stable
    stack: list[tuple[float, float]] = []
    for q in order:
        while len(stack) >= 2:
            bx, by = stack[-1]
            ax, ay = stack[-2]
            cross = (bx - ax) * (q[1] - ay) - (by - ay) * (q[0] - ax)
            if cross > 0:
                break
            stack.pop()
        stack.append(q)
    if len(stack) < 3:
        raise ValueError("collinear")
    h = area(stack)
    return 0.0 if h < 1e-15 else a / h


def _edges(v: list[tuple[float, float]]):
    for i, (x, y) in enumerate(v):
        xj, yj = v[(i + 1) % len(v)]
        ex = xj - x
        ey = yj - y
        yield ex, ey, math.sqrt(ex * ex + ey * ey)


def w1_tensor(v: list[tuple[float, float]]) -> np.ndarray:
    sxx = sxy = syy = 0.0
    for ex, ey, length in _edges(v):
        if length < 1e-15:
            continue
        nx = ey / length
        ny = -ex / length
        sxx = sxx + (length * nx) * nx
        sxy = sxy + (length * nx) * ny
        syy = syy + (length * ny) * ny
    return 0.5 * np.array([[sxx, sxy], [sxy, syy]])


def katic(v: list[tuple[float, float]]) -> list[float]:
    result = []
    for form in (lambda f: f, lambda f: f + f, lambda f: f * 4.0, lambda f: f * 6.0):
        s = c = t = 0.0
        for ex, ey, length in _edges(v):
            if length < 1e-15:
                continue
            k_phi = form(math.atan2(ey, -ex))
            s = s + length * math.sin(k_phi)
            c = c + length * math.cos(k_phi)
            t = t + length
        result.append(math.sqrt(s * s + c * c) / t if t >= 1e-15 else 0.0)
    return result


def fourier(v: list[tuple[float, float]]) -> list[float]:
    n = len(v)
    sx = sy = 0.0
    for x, y in v:
        sx = sx + x
        sy = sy + y
    cx, cy = sx / n, sy / n
    forms = (
        lambda f: f * 0.0,
        lambda f: f,
        lambda f: f + f,
        lambda f: f * 3.0,
        lambda f: f * 4.0,
        lambda f: f * 6.0,
    )
    moduli = []
    for form in forms:
        re = im = 0.0
        for x, y in v:
            dx = x - cx
            dy = y - cy
            r = math.sqrt(dx * dx + dy * dy)
            m_phi = form(math.atan2(dy, dx))
            re = re + r * math.cos(m_phi)
            im = im - r * math.sin(m_phi)
        re, im = re / n, im / n
        moduli.append(math.sqrt(re * re + im * im))
    if moduli[0] < 1e-15:
        return [0.0] * 5
    return [m / moduli[0] for m in moduli[1:]]


# ---------------------------------------------------------------------------------------
# Outlines and comparisons shared by the shape tests

KEYS = [
    "area",
    "perimeter",
    "elongation",
    "elongation_angle",
    "shape_index",
    "convexity",
    "shape_katic",
    "fourier_spectrum",
]
SCALARS = KEYS[:6]
COLLINEAR = "called `Result::unwrap()` on an `Err` value: ContourTooShort { n: 2, min: 3 }"
NAN_ANGLE = "called `Option::unwrap()` on a `None` value"

UNIT_SQUARE = [[0, 0], [1, 0], [1, 1], [0, 1]]
L_HEXAGON = [(0, 0), (2, 0), (2, 1), (1, 1), (1, 2), (0, 2)]


def regular_polygon(n: int, radius: float = 1.0, phase: float = 0.0) -> np.ndarray:
    t = phase + 2.0 * np.pi * np.arange(n) / n
    return np.column_stack([radius * np.cos(t), radius * np.sin(t)])


def assert_same_result(a: dict, b: dict) -> None:
    """Equal keys in equal order and equal values to the bit (NaN equal to NaN)."""
    assert list(a) == list(b)
    for key in SCALARS:
        assert a[key] == b[key] or (math.isnan(a[key]) and math.isnan(b[key])), key
    for key in ("shape_katic", "fourier_spectrum"):
        np.testing.assert_array_equal(a[key], b[key])
