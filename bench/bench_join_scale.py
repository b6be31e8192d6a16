#!/usr/bin/env python3
"""pelgar_join at a million rows: the targets of the join core's scale work, in one run.

    pip install . rapidfuzz numpy
    python bench/bench_join_scale.py [--quick] [--output FILE] [--only S1,S3]

Data: bench/register.py, a register of person names from twelve locales (about 72 %
distinct keys), and queries that are one or two typos of a listed name. Two workers.

S1: Index(1,000,000 names).top_k(queries, k=1) at thresholds 0.9, 0.85 and 0.0, timed on
    a sample of queries and given per 1,000,000 queries; keys scored per query, and their
    share of the index's distinct keys. Also at 100,000 names, for the growth; and at 0.85
    and 0.0 for queries that are listed names as they stand (a clean join's).
S2: the same top_k in a child process with MALLOC_TRIM_THRESHOLD_=65536 (as a Dask nanny
    sets it) against one without, taking turns.
S3: self_join at 0.9 of 100,000, 300,000 and 1,000,000 names; at 0.8 and 0.7 of 100,000
    and 300,000; seconds, pairs, pairs of rows settled by a score or by equal keys (their
    share of all pairs), growth exponent of the time.
S4: clusters of 200,000 copies of one text plus 100,000 names at 0.9, in a child process:
    seconds and peak resident memory.
S5: Index memory and build time for 100,000 and 1,000,000 names.
P1: rapidfuzz process.cdist (Jaro-Winkler, default_process, 2 workers) per query against
    the same 1,000,000 names, on a sample (another score: a reference, not a target).
"""

import argparse
import datetime
import json
import math
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import register  # noqa: E402
from bench_join import timed  # noqa: E402

WORKERS = 2
SIZES = {
    "full": {"index": [100_000, 1_000_000], "queries": 20_000, "self_join": [100_000, 300_000, 1_000_000],
             "self_join_low": [100_000, 300_000], "cluster_copies": 200_000, "cluster_names": 100_000,
             "trim_queries": 20_000, "peer_queries": 20},
    "quick": {"index": [20_000, 100_000], "queries": 2_000, "self_join": [20_000, 60_000],
              "self_join_low": [20_000], "cluster_copies": 20_000, "cluster_names": 10_000,
              "trim_queries": 2_000, "peer_queries": 5},
}
TARGETS = {"S1_0.85_s_per_million": 60.0, "S1_0.9_s_per_million": 40.0, "S1_0.0_s_per_million": 500.0,
           "S2_ratio": 1.1, "S3_300000_0.9_s": 6.0, "S3_1000000_0.9_s": 20.0, "S4_s": 30.0, "S4_mb": 1500.0}


def timed_cpu(fn):
    """Wall seconds, processor seconds of every thread of the process, and the result: on a
    shared machine the second, divided by the workers, says what a quiet one would take."""
    cpu = time.process_time()
    seconds, result = timed(fn)
    return seconds, time.process_time() - cpu, result


