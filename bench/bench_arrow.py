#!/usr/bin/env python3
"""Arrow in and out of pelgar_join, and the memory of the streaming command line.

    pip install ".[join]" polars
    python bench/bench_arrow.py [--quick] [--only A1,A2,A3] [--output FILE]

A1: Index from a 1,000,000-row pyarrow string array against the same Index from a list of str:
    time (medians, taking turns) and tracemalloc's peak of Python allocations for each.
A2: fuzzy_join of polars frames, 1,000,000 left rows against 100,000 right rows: the whole call,
    the native matching inside it (Index building and top_k, timed around the native calls),
    and the share of everything else (target: at most 10 %).
A3: pelgar-join on a Parquet LEFT of 200,000 and of 2,000,000 rows against the same RIGHT: each
    run's peak resident memory (VmHWM, in the process itself) and their ratio (target: at most 1.3).
"""

import argparse
import json
import os
import statistics
import sys
import tempfile
import time
import tracemalloc

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import names  # noqa: E402
from bench import cpu_facts  # noqa: E402
from peak_rss import pelgar_join_peak_kib  # noqa: E402

import pyarrow as pa  # noqa: E402

import pelgar_join as pj  # noqa: E402
from pelgar_join import _native  # noqa: E402

SIZES = {"full": {"a1_rows": 1_000_000, "left": 1_000_000, "right": 100_000,
                  "cli_rows": (200_000, 2_000_000), "cli_right": 2_000},
         "quick": {"a1_rows": 100_000, "left": 20_000, "right": 10_000,
                   "cli_rows": (20_000, 200_000), "cli_right": 500}}
TARGETS = {"A2_share": 0.10, "A3_ratio": 1.3}
def timed(fn):
    start = time.perf_counter()
    value = fn()
    return time.perf_counter() - start, value


def traced_peak(fn):
    tracemalloc.start()
    try:
        fn()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def bench_index(rows, repeat):
    texts = names.queries(names.names(50_000, seed=31), rows, seed=32)
    array = pa.array(texts)
    runs = {"list": [], "arrow": []}
    for _ in range(repeat):  # taking turns, so that a change of load hits both alike
        runs["list"].append(timed(lambda: pj.Index(texts))[0])
        runs["arrow"].append(timed(lambda: pj.Index(array))[0])
    peaks = {"list": traced_peak(lambda: pj.Index(texts)), "arrow": traced_peak(lambda: pj.Index(array))}
    medians = {kind: statistics.median(samples) for kind, samples in runs.items()}
    return {"rows": rows, "median_s": medians, "arrow_over_list": medians["arrow"] / medians["list"],
            "tracemalloc_peak_bytes": peaks, "samples_s": runs}


class NativeClock:
    """Time spent inside the native Index building and top_k, summed over the calls made."""

    def __init__(self):
        self.seconds = 0.0
        self.originals = {name: getattr(_native, name) for name in ("index_build", "top_k")}

    def __enter__(self):
        for name, original in self.originals.items():
            setattr(_native, name, self._timing(original))
        return self

    def __exit__(self, *exc):
        for name, original in self.originals.items():
            setattr(_native, name, original)

    def _timing(self, original):
        def call(*args):
            start = time.perf_counter()
            try:
                return original(*args)
            finally:
                self.seconds += time.perf_counter() - start
        return call


def bench_polars_join(size):
    import polars as pl

    right_names = names.names(size["right"], seed=21)
    left_names = names.queries(right_names, size["left"], seed=22)
    right = pl.DataFrame({"name": right_names, "id": range(len(right_names))})
    left = pl.DataFrame({"name": left_names, "ref": [f"q{i}" for i in range(len(left_names))]})
    with NativeClock() as clock:
        total, joined = timed(lambda: pj.fuzzy_join(left, right, "name"))
    # the intake and preparation of the queries alone: top_k over an empty index
    intake, _ = timed(lambda: pj.Index([]).top_k(left.get_column("name"), columnar=True))
    rest = total - clock.seconds
    return {"left": size["left"], "right": size["right"], "rows_out": joined.height, "total_s": total,
            "native_s": clock.seconds, "other_s": rest, "other_share": rest / total,
            "queries_intake_and_keys_s": intake, "target": TARGETS["A2_share"],
            "met": rest / total <= TARGETS["A2_share"]}


def bench_cli_memory(size):
    import pyarrow.parquet as pq

    right_names = names.names(size["cli_right"], seed=41)
    peaks = {}
    with tempfile.TemporaryDirectory() as folder:
        pq.write_table(pa.table({"name": right_names, "id": list(range(len(right_names)))}),
                       os.path.join(folder, "right.parquet"))
        for rows in size["cli_rows"]:
            left_names = names.queries(right_names, rows, seed=42)
            pq.write_table(pa.table({"name": left_names, "ref": [f"row {i}" for i in range(rows)]}),
                           os.path.join(folder, f"left{rows}.parquet"), row_group_size=100_000)
            del left_names
            arguments = [f"left{rows}.parquet", "right.parquet", "--left-on", "name", "-o", "out.parquet",
                         "--no-progress"]
            seconds, (peak, _) = timed(lambda: pelgar_join_peak_kib(arguments, folder))
            peaks[rows] = {"peak_rss_kib": peak, "seconds": seconds,
                           "rows_out": pq.ParquetFile(os.path.join(folder, "out.parquet")).metadata.num_rows}
    small, large = (peaks[rows]["peak_rss_kib"] for rows in size["cli_rows"])
    return {"right": size["cli_right"], "runs": {str(rows): run for rows, run in peaks.items()},
            "ratio": large / small, "target": TARGETS["A3_ratio"], "met": large / small <= TARGETS["A3_ratio"]}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="smaller sizes, for a smoke run")
    parser.add_argument("--only", default="A1,A2,A3")
    parser.add_argument("--repeat", type=int, default=5, help="runs of A1, whose medians are compared")
    parser.add_argument("--output", default=os.path.join(HERE, "results-arrow.json"))
    args = parser.parse_args()
    size = SIZES["quick" if args.quick else "full"]
    only = set(args.only.split(","))
    results = {"mode": "quick" if args.quick else "full", "sizes": size, "machine": cpu_facts(),
               "cpus": os.cpu_count(), "load": os.getloadavg(),
               "versions": {"pyarrow": pa.__version__, "python": sys.version.split()[0]}}
    if "A1" in only:
        results["A1"] = bench_index(size["a1_rows"], args.repeat)
    if "A2" in only:
        import polars

        results["versions"]["polars"] = polars.__version__
        results["A2"] = bench_polars_join(size)
    if "A3" in only:
        results["A3"] = bench_cli_memory(size)
    results["load_after"] = os.getloadavg()
    print(json.dumps(results, indent=2))
    with open(args.output, "w", encoding="utf-8") as handle:
        json.dump(results, handle, indent=2)


if __name__ == "__main__":
    main()
