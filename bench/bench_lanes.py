#!/usr/bin/env python3
"""The grouped kernel's cost per pair for each lane width and each instruction set this
processor runs, from the C++ program bench/cpp/lane_cost.cpp.

    python bench/bench_lanes.py [--milliseconds N] [--runs N] [--output FILE]

Builds the program (Release, into build/bench) with CMake, runs it `runs` times and keeps
the fastest figure of each build, width and length: one query against full blocks of
near-duplicates of it, scored where they lie as a batch scores them, timed in the
processor time of the thread. Writes bench/results-lanes.json.
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
BUILD = ROOT / "build" / "bench"
sys.path.insert(0, str(HERE))

from bench import cpu_facts, running_processes  # noqa: E402


def build():
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), *generator, "-DPELGAR_BUILD_MODULE=OFF",
                    "-DPELGAR_BUILD_BENCH=ON", "-DCMAKE_BUILD_TYPE=Release"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "-j", "2", "--target", "lane_cost"], check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "bench" / "cpp" / "lane_cost"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--milliseconds", type=int, default=100, help="time of one measurement")
    parser.add_argument("--runs", type=int, default=5, help="runs of the program; the fastest figure counts")
    parser.add_argument("--output", default=str(HERE / "results-lanes.json"), help="JSON file to write")
    args = parser.parse_args(argv)

    program = build()
    load_start = os.getloadavg()
    best = {}
    for _ in range(args.runs):
        out = subprocess.run([str(program), str(args.milliseconds)], check=True, capture_output=True, text=True)
        for line in out.stdout.splitlines():
            row = json.loads(line)
            key = (row["build"], row["width"], row["length"])
            best[key] = min(best.get(key, float("inf")), row["ns_per_pair"])

    builds = list(dict.fromkeys(k[0] for k in best))
    columns = sorted({(k[1], k[2]) for k in best})
    print("ns a pair on one core (width bits / length of query and candidates)")
    print("build     " + " ".join(f"{w:>3}/{n:<3}" for w, n in columns))
    for b in builds:
        print(f"{b:<9} " + " ".join(f"{best[(b, w, n)]:7.2f}" for w, n in columns))

    report = {
        "machine": dict(cpu_facts(), load_average_start=list(load_start), load_average_end=list(os.getloadavg()),
                        running_processes_end=running_processes()),
        "milliseconds": args.milliseconds, "runs": args.runs,
        "rows": [{"build": b, "width": w, "length": n, "ns_per_pair": v} for (b, w, n), v in best.items()],
    }
    with open(args.output, "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1)
    print(f"wrote {os.path.relpath(args.output)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
