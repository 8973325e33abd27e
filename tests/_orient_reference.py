"""Plain NumPy transcriptions of the orientation arithmetic, for bit-for-bit comparisons.

Every operation below is an IEEE operation on float64 in the order the library uses, so the
results must agree to the last bit. Terms outside the image enter as +0.0 products, which
leaves every sum unchanged (a partial sum starting from 0.0 is never -0.0).
"""

import math

import numpy as np

_atan2 = np.frompyfunc(math.atan2, 2, 1)


def scharr(image):
    h, w = image.shape
    gx = np.zeros((h, w))
    gy = np.zeros((h, w))
    if h >= 3 and w >= 3:
        a, t, b = image[:-2, :-2], image[:-2, 1:-1], image[:-2, 2:]
        left, right = image[1:-1, :-2], image[1:-1, 2:]
        e, m, d = image[2:, :-2], image[2:, 1:-1], image[2:, 2:]
        s = (-3.0 * a) + (3.0 * b)
        s = s - 10.0 * left
        s = 10.0 * right + s
        s = s - 3.0 * e
        s = s + 3.0 * d
        gx[1:-1, 1:-1] = s * 0.03125
        s = (-3.0 * a) - 10.0 * t
        s = s - 3.0 * b
        s = 3.0 * e + s
        s = 10.0 * m + s
        s = 3.0 * d + s
        gy[1:-1, 1:-1] = s * 0.03125
    return gx, gy


def radius(sigma):
    reach = math.ceil(4.0 * sigma) if math.isfinite(sigma) else sigma
    return 0 if not reach > 0 else int(reach)


def kernel(sigma):
    r = radius(sigma)
    spread = (sigma + sigma) * sigma
    weights = []
    for k in range(2 * r + 1):
        d = float(k) - float(r)
        weights.append(math.exp(((-d) * d) / spread))
    total = 0.0
    for e in weights:
        total = total + e
    return [e / total for e in weights], r


def _shifted(field, offset, axis):
    """field moved so that out[i] = field[i + offset] along axis, zero outside."""
    out = np.zeros_like(field)
    n = field.shape[axis]
    if abs(offset) >= n:
        return out
    src = [slice(None)] * 2
    dst = [slice(None)] * 2
    if offset >= 0:
        src[axis] = slice(offset, n)
        dst[axis] = slice(0, n - offset)
    else:
        src[axis] = slice(0, n + offset)
        dst[axis] = slice(-offset, n)
    out[tuple(dst)] = field[tuple(src)]
    return out


def blur(field, sigma):
    if sigma < 0.5:
        return field.copy()
    g, r = kernel(sigma)
    across = np.zeros_like(field)
    for k, weight in enumerate(g):
        across = across + weight * _shifted(field, k - r, 1)
    out = np.zeros_like(field)
    for k, weight in enumerate(g):
        out = out + weight * _shifted(across, k - r, 0)
    return out


def eigen(a, b, c):
    d = a - c
    root = np.sqrt((4.0 * b) * b + d * d)
    lambda1 = ((a + c) + root) * 0.5
    lambda2 = ((a + c) - root) * 0.5
    s = lambda1 + lambda2
    with np.errstate(invalid="ignore", divide="ignore"):
        coherence = np.where(s > 1e-15, (lambda1 - lambda2) / np.where(s > 1e-15, s, 1.0), 0.0)
    theta = _atan2(b + b, d).astype(np.float64) * 0.5 + 1.5707963267948966
    theta = np.where(theta < 0.0, theta + math.pi, theta)
    theta = np.where(theta >= math.pi, -math.pi + theta, theta)
    return theta, coherence, lambda1, lambda2


def structure_tensor(image, sigma):
    image = np.asarray(image, dtype=np.float64)
    gx, gy = scharr(image)
    sxx = blur(gx * gx, sigma)
    sxy = blur(gx * gy, sigma)
    syy = blur(gy * gy, sigma)
    with np.errstate(invalid="ignore", over="ignore"):
        return eigen(sxx, sxy, syy)


def ellipse(pixels):
    """Moment ellipse of a list of (row, col) pairs, or None."""
    n = len(pixels)
    if n < 3:
        return None
    sr = 0.0
    sc = 0.0
    for r, c in pixels:
        sr = sr + float(r)
        sc = sc + float(c)
    mr, mc = sr / n, sc / n
    srr = scc = src = 0.0
    for r, c in pixels:
        dr, dc = float(r) - mr, float(c) - mc
        srr = srr + dr * dr
        scc = scc + dc * dc
        src = src + dr * dc
    mu_rr, mu_cc, mu_rc = srr / n, scc / n, src / n
    t, d = mu_rr + mu_cc, mu_rr - mu_cc
    s = math.sqrt(4.0 * mu_rc * mu_rc + d * d)
    l1, l2 = (t + s) / 2.0, (t - s) / 2.0
    lmax, lmin = max(l1, l2), min(l1, l2)
    if lmin < 1e-15:
        return None
    angle = 0.5 * math.atan2(2.0 * mu_rc, mu_rr - mu_cc)
    if angle < 0.0:
        angle += math.pi
    if angle >= math.pi:
        angle -= math.pi
    major, minor = 2.0 * math.sqrt(lmax), 2.0 * math.sqrt(lmin)
    return major / minor, angle, major, minor, mr, mc


def same_bits(a, b):
    """Equal bit patterns (so 0.0 differs from -0.0); any two NaNs count as equal, since
    which NaN an operation passes on depends on operand order, not on the arithmetic."""
    a = np.ascontiguousarray(a, dtype=np.float64)
    b = np.ascontiguousarray(b, dtype=np.float64)
    if a.shape != b.shape:
        return False
    both_nan = np.isnan(a) & np.isnan(b)
    return bool(np.all((a.view(np.int64) == b.view(np.int64)) | both_nan))
