"""compute_multiscale_structure_tensor: per-scale results, optimal scale, keys, failures."""

import math

import numpy as np
import pytest

import _native
import _orient_reference as ref


def random_image(shape, seed=0):
    return np.random.default_rng(seed).uniform(-1.0, 2.0, size=shape)


def test_keys_in_order_and_types():
    result = _native.compute_multiscale_structure_tensor(random_image((9, 8)), [1, 2])
    assert list(result) == ["sigmas", "optimal_sigma", "max_coherence", "scale_results"]
    assert result["sigmas"] == [1.0, 2.0]
    assert all(type(s) is float for s in result["sigmas"])
    assert [list(d) for d in result["scale_results"]] == [["sigma", "theta", "coherence"]] * 2
    assert result["scale_results"][0]["sigma"] == 1.0
    for array in (result["optimal_sigma"], result["max_coherence"]):
        assert array.shape == (9, 8) and array.dtype == np.float64 and array.flags.c_contiguous


@pytest.mark.parametrize("sigmas", [[0.3, 1.0, 2.5], [2.0, 2.0, 0.7], [4.0]], ids=str)
def test_each_scale_is_the_single_scale_result(sigmas):
    image = random_image((37, 29), seed=2)
    result = _native.compute_multiscale_structure_tensor(image, sigmas)
    coherences = []
    for sigma, scale in zip(sigmas, result["scale_results"]):
        single = _native.compute_structure_tensor(image, sigma)
        assert scale["sigma"] == sigma
        assert ref.same_bits(scale["theta"], single["theta"])
        assert ref.same_bits(scale["coherence"], single["coherence"])
        coherences.append(single["coherence"])
    # first scale with the strictly greatest coherence
    stacked = np.stack(coherences)
    winner = np.argmax(stacked, axis=0)
    assert ref.same_bits(result["optimal_sigma"], np.asarray(sigmas)[winner])
    assert ref.same_bits(result["max_coherence"], np.max(stacked, axis=0))


def test_constant_image_keeps_the_first_scale():
    result = _native.compute_multiscale_structure_tensor(np.ones((6, 7)), [2.0, 1.0])
    assert np.all(result["optimal_sigma"] == 2.0)
    assert np.all(result["max_coherence"] == 0.0)


def test_repeated_scales_tie_to_the_first():
    result = _native.compute_multiscale_structure_tensor(random_image((10, 10)), [1.0, 1.0])
    assert np.all(result["optimal_sigma"] == 1.0)


def test_a_nan_scale_can_win_with_its_zero_coherence():
    image = random_image((8, 8))
    # NaN sigma gives NaN tensor sums, hence coherence 0.0, which beats -1.0; a later scale
    # wins only where its coherence is strictly greater
    result = _native.compute_multiscale_structure_tensor(image, [float("nan"), 1.0])
    single = _native.compute_structure_tensor(image, 1.0)["coherence"]
    np.testing.assert_array_equal(result["optimal_sigma"], np.where(single > 0.0, 1.0, np.nan))
    assert ref.same_bits(result["max_coherence"], np.maximum(single, 0.0))


@pytest.mark.parametrize(
    "sigmas",
    [(1.0, 2.0), np.array([1.0, 2.0]), [1, 2]],
    ids=["tuple", "ndarray", "ints"],
)
def test_sequence_kinds_agree(sigmas):
    image = random_image((11, 13), seed=5)
    expected = _native.compute_multiscale_structure_tensor(image, [1.0, 2.0])
    got = _native.compute_multiscale_structure_tensor(image, sigmas)
    assert got["sigmas"] == [1.0, 2.0]
    assert ref.same_bits(got["optimal_sigma"], expected["optimal_sigma"])
    assert ref.same_bits(got["scale_results"][1]["theta"], expected["scale_results"][1]["theta"])


@pytest.mark.parametrize("shape", [(5, 6), (1, 1), (3, 40), (4, 0)], ids=str)
def test_no_scales_fill_the_maps_with_the_no_winner_values(shape):
    result = _native.compute_multiscale_structure_tensor(random_image(shape), [])
    assert result["sigmas"] == []
    assert result["scale_results"] == []
    assert result["optimal_sigma"].shape == shape
    assert np.all(result["optimal_sigma"] == 0.0)
    assert result["max_coherence"].shape == shape
    assert np.all(result["max_coherence"] == -1.0)


def test_no_scales_and_no_rows():
    result = _native.compute_multiscale_structure_tensor(np.zeros((0, 3)), [])
    assert result["optimal_sigma"].shape == (0, 0)


def test_zero_rows_give_empty_arrays():
    result = _native.compute_multiscale_structure_tensor(np.zeros((0, 5)), [1.0, 2.0])
    assert result["optimal_sigma"].shape == (0, 0)
    assert [d["theta"].shape for d in result["scale_results"]] == [(0, 0), (0, 0)]


def test_zero_columns_cannot_be_chunked():
    with pytest.raises(_native.PanicException) as info:
        _native.compute_multiscale_structure_tensor(np.zeros((4, 0)), [1.0])
    assert str(info.value) == "chunk_size must not be zero"


@pytest.mark.parametrize(
    ("sigmas", "kind", "message"),
    [
        ("12", TypeError, "argument 'sigmas': Can't extract `str` to `Vec`"),
        (3.0, TypeError, "argument 'sigmas': 'float' object cannot be converted to 'Sequence'"),
        ([1.0, "x"], TypeError, "argument 'sigmas': must be real number, not str"),
    ],
    ids=["str", "not-a-sequence", "bad-item"],
)
def test_refused_sigmas(sigmas, kind, message):
    with pytest.raises(kind) as info:
        _native.compute_multiscale_structure_tensor(np.zeros((3, 3)), sigmas)
    assert str(info.value) == message


def test_enormous_sigma_among_scales_is_an_internal_failure():
    with pytest.raises(_native.PanicException):
        _native.compute_multiscale_structure_tensor(np.ones((5, 5)), [1.0, math.inf])
