"""Long differential soaks of the fast kernels against their plain models.

usage: python tools/soak.py [STEP ...] [--pairs N] [--seed S] [--list]

Builds the C++ soak programs (Release, into build/soak) and runs the named steps, all of
them by default, stopping at the first failure. A step is one entry of STEPS.
"""

import argparse
import pathlib
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "soak"

# Step name -> (program in the C++ test folder, its arguments, build); "{pairs}" and
# "{seed}" are filled in from the command line. The "scalar" build has the kernels
# without SIMD, the path that processors without SSE2 take.
STEPS = {
    "jaro_trigram": ("jaro_trigram_soak", ["{pairs}", "{seed}"], "release"),
    "levenshtein": ("levenshtein_soak", ["{pairs}", "{seed}"], "release"),
    "best_of": ("best_of_soak", ["{pairs}", "{seed}"], "release"),
    # "pairs" counts queries here: about 14 candidates each, through every lane width that
    # holds them and every build the processor runs; the program prints the pairs per width.
    "weighted_scorer": ("weighted_scorer_soak", ["{pairs}", "{seed}"], "release"),
    "code_points": ("code_points_soak", ["{pairs}", "{seed}"], "release"),  # "pairs" counts texts
    "join": ("join_test", ["{pairs}", "{seed}"], "release"),  # "pairs" counts random lists here
    "best_of_scalar": ("best_of_soak", ["{pairs}", "{seed}"], "scalar"),
    "code_points_scalar": ("code_points_soak", ["{pairs}", "{seed}"], "scalar"),
    "weighted_scorer_scalar": ("weighted_scorer_soak", ["{pairs}", "{seed}"], "scalar"),
}

BUILD_OPTIONS = {"release": [], "scalar": ["-DPELGAR_SCALAR_KERNELS=ON"]}


def build(programs, variant):
    folder = BUILD if variant == "release" else BUILD.with_name(f"soak-{variant}")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(folder), *generator,
                    "-DPELGAR_BUILD_MODULE=OFF", "-DPELGAR_BUILD_TESTS=ON",
                    "-DCMAKE_BUILD_TYPE=Release", *BUILD_OPTIONS[variant]], check=True, stdout=subprocess.DEVNULL)
    targets = [arg for program in programs for arg in ("--target", program)]
    subprocess.run(["cmake", "--build", str(folder), "-j", "2", *targets], check=True,
                   stdout=subprocess.DEVNULL)
    return folder / "tests" / "cpp"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("steps", nargs="*", metavar="STEP", help="steps to run (default: all)")
    parser.add_argument("--pairs", type=int, default=1_000_000, help="random pairs per step")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random pairs")
    parser.add_argument("--list", action="store_true", help="list the steps and exit")
    args = parser.parse_args(argv)

    if args.list:
        for name, (program, _, variant) in STEPS.items():
            print(f"{name}: {program} ({variant} build)")
        return 0
    unknown = [name for name in args.steps if name not in STEPS]
    if unknown:
        parser.error(f"unknown step(s): {', '.join(unknown)}; known: {', '.join(STEPS)}")
    names = args.steps or list(STEPS)

    folders = {}
    for variant in sorted({STEPS[name][2] for name in names}):
        folders[variant] = build(sorted({STEPS[name][0] for name in names if STEPS[name][2] == variant}), variant)
    for name in names:
        program, template, variant = STEPS[name]
        command = [str(folders[variant] / program)] + [arg.format(pairs=args.pairs, seed=args.seed) for arg in template]
        print(f"== {name}: {' '.join(command[1:])}", flush=True)
        start = time.monotonic()
        result = subprocess.run(command)
        print(f"== {name}: exit {result.returncode} after {time.monotonic() - start:.1f} s", flush=True)
        if result.returncode != 0:
            return result.returncode
    return 0


if __name__ == "__main__":
    sys.exit(main())