def s1_s5(sizes, report):
    import pelgar_join as pj
    from pelgar_join import _native

    for n in sizes["index"]:
        names = register.register(n, seed=1)
        queries = register.typo_queries(names, sizes["queries"], seed=2)
        build, index = timed(lambda: pj.Index(names))
        keys = len(set(_native.index_keys(index._capsule)))
        report["S5"].append({"rows": n, "build_s": build, "bytes": sys.getsizeof(index),
                             "bytes_per_row": sys.getsizeof(index) / n, "distinct_keys": keys})
        index.top_k(queries[:100], k=1, workers=WORKERS)
        listed = names[::max(1, n // sizes["queries"])][:sizes["queries"]]
        for kind, asked, threshold in [("typos", queries, t) for t in (0.9, 0.85, 0.0)] + \
                                      [("listed", listed, t) for t in (0.85, 0.0)]:
            seconds, cpu, (found, scored) = timed_cpu(
                lambda: _native.top_k(index._capsule, asked, 1, threshold, WORKERS, None))
            row = {"rows": n, "threshold": threshold, "kind": kind, "queries": len(asked), "seconds": seconds, "cpu_seconds": cpu,
                   "cpu_s_per_million_per_worker": cpu / len(asked) * 1e6 / WORKERS,
                   "s_per_million_queries": seconds / len(asked) * 1e6, "us_per_query": seconds / len(asked) * 1e6,
                   "keys_scored_per_query": scored / len(asked), "scored_share": scored / len(asked) / keys,
                   "found_share": sum(1 for f in found if f) / len(asked)}
            report["S1"].append(row)
            print("  S1 n=%d %s t=%.2f: %.1f us/query, %.0f keys scored" % (
                n, kind, threshold, row["us_per_query"], row["keys_scored_per_query"]), file=sys.stderr)
        del index


TRIM_CHILD = """
import sys, time
sys.path.insert(0, {here!r})
import register, pelgar_join as pj
names = register.register({n}, seed=1)
queries = register.typo_queries(names, {q}, seed=2)
index = pj.Index(names)
index.top_k(queries[:100], k=1, workers=2)
start = time.perf_counter()
index.top_k(queries, k=1, threshold=0.85, workers=2)
print(time.perf_counter() - start)
"""


def s2(sizes, report):
    code = TRIM_CHILD.format(here=HERE, n=sizes["index"][-1], q=sizes["trim_queries"])
    runs = {"plain": [], "trim": []}
    for _ in range(3):
        for kind in ("plain", "trim"):
            env = dict(os.environ)
            env.pop("MALLOC_TRIM_THRESHOLD_", None)
            if kind == "trim":
                env["MALLOC_TRIM_THRESHOLD_"] = "65536"
            done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)
            runs[kind].append(float(done.stdout.split()[-1]))
    plain, trim = sorted(runs["plain"])[1], sorted(runs["trim"])[1]
    report["S2"] = {"plain_s": plain, "trim_s": trim, "ratio": trim / plain, "samples": runs,
                    "target": TARGETS["S2_ratio"]}


def s3(sizes, report):
    from pelgar_join import _native

    for threshold, counts in ((0.9, sizes["self_join"]), (0.8, sizes["self_join_low"]), (0.7, sizes["self_join_low"])):
        for n in counts:
            texts = register.register(n, seed=3)
            seconds, cpu, (pairs, settled) = timed_cpu(lambda: _native.self_join(texts, threshold, 0, WORKERS, None))
            row = {"rows": n, "threshold": threshold, "seconds": seconds, "cpu_seconds": cpu, "pairs": len(pairs),
                   "settled_pairs": settled, "settled_share": settled / (n * (n - 1) / 2)}
            report["S3"].append(row)
            print("  S3 n=%d t=%.2f: %.2f s" % (n, threshold, seconds), file=sys.stderr)
            del pairs
    for row in report["S3"]:
        smaller = [r for r in report["S3"] if r["threshold"] == row["threshold"] and r["rows"] < row["rows"]]
        if smaller:
            prev = smaller[-1]
            row["growth_exponent"] = math.log(row["seconds"] / prev["seconds"]) / math.log(row["rows"] / prev["rows"])


# The peak of this process alone: ru_maxrss keeps the parent's peak across exec on Linux,
# and the bench itself holds millions of pairs by then; VmHWM is the new image's own.
CLUSTER_CHILD = """
import resource, sys, time
sys.path.insert(0, {here!r})
import register, pelgar_join as pj
def peak_mb():
    try:
        with open("/proc/self/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:")) / 1024
    except (OSError, StopIteration):
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
texts = ["unknown"] * {copies} + register.register({names}, seed=4)
start = time.perf_counter()
labels = pj.clusters(texts, 0.9, workers=2)
print(time.perf_counter() - start, peak_mb())
"""


def s4(sizes, report):
    code = CLUSTER_CHILD.format(here=HERE, copies=sizes["cluster_copies"], names=sizes["cluster_names"])
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    seconds, peak = map(float, done.stdout.split())
    report["S4"] = {"copies": sizes["cluster_copies"], "names": sizes["cluster_names"], "seconds": seconds,
                    "peak_rss_mb": peak, "target_s": TARGETS["S4_s"], "target_mb": TARGETS["S4_mb"]}


def p1(sizes, report):
    try:
        from rapidfuzz import process, utils
        from rapidfuzz.distance import JaroWinkler
    except ImportError:
        report["P1"] = {"note": "rapidfuzz not installed"}
        return
    names = register.register(sizes["index"][-1], seed=1)
    queries = register.typo_queries(names, sizes["peer_queries"], seed=2)
    seconds, _ = timed(lambda: process.cdist(queries, names, scorer=JaroWinkler.normalized_similarity,
                                             processor=utils.default_process, workers=WORKERS))
    report["P1"] = {"queries": len(queries), "rows": len(names), "us_per_query": seconds / len(queries) * 1e6}


def print_report(report):
    print("S5 index:")
    for row in report.get("S5", []):
        print("  %9d rows: built in %.2f s, %.1f MB (%.1f bytes a row), %d distinct keys" % (
            row["rows"], row["build_s"], row["bytes"] / 1e6, row["bytes_per_row"], row["distinct_keys"]))
    print("S1 top_k k=1, %d workers:" % WORKERS)
    for row in report.get("S1", []):
        typos = row.get("kind", "typos") == "typos"
        target = TARGETS.get("S1_%s_s_per_million" % row["threshold"]) if row["rows"] >= 1_000_000 and typos else None
        print("  %9d rows %-6s t=%.2f: %8.1f us/query = %7.0f s per 1M queries (processor time / workers: %.0f s)%s"
              " | %.0f keys scored (%.1e of the keys) | %.0f %% found" % (
                  row["rows"], row.get("kind", "typos"), row["threshold"], row["us_per_query"], row["s_per_million_queries"],
                  row["cpu_s_per_million_per_worker"], " (target <= %.0f)" % target if target else "",
                  row["keys_scored_per_query"], row["scored_share"], 100 * row["found_share"]))
    if "S2" in report:
        r = report["S2"]
        print("S2 top_k with MALLOC_TRIM_THRESHOLD_=65536: %.2f s against %.2f s -> %.3f (target <= %.2f)" % (
            r["trim_s"], r["plain_s"], r["ratio"], r["target"]))
    print("S3 self_join, %d workers:" % WORKERS)
    for row in report.get("S3", []):
        print("  %9d rows t=%.2f: %8.2f s (processor time / workers: %.2f s), %10d pairs, %.2e of all pairs"
              " settled%s" % (row["rows"], row["threshold"], row["seconds"], row["cpu_seconds"] / WORKERS, row["pairs"],
                              row["settled_share"],
            ", growth %.2f" % row["growth_exponent"] if "growth_exponent" in row else ""))
    if "S4" in report:
        r = report["S4"]
        print("S4 clusters of %d copies + %d names at 0.9: %.2f s, peak %.0f MB (targets %d s, %d MB)" % (
            r["copies"], r["names"], r["seconds"], r["peak_rss_mb"], r["target_s"], r["target_mb"]))
    if "us_per_query" in report.get("P1", {}):
        print("P1 rapidfuzz cdist JW per query against %d: %.0f us" % (report["P1"]["rows"], report["P1"]["us_per_query"]))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="smaller sizes, a smoke run")
    parser.add_argument("--only", default="S1,S2,S3,S4,P1", help="comma-separated workloads (S5 runs with S1)")
    parser.add_argument("--output", default=os.path.join(HERE, "results-join-scale.json"))
    args = parser.parse_args()
    sizes = SIZES["quick" if args.quick else "full"]
    only = set(args.only.split(","))
    report = {"date": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
              "machine": {"python": platform.python_version(), "cpus": os.cpu_count(), "load": os.getloadavg()},
              "sizes": sizes, "targets": TARGETS, "S1": [], "S3": [], "S5": []}
    steps = {"S1": s1_s5, "S2": s2, "S3": s3, "S4": s4, "P1": p1}
    for name, step in steps.items():
        if name in only:
            step(sizes, report)
            report["machine"]["load_after_" + name] = os.getloadavg()
    print_report(report)
    with open(args.output, "w") as out:
        json.dump(report, out, indent=1)


if __name__ == "__main__":
    main()
