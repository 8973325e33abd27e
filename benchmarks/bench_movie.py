"""Defect tracking on synthetic movies with drifting defects: link accuracy and speed.

Run: python benchmarks/bench_movie.py [--movies 3] [--frames 16] [--size 192] [--speed 4.0]

Each movie plants two +-1/2 pairs moving at random constant velocities (up to --speed pixels
per frame, random directions). Reports, against the planted paths: the share of detections
within 8 px of a planted defect of their charge, the share of consecutive-frame links
between such detections that join the same planted defect (target >= 98 %), and the share of
planted defects detected in consecutive frames whose detections were linked; for the default
nearest-velocity linking and for plain nearest-neighbour linking in the same run; and the
frames analysed per second.
"""

from __future__ import annotations

import argparse
import time

import numpy as np

import tazmir
from tazmir.movie import link_defects
from tazmir.synthetic import PlantedDefect, score_links, synthetic_movie


def _plain_links(result):
    """The same defects linked without the velocity predictor (trackpy's nearest neighbour)."""
    import pandas as pd
    import trackpy

    trackpy.quiet()
    table = result.defects_frame()
    out = []
    for sign in (1, -1):
        part = table[np.sign(table["charge"]) == sign].rename(columns={"col_um": "x", "row_um": "y"})
        linked = trackpy.link_df(part, result.search_range_um, memory=result.memory)
        out.append(linked.assign(track=linked["particle"] * 2 + (sign < 0)))
    joined = pd.concat(out)
    return [type("D", (), {"frame": int(r.frame), "track": int(r.track), "row": r.row_px,
                           "col": r.col_px, "charge": r.charge})
            for r in joined.itertuples()]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--movies", type=int, default=3)
    parser.add_argument("--frames", type=int, default=16)
    parser.add_argument("--size", type=int, default=192)
    parser.add_argument("--speed", type=float, default=4.0)
    args = parser.parse_args()
    rng = np.random.default_rng(20261207)
    totals = {"velocity": [], "nearest": []}
    frames_done, seconds = 0, 0.0
    for index in range(args.movies):
        n = args.size
        # Start well inside and move at most a third of the image over the movie.
        speed = rng.uniform(0.3, 1.0, 4) * min(args.speed, 0.35 * n / args.frames)
        heading = rng.uniform(0, 2 * np.pi, 4)
        velocities = list(zip(speed * np.sin(heading), speed * np.cos(heading)))
        centres = [(0.3, 0.3, 0.5), (0.3, 0.7, -0.5), (0.7, 0.7, 0.5), (0.7, 0.3, -0.5)]
        planted = [PlantedDefect(r * n, c * n, q) for r, c, q in centres]
        movie = synthetic_movie(args.frames, n, defects=planted, velocities=velocities,
                                seed=100 + index)
        start = time.perf_counter()
        result = tazmir.analyze_movie(movie.frames, pixel_size_um=movie.pixel_size_um)
        seconds += time.perf_counter() - start
        frames_done += args.frames
        tolerance = 8.0  # px: the localisation tolerance of the detection tests
        velocity = score_links(result.defects, movie, tolerance)
        nearest = score_links(_plain_links(result), movie, tolerance)
        totals["velocity"].append(velocity)
        totals["nearest"].append(nearest)
        print(f"movie {index}: {args.frames} frames {n} x {n} px, speeds "
              f"{', '.join(f'{s:.2f}' for s in speed)} px/frame, search range "
              f"{result.search_range_um:.1f} µm: links correct {velocity['correct_fraction']:.3f} "
              f"(nearest neighbour {nearest['correct_fraction']:.3f}), recall "
              f"{velocity['recall']:.3f}, matched {velocity['matched_fraction']:.3f}")
    for name, scores in totals.items():
        links = sum(s["links"] for s in scores)
        correct = sum(s["links"] * s["correct_fraction"] for s in scores)
        recall = np.mean([s["recall"] for s in scores])
        print(f"{name:>8} linking: {correct / links:.4f} of {links:.0f} links correct "
              f"(target >= 0.98), mean recall {recall:.4f}")
    print(f"analysis: {frames_done / seconds:.2f} frames/s ({args.size} x {args.size} px)")


if __name__ == "__main__":
    main()
