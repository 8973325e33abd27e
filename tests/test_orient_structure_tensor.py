"""compute_structure_tensor: exact values, known orientations, layouts, failures, threads."""

import math
import os
import subprocess
import sys

import numpy as np
import pytest

import _native
import _orient_reference as ref

PanicException = _native.PanicException


def random_image(shape, seed=0):
    return np.random.default_rng(seed).uniform(-1.0, 2.0, size=shape)


@pytest.mark.parametrize(
    ("shape", "sigma"),
    [
        ((1, 1), 1.0),
        ((2, 5), 2.0),
        ((5, 2), 0.0),
        ((3, 3), 0.5),
        ((9, 14), 0.49),
        ((16, 23), 1.0),
        ((40, 33), 2.0),
        ((57, 12), 3.2),
        ((12, 60), 9.0),
        ((70, 45), 1.7),
        ((20, 20), -1.0),
    ],
    ids=lambda v: "x".join(map(str, v)) if isinstance(v, tuple) else f"sigma={v}",
)
def test_every_bit_matches_the_stated_arithmetic(shape, sigma):
    image = random_image(shape, seed=shape[0] * 100 + shape[1])
    result = _native.compute_structure_tensor(image, sigma)
    theta, coherence, _, _ = ref.structure_tensor(image, sigma)
    assert ref.same_bits(result["theta"], theta)
    assert ref.same_bits(result["coherence"], coherence)


def test_result_is_a_dict_of_new_c_contiguous_arrays():
    image = random_image((6, 7))
    before = image.copy()
    result = _native.compute_structure_tensor(image, 1.0)
    assert list(result) == ["theta", "coherence"]
    for array in result.values():
        assert array.dtype == np.float64
        assert array.shape == (6, 7)
        assert array.flags.c_contiguous and array.flags.writeable
    assert ref.same_bits(image, before)
    theta = result.pop("theta")
    del result
    theta[0, 0] = 5.0  # the array owns its memory beyond the dict's life
    assert theta[0, 0] == 5.0 and 0.0 <= theta[1, 1] < math.pi


@pytest.mark.parametrize("sigma", [0.2, 1.0, 4.0])
def test_constant_image_is_isotropic(sigma):
    result = _native.compute_structure_tensor(np.full((12, 9), 3.5), sigma)
    assert np.all(result["theta"] == 1.5707963267948966)
    assert np.all(result["coherence"] == 0.0)


def test_one_pixel_image():
    result = _native.compute_structure_tensor(np.array([[7.0]]), 2.0)
    assert result["theta"].tolist() == [[1.5707963267948966]]
    assert result["coherence"].tolist() == [[0.0]]


@pytest.mark.parametrize(
    ("axis", "expected"),
    [(1, math.pi / 2), (0, 0.0)],
    ids=["vertical-stripes", "horizontal-stripes"],
)
def test_stripes_along_an_axis(axis, expected):
    index = np.indices((30, 30))[axis]
    image = np.sin(index * 0.7)
    result = _native.compute_structure_tensor(image, 1.5)
    inner = (slice(8, -8), slice(8, -8))
    assert np.all(result["theta"][inner] == expected)
    np.testing.assert_allclose(result["coherence"][inner], 1.0, rtol=0, atol=1e-12)


def test_anti_diagonal_stripes_point_at_three_quarters_pi():
    r, c = np.indices((30, 30))
    result = _native.compute_structure_tensor(np.cos((r + c) * 0.5), 2.0)
    inner = (slice(10, -10), slice(10, -10))
    np.testing.assert_allclose(result["theta"][inner], 3 * math.pi / 4, rtol=0, atol=1e-12)


@pytest.mark.parametrize("degrees", [10.0, 35.0, 80.0, 125.0, 160.0])
def test_rotated_stripes_give_their_angle(degrees):
    phi = math.radians(degrees)  # direction of the stripes, from the column axis to the row axis
    r, c = np.indices((96, 96)).astype(float)
    # intensity varies across the stripes only
    image = np.sin(0.6 * (-c * math.sin(phi) + r * math.cos(phi)))
    result = _native.compute_structure_tensor(image, 3.0)
    inner = (slice(20, -20), slice(20, -20))
    theta = result["theta"][inner]
    error = np.angle(np.exp(2j * (theta - phi))) / 2  # difference of undirected angles
    assert np.max(np.abs(error)) < 0.02
    assert np.min(result["coherence"][inner]) > 0.9


