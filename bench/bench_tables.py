#!/usr/bin/env python3
"""The table, file and engine layers of pelgar_join against the matching they wrap.

    pip install ".[join,dask]" rapidfuzz
    python bench/bench_tables.py [--quick] [--skip-dask] [--output FILE]

T1: fuzzy_join against Index + top_k on the same texts (target: at most 1.15 times).
T2: the pelgar-join command line on the same data as CSV files: its total time, and the
    shares of reading, matching and writing (the three steps timed alone in this process, on
    whole tables as Arrow).
T3: pelgar_join.dask.fuzzy_join on a local cluster of two worker processes against the
    in-process fuzzy_join (each warmed once, then medians of runs in turn): both times and the
    overhead; and where the time goes in-process
    (indexing right, pickling and unpickling what a broadcast ships, matching, assembling).
T4: pelgar_join.spark.fuzzy_join in local[2] against the in-process fuzzy_join on half of
    left's rows (10,000 x 100,000 in full), right broadcast and in 4 partitions, the Spark tables
    cached first as the pandas ones are in memory; warmed and timed as T3.
P1: a peer for scale: rapidfuzz's process.extractOne per left row with fuzz.WRatio, on a
    slice of the left rows, scaled to all of them (another score: a reference, not a target).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import names  # noqa: E402
import pandas as pd  # noqa: E402

import pelgar_join as pj  # noqa: E402

SIZES = {"full": {"left": 20_000, "right": 100_000, "peer_rows": 200},
         "quick": {"left": 2_000, "right": 10_000, "peer_rows": 100}}
T1_TARGET = 1.15


def tables(size):
    right_names = names.names(size["right"], seed=21)
    left_names = names.queries(right_names, size["left"], seed=22)
    right = pd.DataFrame({"name": right_names, "id": range(len(right_names))})
    left = pd.DataFrame({"name": left_names, "ref": [f"q{i}" for i in range(len(left_names))]})
    return left, right


def timed(fn):
    start = time.perf_counter()
    value = fn()
    return time.perf_counter() - start, value


def bench_join(left, right, repeat):
    def native():
        return pj.Index(right["name"].tolist()).top_k(left["name"].tolist(), 1)

    # taking turns, so that a change of machine load hits both alike
    top_k_runs, join_runs = [], []
    for _ in range(repeat):
        top_k_runs.append(timed(native)[0])
        seconds, joined = timed(lambda: pj.fuzzy_join(left, right, "name"))
        join_runs.append(seconds)
    top_k_seconds, join_seconds = statistics.median(top_k_runs), statistics.median(join_runs)
    return {"index_top_k_s": top_k_seconds, "fuzzy_join_s": join_seconds,
            "ratio": join_seconds / top_k_seconds, "target": T1_TARGET,
            "met": join_seconds / top_k_seconds <= T1_TARGET, "rows": len(joined),
            "samples": {"index_top_k_s": top_k_runs, "fuzzy_join_s": join_runs}}


def bench_cli(left, right):
    from pelgar_join import files, tables as layer

    with tempfile.TemporaryDirectory() as folder:
        left_path, right_path = os.path.join(folder, "left.csv"), os.path.join(folder, "right.csv")
        out_path = os.path.join(folder, "out.csv")
        left.to_csv(left_path, index=False)
        right.to_csv(right_path, index=False)
        command = [sys.executable, "-m", "pelgar_join", left_path, right_path, "--left-on", "name",
                   "-o", out_path, "--no-progress"]
        total, done = timed(lambda: subprocess.run(command, capture_output=True, text=True))
        if done.returncode != 0:
            raise SystemExit(f"pelgar-join failed: {done.stderr}")
        read_s, frames = timed(lambda: (files.Source(left_path).whole(), files.Source(right_path).whole()))
        match_s, joined = timed(lambda: layer.fuzzy_join(*frames, "name"))

        def write():
            output = files.Output(out_path)
            output.write(joined)
            output.finish()

        write_s, _ = timed(write)
    steps = read_s + match_s + write_s
    return {"command_s": total, "read_s": read_s, "match_s": match_s, "write_s": write_s,
            "shares": {"read": read_s / steps, "match": match_s / steps, "write": write_s / steps},
            "start_and_other_s": total - steps}


def alternating(runs, repeat):
    """Median seconds of each named function, each run once to warm up and then `repeat` times in
    turn, so that a change of machine load hits all alike."""
    for fn in runs.values():
        fn()
    samples = {name: [] for name in runs}
    for _ in range(repeat):
        for name, fn in runs.items():
            samples[name].append(timed(fn)[0])
    return {name: statistics.median(values) for name, values in samples.items()}, samples


def bench_dask(left, right, repeat):
    import dask.dataframe as dd
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster):
        frame = dd.from_pandas(left, npartitions=8)
        parts = dd.from_pandas(right, npartitions=2)
        medians, samples = alternating({
            "in_process_s": lambda: pj.fuzzy_join(left, right, "name"),
            "dask_broadcast_s": lambda: pj.dask.fuzzy_join(frame, right, "name").compute(),
            "dask_partitioned_s": lambda: pj.dask.fuzzy_join(frame, parts, "name", broadcast=False).compute(),
        }, repeat)
    in_process = medians["in_process_s"]
    return {**medians, "left_rows": len(left), "overhead_broadcast": medians["dask_broadcast_s"] / in_process - 1,
            "overhead_partitioned": medians["dask_partitioned_s"] / in_process - 1,
            "ratio_broadcast": medians["dask_broadcast_s"] / in_process,
            "ratio_partitioned": medians["dask_partitioned_s"] / in_process, "samples": samples,
            "in_process_parts": parts_of_join(left, right)}


def parts_of_join(left, right):
    """Seconds of each step of an in-process join, and of shipping the broadcast payload."""
    import pickle

    from pelgar_join._join import join_plan
    from pelgar_join.frames import PandasFrame

    index_s, index = timed(lambda: pj.Index(right["name"].tolist()))
    pickle_s, payload = timed(lambda: pickle.dumps((index, right)))
    unpickle_s, _ = timed(lambda: pickle.loads(payload))
    match_s, plan = timed(lambda: join_plan(index, left["name"].tolist(), 1, "inner", 0.0, None, None))
    assemble_s, _ = timed(lambda: PandasFrame(left).joined(PandasFrame(right), plan, ("_left", "_right")))
    return {"index_s": index_s, "pickle_s": pickle_s, "unpickle_s": unpickle_s, "payload_bytes": len(payload),
            "top_k_s": match_s, "assemble_s": assemble_s}


def bench_spark(left, right, repeat):
    from pyspark.sql import SparkSession

    left = left.iloc[: len(left) // 2]
    spark = (SparkSession.builder.master("local[2]").config("spark.ui.enabled", "false")
             .config("spark.ui.showConsoleProgress", "false")
             .config("spark.sql.execution.arrow.pyspark.enabled", "true").getOrCreate())
    try:
        # both paths start from their tables in memory: Spark's cached, as pandas' are
        left_frame = spark.createDataFrame(left).repartition(8).cache()
        right_one = spark.createDataFrame(right).coalesce(1).cache()
        right_four = spark.createDataFrame(right).repartition(4).cache()
        for frame in (left_frame, right_one, right_four):
            frame.count()
        medians, samples = alternating({
            "in_process_s": lambda: pj.fuzzy_join(left, right, "name"),
            "spark_broadcast_s": lambda: pj.spark.fuzzy_join(left_frame, right_one, "name").count(),
            "spark_partitioned_s": lambda: pj.spark.fuzzy_join(left_frame, right_four, "name").count(),
        }, repeat)
    finally:
        spark.stop()
    in_process = medians["in_process_s"]
    return {**medians, "left_rows": len(left), "ratio_broadcast": medians["spark_broadcast_s"] / in_process,
            "ratio_partitioned": medians["spark_partitioned_s"] / in_process, "samples": samples}


def bench_peer(left, right, rows):
    try:
        from rapidfuzz import fuzz, process
    except ImportError:
        return {"note": "rapidfuzz not installed"}
    queries, choices = left["name"].tolist()[:rows], right["name"].tolist()
    seconds, _ = timed(lambda: [process.extractOne(query, choices, scorer=fuzz.WRatio) for query in queries])
    scaled = seconds * len(left) / rows
    return {"rapidfuzz_extractone_s_scaled": scaled, "rows_timed": rows}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a tenth of the sizes")
    parser.add_argument("--skip-dask", action="store_true")
    parser.add_argument("--skip-spark", action="store_true")
    parser.add_argument("--repeat", type=int, default=3, help="runs of T1, T3 and T4, whose medians are compared")
    parser.add_argument("--left-scale", type=int, default=1,
                        help="left rows times this for T3 and T4 (20: the in-process join takes seconds)")
    parser.add_argument("--output", default=os.path.join(HERE, "results-tables.json"))
    args = parser.parse_args()
    size = SIZES["quick" if args.quick else "full"]
    left, right = tables(size)
    results = {"sizes": size, "load": os.getloadavg(), "cpus": os.cpu_count()}
    results["T1"] = bench_join(left, right, args.repeat)
    results["T2"] = bench_cli(left, right)
    engine_left = left if args.left_scale == 1 else tables({**size, "left": size["left"] * args.left_scale})[0]
    if not args.skip_dask:
        results["T3"] = bench_dask(engine_left, right, args.repeat)
    if not args.skip_spark:
        results["T4"] = bench_spark(engine_left, right, args.repeat)
    results["P1"] = bench_peer(left, right, size["peer_rows"])
    if "rapidfuzz_extractone_s_scaled" in results["P1"]:
        results["P1"]["fuzzy_join_over_peer"] = results["T1"]["fuzzy_join_s"] / results["P1"]["rapidfuzz_extractone_s_scaled"]
    results["load_after"] = os.getloadavg()
    print(json.dumps(results, indent=2))
    with open(args.output, "w", encoding="utf-8") as handle:
        json.dump(results, handle, indent=2)


if __name__ == "__main__":
    main()
