#!/usr/bin/env python3
"""pelgar_join side by side with rapidfuzz (and pelgar itself), in one run.

    pip install . rapidfuzz numpy
    python bench/bench_join.py [--quick] [--output FILE]

J1: Index.top_k(queries, k=5) against process.cdist (Jaro-Winkler, default_process)
    followed by a row-wise top-5 with np.argpartition, both on 2 workers; and against
    a loop of process.extract(q, names, limit=5), timed on a sample of the queries.
J2: a second top_k of one query over an Index of 1,000,000 names against
    pelgar.best_match of that query over the same list.
J3: self_join at thresholds 0.85 and 0.9 on 2 workers for growing n: seconds, pairs,
    the fraction of all pairs that was scored, and the growth exponent of the time.
Also the Index's memory per character and per candidate.
"""

import argparse
import datetime
import gc
import json
import math
import os
import platform
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import names  # noqa: E402

SIZES = {
    "full": {"j1_candidates": 100_000, "j1_queries": 1000, "j1_extract_sample": 40, "j1_repeat": 3,
             "j2_candidates": 1_000_000, "j2_queries": 5, "j3_sizes": [10_000, 30_000, 100_000]},
    "quick": {"j1_candidates": 20_000, "j1_queries": 200, "j1_extract_sample": 10, "j1_repeat": 2,
              "j2_candidates": 100_000, "j2_queries": 3, "j3_sizes": [3_000, 10_000]},
}
TARGETS = {"J1": 0.5, "J2": 0.3, "J3_100k_0.9_seconds": 20.0}
SEED_CANDIDATES = 21
SEED_QUERIES = 22
WORKERS = 2


def timed(fn):
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter()
        result = fn()
        return time.perf_counter() - start, result
    finally:
        gc.enable()


def median_time(fn, repeat):
    return statistics.median(timed(fn)[0] for _ in range(repeat))


def j1(sizes, report):
    import numpy as np
    import pelgar_join as pj
    from rapidfuzz import process, utils
    from rapidfuzz.distance import JaroWinkler

    candidates = names.names(sizes["j1_candidates"], seed=SEED_CANDIDATES)
    queries = names.queries(candidates, sizes["j1_queries"], seed=SEED_QUERIES)
    build, index = timed(lambda: pj.Index(candidates))
    characters = sum(map(len, candidates))
    memory = sys.getsizeof(index)
    report["index"] = {"candidates": len(candidates), "build_seconds": build, "bytes": memory,
                       "bytes_per_candidate": memory / len(candidates),
                       "budget_bytes": 4 * characters + 32 * len(candidates),
                       "mean_characters": characters / len(candidates)}

    def ours():
        return index.top_k(queries, k=5, workers=WORKERS)

    def cdist_top5():
        scores = process.cdist(queries, candidates, scorer=JaroWinkler.normalized_similarity,
                               processor=utils.default_process, workers=WORKERS)
        return np.argpartition(-scores, 5, axis=1)[:, :5]

    sample = queries[:sizes["j1_extract_sample"]]

    def extract_loop():
        return [process.extract(q, candidates, limit=5) for q in sample]

    repeat = sizes["j1_repeat"]
    ours()
    t_ours = median_time(ours, repeat)
    t_cdist = median_time(cdist_top5, repeat)
    t_extract = timed(extract_loop)[0] * len(queries) / len(sample)
    report["J1"] = {"top_k_seconds": t_ours, "cdist_argpartition_seconds": t_cdist,
                    "extract_loop_seconds_scaled": t_extract, "ratio_cdist": t_ours / t_cdist,
                    "ratio_extract": t_ours / t_extract, "target": TARGETS["J1"]}