def test_small_sigma_gives_rank_one_tensors():
    image = random_image((15, 15), seed=3)
    result = _native.compute_structure_tensor(image, 0.3)
    gx, gy = ref.scharr(image)
    inner = (slice(1, -1), slice(1, -1))
    np.testing.assert_allclose(result["coherence"][inner], 1.0, atol=1e-12)
    turned = np.mod(np.arctan2(gy, gx)[inner] + math.pi / 2, math.pi)
    error = np.angle(np.exp(2j * (result["theta"][inner] - turned))) / 2
    assert np.max(np.abs(error)) < 1e-9


@pytest.mark.parametrize(
    "view",
    [
        lambda a: np.asfortranarray(a),
        lambda a: a.T.copy().T,
        lambda a: np.lib.stride_tricks.as_strided(a[::-1, ::-1], a.shape, a[::-1, ::-1].strides),
    ],
    ids=["fortran", "transposed-copy", "negative-strides"],
)
def test_layouts_equal_their_c_ordered_copies(view):
    image = random_image((21, 17), seed=9)
    strided = view(image)
    expected = _native.compute_structure_tensor(np.ascontiguousarray(strided), 2.0)
    got = _native.compute_structure_tensor(strided, 2.0)
    assert ref.same_bits(got["theta"], expected["theta"])
    assert ref.same_bits(got["coherence"], expected["coherence"])


def test_read_only_and_misaligned_arrays():
    image = random_image((19, 23), seed=11)
    expected = _native.compute_structure_tensor(image, 1.5)
    frozen = image.copy()
    frozen.flags.writeable = False
    raw = bytearray(image.nbytes + 1)
    misaligned = np.frombuffer(raw, dtype=np.float64, count=image.size, offset=1)
    misaligned = misaligned.reshape(image.shape)
    misaligned[...] = image
    assert not misaligned.flags.aligned
    for view in (frozen, misaligned):
        got = _native.compute_structure_tensor(view, 1.5)
        assert ref.same_bits(got["theta"], expected["theta"])
        assert ref.same_bits(got["coherence"], expected["coherence"])


def test_sliced_input():
    big = random_image((40, 50), seed=4)
    view = big[3:30:2, 40:5:-3]
    got = _native.compute_structure_tensor(view, 1.0)
    expected = _native.compute_structure_tensor(view.copy(), 1.0)
    assert ref.same_bits(got["theta"], expected["theta"])


def test_sigma_as_int_and_keyword():
    image = random_image((10, 11), seed=5)
    as_float = _native.compute_structure_tensor(image, 2.0)
    as_int = _native.compute_structure_tensor(image=image, sigma=2)
    assert ref.same_bits(as_float["theta"], as_int["theta"])


def test_nan_sigma_gives_nan_angles_and_zero_coherence():
    result = _native.compute_structure_tensor(random_image((6, 6)), float("nan"))
    assert np.all(np.isnan(result["theta"]))
    assert np.all(result["coherence"] == 0.0)


def test_non_finite_pixels_stay_local():
    image = random_image((30, 30), seed=6)
    image[15, 15] = np.nan
    result = _native.compute_structure_tensor(image, 1.0)
    assert np.isnan(result["theta"][15, 16])
    assert result["coherence"][15, 16] == 0.0
    assert not np.isnan(result["theta"][2, 2])
    theta, coherence, _, _ = ref.structure_tensor(image, 1.0)
    assert ref.same_bits(result["theta"], theta)


REFUSED = "argument 'image': '{}' object cannot be converted to 'PyArray<T, D>'"


