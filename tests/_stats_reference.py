"""Plain-Python statistics written straight from their definitions, for exact comparison.

Python floats are IEEE doubles and `math.cos`, `math.log`, `math.sqrt` are the C library's,
so these loops reproduce the native results to the last bit when they add in the same order.
"""

import math

import numpy as np

U64_MAX = 2**64 - 1


def _div(a, b):
    if b == 0:
        if a == 0 or math.isnan(a):
            return math.nan
        return math.copysign(math.inf, math.copysign(1.0, a) * math.copysign(1.0, b))
    return a / b


def saturating_index(q):
    if not q > 0.0:
        return 0
    if q >= 2.0**64:
        return U64_MAX
    return int(q)


def correlation(centroids, thetas, k, max_r, n_bins):
    """(r_bins, g_values, counts, correlation_length), pairs visited i < j ascending."""
    width = _div(max_r, float(n_bins))
    sums = [0.0] * n_bins
    counts = [0] * n_bins
    n = len(centroids)
    for i in range(n):
        xi, yi = float(centroids[i][0]), float(centroids[i][1])
        for j in range(i + 1, n):
            dx = xi - float(centroids[j][0])
            dy = yi - float(centroids[j][1])
            r = math.sqrt(dx * dx + dy * dy)
            if r >= max_r or r < 1e-15:
                continue
            b = saturating_index(_div(r, width))
            if b >= n_bins:
                continue
            sums[b] += math.cos((float(thetas[i]) - float(thetas[j])) * float(k))
            counts[b] += 1
    r_bins = [(b + 0.5) * width for b in range(n_bins)]
    g_values = [sums[b] / counts[b] if counts[b] else 0.0 for b in range(n_bins)]
    return r_bins, g_values, counts, fit_length(r_bins, g_values, counts)


def fit_length(r_bins, g_values, counts):
    sx = sy = sxx = sxy = n = 0.0
    for x, g, c in zip(r_bins, g_values, counts):
        if not g > 0.01 or c < 5:
            continue
        y = math.log(g)
        sx += x
        sy += y
        sxx += x * x
        sxy += y * x
        n += 1.0
    if n < 2.0:
        return math.inf
    d = n * sxx - sx * sx
    if abs(d) < 1e-15:
        return math.inf
    slope = (n * sxy - sy * sx) / d
    if slope >= 0.0:
        return math.inf
    return -1.0 / slope


def _nan_min(a, b):
    if math.isnan(a):
        return b
    if math.isnan(b):
        return a
    return min(a, b)


def ripley(points, bbox, r_values):
    """(k_values, l_values) by the plain pair-by-distance loop."""
    x_min, y_min, x_max, y_max = (float(v) for v in bbox)
    n = len(points)
    sums = [0.0] * len(r_values)
    for i in range(n):
        xi, yi = float(points[i][0]), float(points[i][1])
        d = _nan_min(xi - x_min, x_max - xi)
        d = _nan_min(d, yi - y_min)
        d = _nan_min(d, y_max - yi)
        for j in range(i + 1, n):
            dx = xi - float(points[j][0])
            dy = yi - float(points[j][1])
            r = math.sqrt(dx * dx + dy * dy)
            if r < 1e-15 or d >= r:
                w = 2.0
            else:
                ratio = d / r
                t = 1.0 / (ratio if ratio > 0.25 else 0.25)
                w = t + t
            for m, rm in enumerate(r_values):
                if rm >= r:
                    sums[m] += w
    area = (y_max - y_min) * (x_max - x_min)
    count = np.float64(n)
    with np.errstate(all="ignore"):
        ks = np.array(sums, dtype=np.float64) * (np.float64(area) / (count * count))
        ls = np.sqrt(ks / np.pi) - np.asarray(r_values, dtype=np.float64)
    return ks, ls


# --- ChaCha12 keystream, PCG32 seeding, index draws and the permutation test ---------------

_MASK = 0xFFFFFFFF


def _rotl(v, c):
    return ((v << c) & _MASK) | (v >> (32 - c))


def _quarter(s, a, b, c, d):
    s[a] = (s[a] + s[b]) & _MASK; s[d] = _rotl(s[d] ^ s[a], 16)
    s[c] = (s[c] + s[d]) & _MASK; s[b] = _rotl(s[b] ^ s[c], 12)
    s[a] = (s[a] + s[b]) & _MASK; s[d] = _rotl(s[d] ^ s[a], 8)
    s[c] = (s[c] + s[d]) & _MASK; s[b] = _rotl(s[b] ^ s[c], 7)


def chacha_block(key, counter, nonce=0, rounds=12):
    state = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574, *key,
             counter & _MASK, counter >> 32, nonce & _MASK, nonce >> 32]
    x = list(state)
    for _ in range(rounds // 2):
        _quarter(x, 0, 4, 8, 12); _quarter(x, 1, 5, 9, 13)
        _quarter(x, 2, 6, 10, 14); _quarter(x, 3, 7, 11, 15)
        _quarter(x, 0, 5, 10, 15); _quarter(x, 1, 6, 11, 12)
        _quarter(x, 2, 7, 8, 13); _quarter(x, 3, 4, 9, 14)
    return [(a + b) & _MASK for a, b in zip(x, state)]


def pcg32_key(seed):
    key, s = [], seed
    for _ in range(8):
        s = (s * 6364136223846793005 + 11634580027462260723) % 2**64
        x = (((s >> 18) ^ s) >> 27) & _MASK
        rot = s >> 59
        key.append(((x >> rot) | (x << ((32 - rot) % 32))) & _MASK)
    return key


class Generator:
    """The keystream of seed_from_u64(seed), one 32-bit word at a time."""

    def __init__(self, seed):
        self.key = pcg32_key(seed)
        self.block = 0
        self.words = []

    def next_u32(self):
        if not self.words:
            self.words = chacha_block(self.key, self.block % 2**64)
            self.block += 1
        return self.words.pop(0)

    def index(self, s):
        assert 1 <= s <= _MASK
        zone = ((s << (32 - s.bit_length())) - 1) & _MASK
        while True:
            m = self.next_u32() * s
            if m & _MASK <= zone:
                return m >> 32


def shuffle(values, generator):
    for i in range(len(values) - 1, 0, -1):
        j = generator.index(i + 1)
        values[i], values[j] = values[j], values[i]


def _sum(values):
    total = -0.0
    for v in values:
        total += v
    return total


def permutation_test(values_a, values_b, n_permutations, seed):
    """(observed, p_value) with the pool never restored between shuffles."""
    a, b = [float(v) for v in values_a], [float(v) for v in values_b]
    observed = _div(_sum(a), float(len(a))) - _div(_sum(b), float(len(b)))
    pool = a + b
    generator = Generator(seed)
    count = 0
    for _ in range(n_permutations):
        shuffle(pool, generator)
        perm_a = _div(_sum(pool[: len(a)]), float(len(a)))
        perm_b = _div(_sum(pool[len(a):]), float(len(b)))
        if abs(perm_a - perm_b) >= abs(observed):
            count += 1
    return observed, (count + 1) / (n_permutations + 1)
