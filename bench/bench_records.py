#!/usr/bin/env python3
"""pelgar_join over records of several fields against one field, in one run.

    pip install .
    python bench/bench_records.py [--sizes 100000,300000,1000000] [--queries 5000] [--output FILE]

Data: bench/register.py people(n): name, street address, city (a few hundred, repeating
by a Zipf law) and date of birth, a twentieth of each field but the name missing; queries
are records of the register with a typo in about a third of their fields and a tenth of
their fields (never the name) missing. Weights name 0.4, address 0.3, city 0.1, dob 0.2;
every field scored by "combined". Two workers.

R1: top_k k=1 at threshold 0.85 over the records against the single-field top_k of the
    queries' names over the names, at the same threshold; ratio records / name (medians of
    runs in turn); also apart for the queries whose name is listed and the others.
R2: self_join at 0.9 of the records against the single-field self_join of the names.
R3: clusters at 0.9 of 100,000 records and --placeholders more that hold "N/A" as their
    name, then "N/A", "unknown" and "-" in every field but the city.
Both give, per field, the distinct keys scored against a query (for R1, per query) and
their share of all pairs of query and row, and the rows whose record score was worked out.
Wall seconds and processor seconds of the process (divide by the workers for a quiet host).
"""

import argparse
import json
import os
import random
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import register  # noqa: E402
from bench import machine_facts  # noqa: E402
from bench_join import timed  # noqa: E402

WORKERS = 2
WEIGHTS = {"name": 0.4, "address": 0.3, "city": 0.1, "dob": 0.2}


def timed_cpu(fn):
    cpu = time.process_time()
    seconds, result = timed(fn)
    return seconds, time.process_time() - cpu, result


def columns_of(records):
    return {field: [record[field] for record in records] for field in WEIGHTS}


def r1(people, columns, queries, report, repeat):
    import pelgar_join as pj

    n, q = len(people), len(queries["name"])
    build_records, index = timed(lambda: pj.Index(columns, weights=WEIGHTS))
    build_names, names = timed(lambda: pj.Index(columns["name"]))
    record, single = r1_runs(index, names, queries, repeat)
    (found, (scored, rows)), (single_found, single_scored) = record.pop("result"), single.pop("result")
    # queries whose name is listed find it as their own key first; the others search from scratch
    listed = set(columns["name"])
    by_name = {}
    for kind, keep in (("listed", True), ("typo", False)):
        picked = [at for at, name in enumerate(queries["name"]) if (name in listed) == keep]
        part = {field: [values[at] for at in picked] for field, values in queries.items()}
        kind_record, kind_single = r1_runs(index, names, part, repeat)
        by_name[kind] = {"queries": len(picked), "records_us": kind_record["s"] / len(picked) * 1e6,
                         "name_us": kind_single["s"] / len(picked) * 1e6, "ratio": kind_record["s"] / kind_single["s"]}
    report["R1"].append({
        "rows": n, "queries": q, "build_records_s": build_records, "build_name_s": build_names,
        "records_s": record["s"], "records_cpu_s": record["cpu_s"], "name_s": single["s"], "name_cpu_s": single["cpu_s"],
        "ratio": record["s"] / single["s"], "cpu_ratio": record["cpu_s"] / single["cpu_s"],
        "by_query_name": by_name,
        "matched": sum(1 for row in found if row), "name_matched": sum(1 for row in single_found if row),
        "keys_scored_per_query": dict(zip(WEIGHTS, (s / q for s in scored))),
        "share_of_pairs_scored": dict(zip(WEIGHTS, (s / q / n for s in scored))),
        "rows_scored_per_query": rows / q, "name_keys_scored_per_query": single_scored / q,
        "name_share_of_pairs_scored": single_scored / q / n,
    })
    print("R1", json.dumps(report["R1"][-1]), flush=True)