@pytest.mark.parametrize(
    ("image", "message"),
    [
        (np.zeros((3, 3), dtype=np.float32), REFUSED.format("ndarray")),
        (np.zeros(4), REFUSED.format("ndarray")),
        ([[1.0, 2.0]], REFUSED.format("list")),
    ],
    ids=["float32", "one-dimensional", "list"],
)
def test_refused_images(image, message):
    with pytest.raises(TypeError) as info:
        _native.compute_structure_tensor(image, 1.0)
    assert str(info.value) == message


def test_refused_sigma():
    with pytest.raises(TypeError) as info:
        _native.compute_structure_tensor(np.zeros((2, 2)), "2")
    assert str(info.value) == "argument 'sigma': must be real number, not str"


@pytest.mark.parametrize("shape", [(3, 0), (0, 0)])
def test_zero_columns_cannot_be_chunked(shape):
    with pytest.raises(PanicException) as info:
        _native.compute_structure_tensor(np.zeros(shape), 1.0)
    assert str(info.value) == "chunk_size must not be zero"
    assert not isinstance(info.value, Exception)


def test_zero_rows_give_empty_arrays():
    result = _native.compute_structure_tensor(np.zeros((0, 4)), 2.0)
    assert result["theta"].shape == (0, 0)
    assert result["coherence"].shape == (0, 0)


# Under AddressSanitizer an impossible allocation aborts the process instead of failing.
_UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.parametrize(
    "sigma",
    [
        1e300,
        float("inf"),
        pytest.param(1e12, marks=pytest.mark.skipif(_UNDER_ASAN, reason="ASan aborts on it")),
    ],
    ids=["1e300", "inf", "1e12"],
)
def test_enormous_sigma_is_a_clean_internal_failure(sigma):
    with pytest.raises(PanicException):
        _native.compute_structure_tensor(np.ones((4, 4)), sigma)
    # the module keeps working afterwards
    assert _native.compute_structure_tensor(np.ones((2, 2)), 1.0)["coherence"].sum() == 0.0


_THREAD_SCRIPT = """
import hashlib, numpy as np, _native
image = np.random.default_rng(7).normal(size=(301, 257))
h = hashlib.sha256()
for sigma in (0.3, 1.0, 2.0, 5.5, 40.0):
    r = _native.compute_structure_tensor(image, sigma)
    h.update(r["theta"].tobytes()); h.update(r["coherence"].tobytes())
m = _native.compute_multiscale_structure_tensor(image, [1.0, 0.3, 3.0, 2.0, 40.0, 1.0])
h.update(m["optimal_sigma"].tobytes()); h.update(m["max_coherence"].tobytes())
for d in m["scale_results"]:
    h.update(d["theta"].tobytes()); h.update(d["coherence"].tobytes())
print(h.hexdigest())
"""


def test_results_do_not_depend_on_the_thread_count():
    digests = set()
    for threads in ("1", "2", "7"):
        env = dict(os.environ, TAZMIR_NUM_THREADS=threads)
        module_dir = os.path.dirname(_native.__file__)
        env["PYTHONPATH"] = os.pathsep.join([module_dir, env.get("PYTHONPATH", "")])
        out = subprocess.run(
            [sys.executable, "-c", _THREAD_SCRIPT],
            env=env,
            capture_output=True,
            text=True,
            check=True,
        )
        digests.add(out.stdout.strip())
    assert len(digests) == 1


def test_concurrent_python_threads_agree():
    import threading

    image = random_image((120, 90), seed=8)
    expected = _native.compute_structure_tensor(image, 2.0)["theta"]
    barrier = threading.Barrier(4)
    results = []

    def work():
        barrier.wait()
        results.append(_native.compute_structure_tensor(image, 2.0)["theta"])

    workers = [threading.Thread(target=work) for _ in range(4)]
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    assert len(results) == 4 and all(ref.same_bits(r, expected) for r in results)


def test_forked_child_computes_after_the_parent():
    image = random_image((200, 64), seed=10)
    expected = _native.compute_structure_tensor(image, 2.0)["theta"]  # the pool now exists
    pid = os.fork()
    if pid == 0:  # child: a fresh pool must be built, the parent's workers do not exist here
        ok = ref.same_bits(_native.compute_structure_tensor(image, 2.0)["theta"], expected)
        os._exit(0 if ok else 1)
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
