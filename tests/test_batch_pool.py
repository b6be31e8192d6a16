"""batch_best_match on the worker pool: sizing from the environment, equality with best_match
for every pool size, and the internal failure when the pool cannot start."""

import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"), reason="counts threads in /proc")


def run_python(script, **environment):
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(environment)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True, env=env)


THREAD_COUNT = """
    import os, pelgar
    {prelude}
    before = len(os.listdir("/proc/self/task"))
    pelgar.batch_best_match([], ["a"])
    print(len(os.listdir("/proc/self/task")) - before)
    {after}
"""


def pool_size(prelude="", after="", **environment):
    result = run_python(THREAD_COUNT.format(prelude=prelude, after=after), **environment)
    assert result.returncode == 0, result.stderr
    return [int(line) for line in result.stdout.split()]


# One processor in the affinity mask, so the default size (1) differs from the values used below.
ONE_CPU = "os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})"


@pytest.mark.parametrize("num_threads, rs_num_cpus, expected", [
    ("+3", None, 3),
    ("3", "5", 3),
    ("0", "5", 1),
    (" 3", "5", 5),
    ("3 ", "5", 5),
    ("-3", "5", 5),
    ("3a", "5", 5),
    ("", "5", 5),
    ("18446744073709551616", "4", 4),
    (None, "+2", 2),
    (None, "0", 1),
    (None, "x", 1),
    (None, None, 1),
])
def test_pool_size_from_environment(num_threads, rs_num_cpus, expected):
    environment = {}
    if num_threads is not None:
        environment["RAYON_NUM_THREADS"] = num_threads
    if rs_num_cpus is not None:
        environment["RAYON_RS_NUM_CPUS"] = rs_num_cpus
    assert pool_size(ONE_CPU, **environment) == [expected]


def test_default_size_is_the_affinity_mask():
    assert pool_size() == [len(os.sched_getaffinity(0))]


def test_pool_is_made_once_and_later_environment_changes_nothing():
    after = """
    os.environ["RAYON_NUM_THREADS"] = "6"
    pelgar.batch_best_match(["a", "b", "c"], ["a"])
    print(len(os.listdir("/proc/self/task")) - before)
    """
    assert pool_size(after=after, RAYON_NUM_THREADS="2") == [2, 2]


def test_no_pool_before_the_first_batch_and_argument_errors_do_not_make_one():
    result = run_python("""
        import os, pelgar
        before = len(os.listdir("/proc/self/task"))
        pelgar.best_match("a", ["a"]); pelgar.rank_matches("a", ["a"])
        try:
            pelgar.batch_best_match("a", ["a"])
        except TypeError:
            pass
        print(len(os.listdir("/proc/self/task")) - before)
    """, RAYON_NUM_THREADS="4")
    assert result.stdout.split() == ["0"], result.stderr


EQUALITY = """
    import random, pelgar
    rng = random.Random(2024)
    alphabet = "abcdeé ÉSσΣ日本\\u0301"
    def text():
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, 9)))
    for round in range(30):
        candidates = [text() for _ in range(rng.randint(0, 40))]
        candidates += rng.sample(candidates, min(3, len(candidates)))
        queries = [text() for _ in range(rng.randint(0, 60))]
        threshold = rng.choice([None, 0.0, 0.5, 0.8, float("nan"), -1.0])
        expected = [pelgar.best_match(q, candidates, threshold) for q in queries]
        assert pelgar.batch_best_match(queries, candidates, threshold) == expected, round
    print("ok")
"""


@pytest.mark.parametrize("threads", ["1", "2", "3", "8"])
def test_batch_equals_best_match_for_every_pool_size(threads):
    result = run_python(EQUALITY, RAYON_NUM_THREADS=threads)
    assert result.stdout.split() == ["ok"], result.stderr


def test_pool_start_failure_is_a_panic_exception_every_time():
    result = run_python("""
        import resource, pelgar
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 256 * 2**20, resource.RLIM_INFINITY))
        errors = []
        for attempt in range(2):
            try:
                try:
                    pelgar.batch_best_match(["a"], ["a"])
                except Exception:
                    print("caught by except Exception")
            except BaseException as error:
                errors.append(error)
        first, second = errors
        kind = type(first)
        print(kind.__module__, kind.__name__, kind.__bases__ == (BaseException,), type(second) is kind)
        print(len(first.args), first.args == (str(first),), str(second) == str(first))
        print(str(first))
        print(hasattr(pelgar, "PanicException"), pelgar.levenshtein("ab", "ba"))
    """, RAYON_NUM_THREADS="20000")
    lines = result.stdout.splitlines()
    assert lines[:2] == ["pyo3_runtime PanicException True True", "1 True True"], result.stdout + result.stderr
    assert lines[2].startswith("The global thread pool has not been initialized.")
    assert lines[3:] == ["False 2"]
    assert "The global thread pool has not been initialized." in result.stderr
