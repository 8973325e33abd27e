"""Orientation field against scikit-image, measured in one run on this machine.

Usage (scikit-image and the built module on the path):
    PYTHONPATH=build/dev /tmp/bench-orient/bin/python benchmarks/bench_orient.py [--quick]

Prints, for compute_structure_tensor (sigma 2, 2048^2 and 4096^2), the time with the default
thread count, with 1 and 2 threads, the peak extra memory, and the ratio to scikit-image's
structure_tensor + structure_tensor_eigenvalues + NumPy angle and coherence; the multiscale
call over scales [1, 2, 3, 4] relative to one scale; and fit_nuclear_ellipses against
measure.regionprops. Each tazmir measurement runs in a fresh child process so that the
worker pool size (TAZMIR_NUM_THREADS) and the peak resident memory are its own.
"""

import argparse
import json
import os
import subprocess
import sys
import time

# Idle OpenBLAS threads spin for a while after start-up and would take processor time from
# both sides; nothing measured here uses BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402


def best_of(repeats, fn):
    """Best wall time of `repeats` calls (other users of the machine only ever add time)."""
    return timed(repeats, fn)[0]


def timed(repeats, fn):
    """(best wall time, best processor time of all threads) over `repeats` calls."""
    walls, cpus = [], []
    for _ in range(repeats):
        cpu = time.process_time()
        start = time.perf_counter()
        fn()
        walls.append(time.perf_counter() - start)
        cpus.append(time.process_time() - cpu)
    return min(walls), min(cpus)


def test_image(n):
    rng = np.random.default_rng(0)
    r, c = np.indices((n, n), dtype=np.float64)
    # oriented texture plus noise: realistic work for the eigen-analysis
    return np.sin(0.05 * r + 0.08 * c) + 0.3 * rng.standard_normal((n, n))


def nuclear_mask(n=2048, count=4000, seed=0):
    rng = np.random.default_rng(seed)
    mask = np.zeros((n, n), dtype=np.int32)
    labels = rng.permutation(count) + 1
    for label in labels:
        a, b = rng.uniform(6, 14), rng.uniform(4, 9)
        phi = rng.uniform(0, np.pi)
        r0, c0 = rng.uniform(15, n - 15, size=2)
        rr, cc = np.mgrid[int(r0) - 15 : int(r0) + 16, int(c0) - 15 : int(c0) + 16]
        u = (rr - r0) * np.cos(phi) + (cc - c0) * np.sin(phi)
        v = -(rr - r0) * np.sin(phi) + (cc - c0) * np.cos(phi)
        inside = (u / a) ** 2 + (v / b) ** 2 <= 1.0
        mask[rr[inside], cc[inside]] = label
    return mask


# ---- child process: one tazmir measurement -------------------------------------------------

def peak_rss_reset():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def rss_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def child(task, n, repeats):
    import _native

    if task == "ellipses":
        mask = nuclear_mask()
        _native.fit_nuclear_ellipses(mask)
        seconds, cpu = timed(repeats, lambda: _native.fit_nuclear_ellipses(mask))
        return {"seconds": seconds, "cpu": cpu, "labels": len(_native.fit_nuclear_ellipses(mask))}
    image = test_image(n)
    if task == "single":
        call = lambda: _native.compute_structure_tensor(image, 2.0)  # noqa: E731
    else:
        scales = [1.0, 2.0, 3.0, 4.0]
        call = lambda: _native.compute_multiscale_structure_tensor(image, scales)  # noqa: E731
    call()  # warm the pool and the allocator
    seconds, cpu = timed(repeats, call)
    # peak extra memory of one call, results included, in image-sized float64 buffers
    base = rss_kib("VmRSS")
    peak_rss_reset()
    result = call()
    extra = (rss_kib("VmHWM") - base) * 1024 / image.nbytes
    del result
    return {"seconds": seconds, "cpu": cpu, "extra_buffers": extra}


def run_child(task, n, repeats, threads=None):
    env = dict(os.environ)
    if threads is not None:
        env["TAZMIR_NUM_THREADS"] = str(threads)
    out = subprocess.run(
        [sys.executable, __file__, "--child", task, str(n), str(repeats)],
        env=env, capture_output=True, text=True, check=True,
    )
    return json.loads(out.stdout)


# ---- peers -----------------------------------------------------------------------------------

def skimage_structure_tensor(image):
    from skimage import feature

    arr, arc, acc = feature.structure_tensor(image, sigma=2.0, order="rc")
    l1, l2 = feature.structure_tensor_eigenvalues([arr, arc, acc])
    theta = 0.5 * np.arctan2(2.0 * arc, acc - arr)
    total = l1 + l2
    coherence = np.where(total > 1e-15, (l1 - l2) / np.where(total > 1e-15, total, 1.0), 0.0)
    return theta, coherence