def j2(sizes, report):
    import pelgar
    import pelgar_join as pj

    candidates = names.names(sizes["j2_candidates"], seed=SEED_CANDIDATES + 1)
    queries = names.queries(candidates, sizes["j2_queries"], seed=SEED_QUERIES + 1)
    index = pj.Index(candidates)
    index.top_k(queries[:1], k=1)  # the first search: pool and caches warm
    ours, theirs = [], []
    for query in queries:
        ours.append(median_time(lambda: index.top_k([query], k=1, workers=WORKERS), 3))
        theirs.append(median_time(lambda: pelgar.best_match(query, candidates), 1))
    report["J2"] = {"candidates": len(candidates), "top_k_seconds": statistics.median(ours),
                    "best_match_seconds": statistics.median(theirs),
                    "ratio": statistics.median(o / t for o, t in zip(ours, theirs)), "target": TARGETS["J2"]}


def j3(sizes, report):
    from pelgar_join import _native

    rows = []
    for threshold in (0.85, 0.9):
        for n in sizes["j3_sizes"]:
            texts = names.names(n, seed=SEED_CANDIDATES + 2)
            seconds, (pairs, scored) = timed(lambda: _native.self_join(texts, threshold, 0, WORKERS, None))
            rows.append({"n": n, "threshold": threshold, "seconds": seconds, "pairs": len(pairs),
                         "scored_fraction": scored / (n * (n - 1) / 2)})
            print("  self_join n=%d t=%.2f: %.2f s" % (n, threshold, seconds), file=sys.stderr)
    for row in rows:
        smaller = [r for r in rows if r["threshold"] == row["threshold"] and r["n"] < row["n"]]
        if smaller:
            prev = smaller[-1]
            row["growth_exponent"] = math.log(row["seconds"] / prev["seconds"]) / math.log(row["n"] / prev["n"])
    report["J3"] = rows


def print_report(report):
    ix = report["index"]
    print("Index: %d candidates of %.1f characters on average, built in %.2f s, %d bytes "
          "(%.1f per candidate; budget %d bytes)" % (ix["candidates"], ix["mean_characters"], ix["build_seconds"],
                                                     ix["bytes"], ix["bytes_per_candidate"], ix["budget_bytes"]))
    r = report["J1"]
    print("J1 top_k k=5: %.3f s | cdist+argpartition %.3f s -> ratio %.3f (target <= %.1f) | "
          "extract loop %.1f s (scaled) -> ratio %.4f" % (r["top_k_seconds"], r["cdist_argpartition_seconds"],
                                                         r["ratio_cdist"], r["target"],
                                                         r["extract_loop_seconds_scaled"], r["ratio_extract"]))
    r = report["J2"]
    print("J2 second top_k over %d: %.4f s | best_match %.3f s -> ratio %.4f (target <= %.1f)" % (
        r["candidates"], r["top_k_seconds"], r["best_match_seconds"], r["ratio"], r["target"]))
    print("J3 self_join, %d workers:" % WORKERS)
    print("  %8s %9s %9s %10s %14s %8s" % ("n", "threshold", "seconds", "pairs", "scored share", "growth"))
    for row in report["J3"]:
        print("  %8d %9.2f %9.2f %10d %14.2e %8s" % (
            row["n"], row["threshold"], row["seconds"], row["pairs"], row["scored_fraction"],
            "%.2f" % row["growth_exponent"] if "growth_exponent" in row else "-"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="smaller sizes, a smoke run")
    parser.add_argument("--output", default=os.path.join(HERE, "results-join.json"))
    args = parser.parse_args()
    sizes = SIZES["quick" if args.quick else "full"]
    report = {"date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
              "machine": {"python": platform.python_version(), "cpus": os.cpu_count(),
                          "load": os.getloadavg()},
              "sizes": sizes}
    j1(sizes, report)
    j2(sizes, report)
    j3(sizes, report)
    report["machine"]["load_after"] = os.getloadavg()
    print_report(report)
    print("load average before %.2f, after %.2f" % (report["machine"]["load"][0], report["machine"]["load_after"][0]))
    with open(args.output, "w") as out:
        json.dump(report, out, indent=1)


if __name__ == "__main__":
    main()
