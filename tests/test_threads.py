"""The worker pool seen from Python: thread-count independence of the core and the package's
kernels, fork safety, and failures."""

import hashlib
import multiprocessing

import numpy as np
import pytest

import _native
from conftest import run_python

DIGEST_SCRIPT = """
import hashlib
import numpy as np
import _native
from tazmir import _kernels
from tazmir.spatial import ripley_k
rng = np.random.default_rng(5)
image = rng.random((97, 131))
out = _native.compute_structure_tensor(image, 2.5)
multi = _native.compute_multiscale_structure_tensor(image, [1.0, 3.0])
theta, weight = rng.uniform(0, np.pi, (515, 263)), rng.random((515, 263))
means = _kernels.nematic_block_means(theta, weight, None, 2)
blurred = _kernels.gaussian_blur_stack(np.ascontiguousarray(np.moveaxis(means, -1, 0)), 2.5)
k = ripley_k(rng.uniform(0, 100, (3000, 2)), (0, 0, 100, 100), np.linspace(1, 9, 9))
digest = hashlib.sha256()
for array in (out["theta"], out["coherence"], multi["optimal_sigma"], multi["max_coherence"],
              means, blurred, k):
    digest.update(np.ascontiguousarray(array).tobytes())
print(digest.hexdigest())
"""


def test_results_do_not_depend_on_the_thread_count():
    # "0" and "many" are not counts: the pool falls back to the processor count.
    results = [run_python(DIGEST_SCRIPT, TAZMIR_NUM_THREADS=threads)
               for threads in ("1", "2", "7", "0", "many")]
    assert all(result.returncode == 0 for result in results), results[0].stderr
    assert len({result.stdout for result in results}) == 1


def _child_digest(seed: int) -> str:
    image = np.random.default_rng(seed).random((64, 80))
    out = _native.compute_structure_tensor(image, 2.0)
    return hashlib.sha256(out["theta"].tobytes() + out["coherence"].tobytes()).hexdigest()


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_child_processes_compute_after_the_parent(method):
    expected = [_child_digest(seed) for seed in range(4)]  # the parent's pool is now running
    context = multiprocessing.get_context(method)
    with context.Pool(2) as pool:
        assert pool.map(_child_digest, range(4)) == expected


def test_internal_failure_is_reported_on_stderr_and_raised():
    result = run_python(
        """
        import numpy as np
        import _native
        try:
            _native.compute_structure_tensor(np.zeros((3, 0)), 1.0)
        except _native.PanicException as error:
            print(repr(error.args))
        """,
        TAZMIR_NUM_THREADS="2",
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "('chunk_size must not be zero',)"
    assert "panicked at src/" in result.stderr
    assert "chunk_size must not be zero" in result.stderr
