"""Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and UndefinedBehaviorSanitizer)
and runs each for a fixed time, starting from its committed seed corpus.

usage: python tools/fuzz.py [TARGET ...] [--seconds S] [--max-len N] [--list]

New inputs go to build/fuzz/corpus/TARGET, findings to build/fuzz/findings/. Prints each
target's executions and coverage; exits non-zero if any target found something.
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "fuzz"
SEEDS = ROOT / "fuzz" / "corpus"
COMPILERS = ["clang++-16", "clang++-19", "clang++"]


def targets():
    return sorted(path.stem for path in (ROOT / "fuzz").glob("*_fuzz.cpp"))


def find_compiler():
    for name in [os.environ.get("PELGAR_FUZZ_CXX", ""), *COMPILERS]:
        if name and shutil.which(name):
            return name
    sys.exit("no clang++ found: install Debian's clang-16 and libclang-rt-16-dev (or set PELGAR_FUZZ_CXX)")


def build(names):
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(BUILD), *generator,
                    f"-DCMAKE_CXX_COMPILER={find_compiler()}", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DPELGAR_BUILD_MODULE=OFF", "-DPELGAR_BUILD_FUZZERS=ON",
                    "-DPELGAR_SANITIZE=address,undefined"], check=True, stdout=subprocess.DEVNULL)
    build_targets = [arg for name in names for arg in ("--target", name)]
    subprocess.run(["cmake", "--build", str(BUILD), "-j", "2", *build_targets], check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "fuzz"


def last_int(pattern, text):
    found = re.findall(pattern, text)
    return int(found[-1]) if found else 0


def run(folder, name, seconds, max_len):
    corpus = BUILD / "corpus" / name
    findings = BUILD / "findings"
    corpus.mkdir(parents=True, exist_ok=True)
    findings.mkdir(parents=True, exist_ok=True)
    command = [str(folder / name), f"-max_total_time={seconds}", f"-max_len={max_len}",
               "-print_final_stats=1", f"-artifact_prefix={findings}/{name}-", str(corpus), str(SEEDS / name)]
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    result = subprocess.run(command, capture_output=True, text=True, env=env, timeout=seconds + 600)
    log = result.stderr
    (BUILD / f"{name}.log").write_text(log)
    return {
        "exit": result.returncode,
        "executions": last_int(r"stat::number_of_executed_units: (\d+)", log),
        "coverage": last_int(r"\bcov: (\d+)", log),
        "features": last_int(r"\bft: (\d+)", log),
        "corpus": last_int(r"\bcorp: (\d+)", log),
        "log": log,
    }


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("targets", nargs="*", metavar="TARGET", help="targets to run (default: all)")
    parser.add_argument("--seconds", type=int, default=600, help="run time of each target")
    parser.add_argument("--max-len", type=int, default=1024, help="longest input in bytes")
    parser.add_argument("--list", action="store_true", help="list the targets and exit")
    args = parser.parse_args(argv)

    known = targets()
    if args.list:
        print("\n".join(known))
        return 0
    unknown = [name for name in args.targets if name not in known]
    if unknown:
        parser.error(f"unknown target(s): {', '.join(unknown)}; known: {', '.join(known)}")
    names = args.targets or known

    folder = build(names)
    failed = []
    for name in names:
        start = time.monotonic()
        stats = run(folder, name, args.seconds, args.max_len)
        found = stats["exit"] != 0
        print(f"{name}: {stats['executions']} executions, cov {stats['coverage']}, ft {stats['features']}, "
              f"corpus {stats['corpus']}, {'FINDING' if found else 'no findings'} "
              f"({time.monotonic() - start:.0f} s)", flush=True)
        if found:
            failed.append(name)
            print("\n".join(stats["log"].splitlines()[-40:]), file=sys.stderr)
    if failed:
        print(f"findings in: {', '.join(failed)}; inputs in {BUILD / 'findings'}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
