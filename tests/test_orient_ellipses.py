"""fit_nuclear_ellipses: moments of known shapes, label order, degenerate labels."""

import math

import numpy as np
import pytest

import _native

KEYS = "label aspect_ratio angle semi_major semi_minor centroid_row centroid_col".split()


def mask_of(shape, blocks):
    """blocks: {label: (row slice, col slice) or list of (row, col)}"""
    mask = np.zeros(shape, dtype=np.int32)
    for label, where in blocks.items():
        mask[tuple(zip(*where)) if isinstance(where, list) else where] = label
    return mask


@pytest.mark.parametrize(
    ("where", "angle", "major", "minor", "centroid"),
    [
        ([(0, 0), (0, 1), (1, 0)], 3 * math.pi / 4, 2 * math.sqrt(1 / 3), 2 / 3, (1 / 3, 1 / 3)),
        ((slice(1, 3), slice(1, 11)), math.pi / 2, 2 * math.sqrt(8.25), 1.0, (1.5, 5.5)),
        ((slice(1, 11), slice(1, 3)), 0.0, 2 * math.sqrt(8.25), 1.0, (5.5, 1.5)),
        ((slice(10, 13), slice(20, 23)), 0.0, 2 * math.sqrt(2 / 3), 2 * math.sqrt(2 / 3),
         (11.0, 21.0)),
        ((slice(10, 13), slice(20, 25)), math.pi / 2, 2 * math.sqrt(2.0), 2 * math.sqrt(2 / 3),
         (11.0, 22.0)),
    ],
    ids=["L-shape", "wide-2x10", "tall-10x2", "square-3x3", "block-3x5"],
)
def test_moments_of_known_shapes(where, angle, major, minor, centroid):
    [fit] = _native.fit_nuclear_ellipses(mask_of((30, 30), {9: where}))
    assert list(fit) == KEYS and type(fit["label"]) is int and fit["label"] == 9
    assert all(type(fit[k]) is float for k in KEYS[1:])
    expected = [major / minor, angle, major, minor, *centroid]
    assert [fit[k] for k in KEYS[1:]] == pytest.approx(expected, rel=1e-15, abs=1e-15)


DEGENERATE = {  # label 5's pixels: too few, or on one line
    "one": [(0, 0)], "two": [(0, 0), (0, 1)], "horizontal-bar": [(2, c) for c in range(6)],
    "vertical-bar": [(r, 3) for r in range(6)], "diagonal": [(i, i) for i in range(6)],
}


@pytest.mark.parametrize(
    ("mask", "labels"),
    [(np.zeros((4, 4), np.int32), []), (np.full((3, 3), -2, np.int32), []),
     (np.zeros((0, 5), np.int32), []), (np.zeros((5, 0), np.int32), [])]
    + [(mask_of((8, 8), {5: pixels, 6: (slice(6, 8), slice(5, 8))}), [6])
       for pixels in DEGENERATE.values()],
    ids=["zeros", "negative", "no-rows", "no-columns", *DEGENERATE],
)
def test_background_small_and_degenerate_labels_are_left_out(mask, labels):
    assert [fit["label"] for fit in _native.fit_nuclear_ellipses(mask)] == labels


def test_labels_ascend_and_a_split_label_is_one_pixel_set():
    mask = mask_of((20, 20), {7: (slice(0, 2), slice(0, 3)), 2: (slice(3, 5), slice(0, 3)),
                              5: (slice(6, 9), slice(6, 8))})
    mask[18:20, 18:20] = 7
    fits = _native.fit_nuclear_ellipses(mask)
    assert [fit["label"] for fit in fits] == [2, 5, 7]
    assert (fits[2]["centroid_row"], fits[2]["centroid_col"]) == (77 / 10, 80 / 10)  # 6 + 4


@pytest.mark.parametrize("seed", [0, 1])
def test_random_masks_match_the_moment_formula(seed):
    rng = np.random.default_rng(seed)
    mask = rng.integers(-2, 40, size=(45, 38)).astype(np.int32)
    mask[10:20, 5:30] = 2**31 - 1  # the largest label
    fits = _native.fit_nuclear_ellipses(mask)
    labels = sorted({int(v) for v in mask.flat if v >= 1})
    assert [fit["label"] for fit in fits] == labels  # none degenerate here
    for fit in fits:
        rows, cols = np.nonzero(mask == fit["label"])
        eigen, vectors = np.linalg.eigh(np.cov(rows, cols, bias=True))  # population moments
        direction = math.atan2(vectors[1, 1], vectors[0, 1])  # long axis: (row, col) parts
        assert abs(math.remainder(fit["angle"] - direction, math.pi)) < 1e-9
        expected = [*(2 * np.sqrt(eigen[::-1])), rows.mean(), cols.mean()]
        assert [fit[k] for k in KEYS[3:]] == pytest.approx(expected, rel=1e-12)