def skimage_ellipses(mask):
    from skimage import measure

    return [
        (p.label, p.orientation, p.axis_major_length, p.axis_minor_length, p.centroid)
        for p in measure.regionprops(mask)
    ]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="2048^2 only, fewer repeats")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        task, n, repeats = args.child
        print(json.dumps(child(task, int(n), int(repeats))))
        return

    sizes = [2048] if args.quick else [2048, 4096]
    repeats = 3 if args.quick else 5
    rounds = 2 if args.quick else 3
    print(f"cpus: {os.cpu_count()}  load average before: {os.getloadavg()[0]:.2f}")
    print("(wall: best wall-clock time; cpu: best processor time summed over all threads;")
    print(f" the measurements alternate over {rounds} rounds and each keeps its best round)")
    print("compute_structure_tensor, sigma 2")
    for n in sizes:
        image = test_image(n)
        runs = {"peer": [], "default": [], "one": [], "two": []}
        for _ in range(rounds):
            runs["peer"].append(timed(1, lambda: skimage_structure_tensor(image)))
            runs["default"].append(run_child("single", n, repeats))
            runs["one"].append(run_child("single", n, repeats, threads=1))
            runs["two"].append(run_child("single", n, repeats, threads=2))
        peer = min(wall for wall, _ in runs["peer"])
        peer_cpu = min(cpu for _, cpu in runs["peer"])
        default = {
            "seconds": min(r["seconds"] for r in runs["default"]),
            "cpu": min(r["cpu"] for r in runs["default"]),
            "extra_buffers": max(r["extra_buffers"] for r in runs["default"]),
        }
        one = {"seconds": min(r["seconds"] for r in runs["one"])}
        two = {"seconds": min(r["seconds"] for r in runs["two"])}
        ns = default["seconds"] * 1e9 / image.size
        cpu_ns = default["cpu"] * 1e9 / image.size
        print(f"  {n}x{n}: tazmir wall {default['seconds'] * 1e3:7.1f} ms ({ns:5.1f} ns/pixel), "
              f"cpu {default['cpu'] * 1e3:7.1f} ms ({cpu_ns:5.1f} ns/pixel)")
        print(f"    scikit-image wall {peer * 1e3:7.1f} ms, cpu {peer_cpu * 1e3:7.1f} ms -> "
              f"{peer / default['seconds']:5.1f}x faster (wall), "
              f"{peer_cpu / default['cpu']:5.1f}x less processor time")
        print(f"    1 thread wall {one['seconds'] * 1e3:6.1f} ms, "
              f"2 threads wall {two['seconds'] * 1e3:6.1f} ms "
              f"-> {one['seconds'] / two['seconds']:4.2f}x")
        print(f"    peak extra memory {default['extra_buffers']:.1f} image-sized float64 buffers "
              f"(results included; a C-ordered image is read in place)")
    print("compute_multiscale_structure_tensor, scales [1, 2, 3, 4], 2048x2048")
    pairs = [
        (run_child("single", 2048, repeats), run_child("multi", 2048, 2)) for _ in range(rounds)
    ]
    single = {k: min(p[0][k] for p in pairs) for k in ("seconds", "cpu")}
    multi = {k: min(p[1][k] for p in pairs) for k in ("seconds", "cpu")}
    multi["extra_buffers"] = max(p[1]["extra_buffers"] for p in pairs)
    print(f"  wall {multi['seconds'] * 1e3:7.1f} ms = "
          f"{multi['seconds'] / single['seconds']:4.2f}x one scale "
          f"({single['seconds'] * 1e3:.1f} ms); cpu {multi['cpu'] * 1e3:7.1f} ms = "
          f"{multi['cpu'] / single['cpu']:4.2f}x one scale ({single['cpu'] * 1e3:.1f} ms)")
    print(f"  peak extra memory {multi['extra_buffers']:.1f} image buffers "
          f"(ten of them are results)")
    print("fit_nuclear_ellipses, 2048x2048 int32 mask")
    mask = nuclear_mask()
    peer, peer_cpu = timed(2, lambda: skimage_ellipses(mask))
    ours = run_child("ellipses", 2048, repeats)
    print(f"  {ours['labels']} labels: tazmir wall {ours['seconds'] * 1e3:6.1f} ms, "
          f"scikit-image regionprops wall {peer * 1e3:7.1f} ms -> "
          f"{peer / ours['seconds']:5.1f}x faster "
          f"(cpu {peer_cpu / ours['cpu']:5.1f}x)")
    print(f"load average after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
