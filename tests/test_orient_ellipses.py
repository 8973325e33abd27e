"""fit_nuclear_ellipses: moments of known shapes, label order, layouts, refusals."""

import math

import numpy as np
import pytest

import _native
import _orient_reference as ref

KEYS = [
    "label",
    "aspect_ratio",
    "angle",
    "semi_major",
    "semi_minor",
    "centroid_row",
    "centroid_col",
]
REFUSED = "argument 'nuclear_mask': '{}' object cannot be converted to 'PyArray<T, D>'"


def mask_of(shape, blocks):
    """blocks: {label: (row slice, col slice) or list of (row, col)}"""
    mask = np.zeros(shape, dtype=np.int32)
    for label, where in blocks.items():
        if isinstance(where, list):
            for r, c in where:
                mask[r, c] = label
        else:
            mask[where] = label
    return mask


def test_keys_in_order_and_types():
    [fit] = _native.fit_nuclear_ellipses(mask_of((5, 5), {4: (slice(0, 3), slice(0, 2))}))
    assert list(fit) == KEYS
    assert type(fit["label"]) is int and fit["label"] == 4
    assert all(type(fit[k]) is float for k in KEYS[1:])


@pytest.mark.parametrize(
    "mask",
    [
        np.zeros((4, 4), np.int32),
        np.full((3, 3), -2, np.int32),
        np.zeros((0, 5), np.int32),
        np.zeros((5, 0), np.int32),
    ],
    ids=["zeros", "negative", "no-rows", "no-columns"],
)
def test_nothing_to_fit(mask):
    assert _native.fit_nuclear_ellipses(mask) == []


def test_l_shape():
    [fit] = _native.fit_nuclear_ellipses(mask_of((3, 3), {1: [(0, 0), (0, 1), (1, 0)]}))
    assert fit["angle"] == pytest.approx(3 * math.pi / 4, abs=1e-15)
    assert fit["semi_major"] == pytest.approx(2 * math.sqrt(1 / 3), abs=1e-15)
    assert fit["semi_minor"] == pytest.approx(2 * math.sqrt(1 / 9), abs=1e-15)
    assert (fit["centroid_row"], fit["centroid_col"]) == (1 / 3, 1 / 3)


@pytest.mark.parametrize(
    ("rows", "cols", "angle"),
    [(2, 10, math.pi / 2), (10, 2, 0.0)],
    ids=["wide", "tall"],
)
def test_rectangles(rows, cols, angle):
    block = (slice(1, 1 + rows), slice(1, 1 + cols))
    [fit] = _native.fit_nuclear_ellipses(mask_of((12, 12), {3: block}))
    assert fit["angle"] == angle
    assert fit["semi_major"] == 2 * math.sqrt(8.25)
    assert fit["semi_minor"] == 1.0
    assert fit["aspect_ratio"] == fit["semi_major"] / fit["semi_minor"]


def test_square_block_and_integer_centroid():
    [fit] = _native.fit_nuclear_ellipses(mask_of((30, 30), {9: (slice(10, 13), slice(20, 23))}))
    assert fit["angle"] == 0.0
    assert fit["aspect_ratio"] == 1.0
    assert fit["semi_major"] == fit["semi_minor"] == 2 * math.sqrt(2 / 3)
    assert (fit["centroid_row"], fit["centroid_col"]) == (11.0, 21.0)
    [wide] = _native.fit_nuclear_ellipses(mask_of((30, 30), {9: (slice(10, 13), slice(20, 25))}))
    assert (wide["centroid_row"], wide["centroid_col"]) == (11.0, 22.0)


@pytest.mark.parametrize(
    "pixels",
    [
        [(0, 0)],
        [(0, 0), (0, 1)],
        [(2, c) for c in range(6)],
        [(r, 3) for r in range(6)],
        [(i, i) for i in range(6)],
    ],
    ids=["one", "two", "horizontal-bar", "vertical-bar", "diagonal"],
)
def test_small_and_degenerate_labels_are_left_out(pixels):
    mask = mask_of((8, 8), {5: pixels, 6: (slice(6, 8), slice(5, 8))})
    assert [fit["label"] for fit in _native.fit_nuclear_ellipses(mask)] == [6]


def test_labels_come_out_ascending():
    blocks = {
        7: (slice(0, 2), slice(0, 3)),
        2: (slice(3, 5), slice(0, 3)),
        5: (slice(6, 9), slice(6, 8)),
    }
    mask = mask_of((9, 9), blocks)
    assert [fit["label"] for fit in _native.fit_nuclear_ellipses(mask)] == [2, 5, 7]


def test_split_label_is_one_pixel_set():
    mask = mask_of((10, 20), {1: (slice(0, 2), slice(0, 2))})
    mask[8:10, 18:20] = 1
    [fit] = _native.fit_nuclear_ellipses(mask)
    assert (fit["centroid_row"], fit["centroid_col"]) == (4.5, 9.5)


def reference_fits(mask):
    pixels = {}
    for r in range(mask.shape[0]):
        for c in range(mask.shape[1]):
            if mask[r, c] >= 1:
                pixels.setdefault(int(mask[r, c]), []).append((r, c))
    fits = []
    for label in sorted(pixels):
        fit = ref.ellipse(pixels[label])
        if fit is not None:
            fits.append({"label": label, **dict(zip(KEYS[1:], fit))})
    return fits


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_random_masks_match_the_stated_arithmetic(seed):
    rng = np.random.default_rng(seed)
    mask = rng.integers(-2, 40, size=(45, 38)).astype(np.int32)
    mask[rng.random(mask.shape) < 0.3] = 0
    mask[10:20, 5:30] = 2**31 - 1  # the largest label
    assert _native.fit_nuclear_ellipses(mask) == reference_fits(mask)


@pytest.mark.parametrize(
    "view",
    [lambda m: m.T, lambda m: m[::-1, ::2], lambda m: np.asfortranarray(m)],
    ids=["transposed", "reversed-and-stepped", "fortran"],
)
def test_strided_masks_are_read_as_their_logical_rows(view):
    rng = np.random.default_rng(3)
    mask = rng.integers(0, 6, size=(20, 26)).astype(np.int32)
    strided = view(mask)
    assert _native.fit_nuclear_ellipses(strided) == _native.fit_nuclear_ellipses(strided.copy())


@pytest.mark.parametrize(
    ("mask", "message"),
    [
        (np.zeros((3, 3), np.int64), REFUSED.format("ndarray")),
        (np.zeros((3, 3)), REFUSED.format("ndarray")),
        (np.zeros(3, np.int32), REFUSED.format("ndarray")),
        ([[1, 1]], REFUSED.format("list")),
    ],
    ids=["int64", "float", "one-dimensional", "list"],
)
def test_refused_masks(mask, message):
    with pytest.raises(TypeError) as info:
        _native.fit_nuclear_ellipses(mask)
    assert str(info.value) == message


def test_mask_is_not_written():
    mask = mask_of((6, 6), {1: (slice(0, 3), slice(0, 3))})
    before = mask.copy()
    _native.fit_nuclear_ellipses(mask)
    np.testing.assert_array_equal(mask, before)
