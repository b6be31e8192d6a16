"""pelgar_join where results grow large: refused outputs, big groups of equal texts."""

import subprocess
import sys
import textwrap

import pelgar_join as pj

from join_model import clusters_of_pairs, self_join_brute


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=300)


def test_a_result_that_cannot_fit_is_refused_and_the_next_call_works():
    result = run_python("""
        import resource, pelgar_join as pj
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 2 * 2**30, resource.RLIM_INFINITY))
        for call in (lambda: pj.self_join(["N/A"] * 300_000, 0.9),
                     lambda: pj.self_join(["unknown"] * 20_000 + ["unknown x"] * 20_000, 0.5),
                     lambda: pj.Index(["N/A"] * 40_000).top_k(["n/a"] * 2_000, k=None)):
            try:
                call()
                print("no error")
            except MemoryError as error:
                print(error)
        print(pj.self_join(["Anna", "anna ", "Bob"], 0.9), pj.Index(["a"] * 3).top_k(["A"], k=None))
    """)
    lines = result.stdout.splitlines()
    assert len(lines) == 4, result.stdout + result.stderr
    assert lines[0] == ("self_join: 44999850000 found so far, more than fit in the memory this process may use; "
                        "use clusters, or a higher threshold")
    assert lines[1].startswith("self_join: ") and lines[1].endswith("use clusters, or a higher threshold")
    assert lines[2].startswith("top_k with k=None: ") and lines[2].endswith("give k, or a higher threshold")
    assert lines[3] == "[(0, 1, 1.0)] [[(0, 1.0), (1, 1.0), (2, 1.0)]]"


def test_many_equal_texts_pair_and_cluster_as_brute_force_says():
    texts = ["N/A"] * 40 + ["unknown", "Unknown ", None, "n/a", "N/B", "unknow"] * 7 + ["-"] * 30 + ["x"] * 3
    for threshold in (0.5, 0.8, 0.9, 1.0):
        expected = self_join_brute(texts, threshold)
        assert pj.self_join(texts, threshold, workers=2) == expected
        assert pj.clusters(texts, threshold, workers=2) == clusters_of_pairs(len(texts), expected)
    assert pj.clusters(texts, 1.5) == list(range(len(texts)))


def test_clusters_of_a_huge_group_hold_no_pairs():
    result = run_python("""
        import random, resource, pelgar_join as pj
        with open("/proc/self/statm") as statm:
            used = int(statm.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + 2**30, resource.RLIM_INFINITY))
        rng = random.Random(5)
        names = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz ") for _ in range(14)) for _ in range(20_000)]
        labels = pj.clusters(["N/A"] * 200_000 + names + ["n/a"], 0.9)
        print(set(labels[:200_000]), labels[-1], labels[200_000:200_003])
    """)
    assert result.stdout.split("\n")[0] == "{0} 0 [200000, 200001, 200002]", result.stdout + result.stderr
