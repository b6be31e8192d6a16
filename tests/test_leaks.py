"""Many calls, successes and failures alike, leave reference counts and memory where they were."""

import gc
import os
import sys

import pytest

import pelgar

ROUNDS = 10_000


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4


def exercise(query, candidates, bad_candidates, threshold):
    pelgar.levenshtein(query, candidates[0])
    pelgar.combined_score(query, candidates[1])
    pelgar.token_set_ratio(query, candidates[2])
    pelgar.best_match(query, candidates, threshold)
    pelgar.rank_matches(query, candidates, threshold=threshold)
    pelgar.batch_best_match([query, query], candidates, threshold)
    for call in (lambda: pelgar.best_match(query, bad_candidates),
                 lambda: pelgar.rank_matches(query, candidates, "x"),
                 lambda: pelgar.levenshtein(query, candidates, 1),
                 lambda: pelgar.jaro_winkler(query, c=candidates),
                 lambda: pelgar.best_match(query, ["ok", "\ud800"])):
        try:
            call()
        except (TypeError, UnicodeEncodeError):
            pass


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm")
def test_no_reference_or_memory_growth():
    query = "".join(["Jos", "é Garcí", "a"])
    candidates = ["Jose Garcia", "JOSÉ GARCÍA", "Maria Lopez " * 3]
    bad_candidates = ["fine", 7]
    threshold = float("0.25")
    arguments = (query, *candidates, bad_candidates, threshold)
    for _ in range(2_000):
        exercise(query, candidates, bad_candidates, threshold)
    gc.collect()
    counts = [sys.getrefcount(a) for a in arguments]
    before = resident_kib()
    for _ in range(ROUNDS):
        exercise(query, candidates, bad_candidates, threshold)
    gc.collect()
    assert [sys.getrefcount(a) for a in arguments] == counts
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # its quarantine keeps freed memory
        assert resident_kib() - before < 2_048
