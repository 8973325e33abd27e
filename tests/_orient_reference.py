"""A plain NumPy transcription of the structure-tensor arithmetic, for bit-for-bit checks.

Every operation is an IEEE float64 operation in the library's order. Terms outside the image
enter as +0.0 products, which leaves every sum unchanged (a sum started at 0.0 is never -0.0).
"""

import math

import numpy as np

_atan2 = np.frompyfunc(math.atan2, 2, 1)


def scharr(image):
    gx, gy = np.zeros(image.shape), np.zeros(image.shape)
    if min(image.shape) >= 3:
        a, t, b = image[:-2, :-2], image[:-2, 1:-1], image[:-2, 2:]
        left, right = image[1:-1, :-2], image[1:-1, 2:]
        e, m, d = image[2:, :-2], image[2:, 1:-1], image[2:, 2:]
        s = 10.0 * right + (((-3.0 * a) + (3.0 * b)) - 10.0 * left)
        gx[1:-1, 1:-1] = ((s - 3.0 * e) + 3.0 * d) * 0.03125
        s = ((-3.0 * a) - 10.0 * t) - 3.0 * b
        gy[1:-1, 1:-1] = (3.0 * d + (10.0 * m + (3.0 * e + s))) * 0.03125
    return gx, gy


def blur(field, sigma):
    if sigma < 0.5:
        return field.copy()
    r = math.ceil(4.0 * sigma) if sigma > 0 else 0  # a NaN scale has one (NaN) weight
    e = [math.exp(((-d) * d) / ((sigma + sigma) * sigma)) for d in np.arange(-r, r + 1.0)]
    total = np.cumsum(e)[-1]  # added one after another, in increasing k
    for axis in (1, 0):  # along each row, then along each column
        n = field.shape[axis]
        padded = np.pad(field, [(r, r) if a == axis else (0, 0) for a in (0, 1)])
        out = np.zeros(field.shape)
        for k, x in enumerate(e):
            out = out + (x / total) * np.take(padded, np.arange(k, k + n), axis=axis)
        field = out
    return field


def structure_tensor(image, sigma):
    """theta and coherence, as the library computes them."""
    gx, gy = scharr(image)
    with np.errstate(invalid="ignore", over="ignore", divide="ignore"):
        a, b, c = (blur(p, sigma) for p in (gx * gx, gx * gy, gy * gy))
        d = a - c
        root = np.sqrt((4.0 * b) * b + d * d)
        lambda1, lambda2 = ((a + c) + root) * 0.5, ((a + c) - root) * 0.5
        s = lambda1 + lambda2
        coherence = np.where(s > 1e-15, (lambda1 - lambda2) / s, 0.0)
        theta = _atan2(b + b, d).astype(np.float64) * 0.5 + 1.5707963267948966
        theta = np.where(theta < 0.0, theta + math.pi, theta)
        return np.where(theta >= math.pi, -math.pi + theta, theta), coherence


def same_bits(a, b):
    """Equal bit patterns (0.0 differs from -0.0); any two NaNs count as equal, since which
    NaN an operation passes on depends on operand order, not on the arithmetic."""
    a, b = np.ascontiguousarray(a, np.float64), np.ascontiguousarray(b, np.float64)
    nan = np.isnan(a) & np.isnan(b) if a.shape == b.shape else False
    return a.shape == b.shape and bool(np.all((a.view(np.int64) == b.view(np.int64)) | nan))
