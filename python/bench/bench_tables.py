"""Prints how long the table conversions take: python python/bench/bench_tables.py [--samples N]."""

import argparse
import time

import norq_profile as nq


def timed(label, function, repeat=3):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        result = function()
        best = min(best, time.perf_counter() - start)
    print(f"{label:<52} {best * 1000:9.1f} ms")
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--samples", type=int, default=3_000_000, help="samples of the large profile")
    arguments = parser.parse_args()

    tiles = 1472
    steps = max(1, arguments.samples // tiles)
    profile = timed(f"generate {tiles} tiles x {steps} samples", lambda: nq.generate(tiles, steps), repeat=1)
    total = tiles * steps

    rows = nq.query(profile, group_by="tile", sample_limit=100_000)
    print(f"query rows: {len(rows.samples)} listed samples")
    timed("100,000 listed samples -> pandas", rows.samples.to_pandas)
    timed("100,000 listed samples -> arrow", rows.samples.to_arrow)

    timed(f"flattened {total:,} samples -> arrow", profile.to_arrow, repeat=1)
    timed(f"flattened {total:,} samples -> pandas", profile.to_pandas, repeat=1)


if __name__ == "__main__":
    main()