def r1_runs(index, names, queries, repeat):
    """Median wall and processor seconds of the record top_k and of the name's, taking turns
    `repeat` times after a warm run, and the last result of each."""
    from pelgar_join import _native

    record_args = (index._capsule, index._record.names, index._record.columns(queries, "queries"))
    runs = (lambda: _native.record_top_k(*record_args, 1, 0.85, WORKERS, None),
            lambda: _native.top_k(names._capsule, queries["name"], 1, 0.85, WORKERS, None))
    for run in runs:
        run()  # warm: pool, pages
    samples = ([], [])
    for _ in range(repeat):
        for run, kept in zip(runs, samples):
            kept.append(timed_cpu(run))
    return [{"s": statistics.median(s for s, _, _ in kept), "cpu_s": statistics.median(c for _, c, _ in kept),
             "result": kept[-1][2]} for kept in samples]


def r2(people, columns, report):
    from pelgar_join import _native

    n = len(people)
    record = [tuple(repr(f) for f in WEIGHTS), tuple(columns[f] for f in WEIGHTS), tuple(WEIGHTS.values()),
              (0, 0, 0, 0)]
    seconds, cpu, (pairs, (scored, rows)) = timed_cpu(lambda: _native.record_self_join(*record, 0.9, WORKERS, None))
    single, single_cpu, (single_pairs, single_scored) = timed_cpu(
        lambda: _native.self_join(columns["name"], 0.9, 0, WORKERS, None))
    all_pairs = n * (n - 1) / 2
    report["R2"].append({
        "rows": n, "records_s": seconds, "records_cpu_s": cpu, "name_s": single, "name_cpu_s": single_cpu,
        "ratio": seconds / single, "cpu_ratio": cpu / single_cpu, "pairs": len(pairs), "name_pairs": len(single_pairs),
        "keys_scored": dict(zip(WEIGHTS, scored)), "share_of_pairs_scored": dict(zip(WEIGHTS, (s / all_pairs for s in scored))),
        "rows_scored": rows, "name_pairs_settled": single_scored, "name_share_settled": single_scored / all_pairs,
    })
    print("R2", json.dumps(report["R2"][-1]), flush=True)


def r3(placeholders, report):
    """clusters of 100,000 register records and `placeholders` more whose name is "N/A"
    (their other fields from the register), then whose every field but the city is a placeholder."""
    import resource

    import pelgar_join as pj

    people = register.people(100_000 + placeholders, seed=3)
    for kind, blank in [("name", {"name": "N/A"}), ("every field", {"name": "N/A", "address": "unknown", "dob": "-"})]:
        rows = people[:100_000] + [{**person, **blank} for person in people[100_000:]]
        columns = columns_of(rows)
        seconds, cpu, labels = timed_cpu(lambda: pj.clusters(columns, 0.9, weights=WEIGHTS, workers=WORKERS))
        report["R3"].append({"rows": len(rows), "placeholders": placeholders, "placeholder_in": kind, "seconds": seconds,
                             "cpu_s": cpu, "clusters": len(set(labels)),
                             "peak_rss_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024})
        print("R3", json.dumps(report["R3"][-1]), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="100000,300000,1000000")
    parser.add_argument("--self-join-sizes", default=None, help="default: --sizes; 0 for none")
    parser.add_argument("--queries", type=int, default=5000)
    parser.add_argument("--repeat", type=int, default=5, help="R1 runs in turn, whose medians are compared")
    parser.add_argument("--placeholders", type=int, default=200_000, help="R3; 0 for none")
    parser.add_argument("--output", default=os.path.join(HERE, "results-records.json"))
    args = parser.parse_args()
    import pelgar

    report = {"machine": machine_facts(pelgar), "workers": WORKERS, "weights": WEIGHTS, "R1": [], "R2": [], "R3": []}
    sizes = [int(s) for s in args.sizes.split(",") if int(s) > 0]
    join_sizes = [int(s) for s in (args.self_join_sizes or args.sizes).split(",") if int(s) > 0]
    for n in sorted(set(sizes) | set(join_sizes)):
        people = register.people(n, seed=1)
        columns = columns_of(people)
        if n in sizes:
            rng = random.Random(f"record-queries-{n}")
            queries = columns_of([register.typo_record(rng.choice(people), rng) for _ in range(args.queries)])
            r1(people, columns, queries, report, args.repeat)
        if n in join_sizes:
            r2(people, columns, report)
    if args.placeholders:
        r3(args.placeholders, report)
    report["machine"]["load_average_end"] = list(os.getloadavg())
    with open(args.output, "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1)


if __name__ == "__main__":
    main()
