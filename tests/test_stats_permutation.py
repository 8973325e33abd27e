"""permutation_test: the seeded generator, the worked examples and the add-one p-value."""

import math

import numpy as np
import pytest

import _native
import _stats_reference as ref


def run(a, b, n_permutations, seed):
    return _native.permutation_test(
        np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64), n_permutations, seed
    )


def test_worked_example():
    result = run([1.0, 2.0, 3.0], [4.0, 5.0, 6.0], 10, 42)
    assert list(result) == ["observed", "p_value", "n_permutations"]
    assert result["observed"] == -3.0
    assert result["p_value"] == 3 / 11
    assert type(result["n_permutations"]) is int and result["n_permutations"] == 10


@pytest.mark.parametrize(
    ("seed", "expected"),
    [(42, [7, 3, 9, 5, 0, 8, 6, 4, 2, 1]), (0, [5, 2, 9, 1, 6, 3, 4, 0, 7, 8])],
    ids=["seed42", "seed0"],
)
def test_reference_generator_reproduces_worked_shuffles(seed, expected):
    # Anchors the plain-Python generator that the native results are compared with below.
    values = list(range(10))
    ref.shuffle(values, ref.Generator(seed))
    assert values == expected


def test_reference_block_is_rfc8439_at_twenty_rounds():
    key = [int.from_bytes(bytes(range(4 * w, 4 * w + 4)), "little") for w in range(8)]
    block = ref.chacha_block(key, 0x0900000000000001, 0x4A000000, rounds=20)
    assert block[:4] == [0xE4E7F110, 0x15593BD1, 0x1FDD0F50, 0xC47120A3]
    assert block[12:] == [0xD19C12B5, 0xB94E16DE, 0xE883D0CB, 0x4E3C50A2]


CASES = {
    "equal-sizes": (8, 8, 40, 1),
    "unequal-sizes": (5, 13, 60, 2**64 - 1),
    "one-vs-many": (1, 20, 30, 7),
    "shifted-groups": (12, 9, 50, 123456789),
    # 70 pool elements over 60 shuffles cross several refills of 64 words.
    "many-refills": (40, 30, 60, 99),
}


@pytest.mark.parametrize(("n_a", "n_b", "n_permutations", "seed"), CASES.values(), ids=CASES)
def test_matches_plain_reference_exactly(n_a, n_b, n_permutations, seed):
    rng = np.random.default_rng(n_a * 1000 + n_b)
    a = rng.normal(0.0, 1.0, n_a)
    b = rng.normal(0.4, 1.3, n_b)
    observed, p_value = ref.permutation_test(a, b, n_permutations, seed)
    result = run(a, b, n_permutations, seed)
    assert result["observed"] == observed
    assert result["p_value"] == p_value


def test_zero_permutations():
    result = run([1.0, 2.0], [5.0], 0, 3)
    assert result == {"observed": -3.5, "p_value": 1.0, "n_permutations": 0}


def test_reproducible_and_seed_dependent():
    rng = np.random.default_rng(5)
    a, b = rng.normal(0, 1, 30), rng.normal(0.3, 1, 30)
    first = run(a, b, 500, 17)
    assert run(a, b, 500, 17) == first
    p_values = {run(a, b, 500, seed)["p_value"] for seed in range(6)}
    assert len(p_values) > 1


def test_swapping_groups_negates_observed():
    a, b = [1.0, 4.0, 2.5], [0.5, 3.0]
    assert run(a, b, 20, 1)["observed"] == -run(b, a, 20, 1)["observed"]


@pytest.mark.parametrize(
    ("a", "b"),
    [([], [1.0, 2.0]), ([1.0, 2.0], []), ([], []), ([1.0, math.nan], [2.0, 3.0]), ([3.0], [])],
    ids=["a-empty", "b-empty", "both-empty", "nan-value", "pool-of-one"],
)
def test_nan_statistic_never_counts(a, b):
    result = run(a, b, 9, 4)
    assert math.isnan(result["observed"])
    assert result["p_value"] == 1 / 10


def test_all_values_equal_every_permutation_counts():
    assert run([0.1] * 7, [0.1] * 4, 25, 8)["p_value"] == 1.0


def test_p_value_bounds():
    rng = np.random.default_rng(0)
    a, b = rng.normal(0, 1, 25), rng.normal(5, 1, 25)
    p_value = run(a, b, 99, 0)["p_value"]
    assert p_value == 1 / 100  # groups far apart: no shuffle is as extreme


def test_inputs_are_not_written():
    a = np.array([3.0, 1.0, 2.0])
    b = np.array([9.0, 8.0])
    a_copy, b_copy = a.copy(), b.copy()
    _native.permutation_test(a, b, 50, 1)
    assert np.array_equal(a, a_copy) and np.array_equal(b, b_copy)


def test_accepts_keywords_and_numpy_integers():
    a, b = np.array([1.0, 2.0, 3.0]), np.array([4.0, 5.0, 6.0])
    result = _native.permutation_test(
        values_b=b, values_a=a, seed=np.uint64(42), n_permutations=np.int32(10)
    )
    assert result["p_value"] == 3 / 11


GOOD = np.array([1.0, 2.0])
STRIDED = np.arange(6.0)[::2]


@pytest.mark.parametrize(
    ("args", "error", "message"),
    [
        ((GOOD, GOOD, 1, -1), OverflowError, None),
        ((GOOD, GOOD, 1, 2**64), OverflowError, None),
        ((GOOD, GOOD, -1, 0), OverflowError, None),
        ((GOOD, GOOD, 2.0, 0), TypeError,
         "argument 'n_permutations': 'float' object cannot be interpreted as an integer"),
        ((STRIDED, GOOD, 1, 0), TypeError, "The given array is not contiguous"),
        ((GOOD, STRIDED, 1, 0), TypeError, "The given array is not contiguous"),
        ((GOOD.astype(np.float32), GOOD, 1, 0), TypeError,
         "argument 'values_a': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
        ((GOOD, [1.0], 1, 0), TypeError,
         "argument 'values_b': 'list' object cannot be converted to 'PyArray<T, D>'"),
        ((GOOD, np.zeros((1, 2)), 1, 0), TypeError,
         "argument 'values_b': 'ndarray' object cannot be converted to 'PyArray<T, D>'"),
    ],
    ids=["seed-negative", "seed-too-big", "count-negative", "count-float", "a-strided",
         "b-strided", "a-float32", "b-list", "b-2d"],
)
def test_bad_arguments(args, error, message):
    with pytest.raises(error) as info:
        _native.permutation_test(*args)
    if message is not None:
        assert str(info.value) == message


def test_largest_seed_accepted():
    result = run([1.0], [2.0], 3, 2**64 - 1)
    assert result["p_value"] == 1.0  # two values: every arrangement is as extreme
