"""best_match, rank_matches and batch_best_match: examples, and a plain model on random lists."""

import math
import struct

from hypothesis import given, settings, strategies as st

from model import normalize_model, texts, weighted_model
from pelgar import batch_best_match, best_match, combined_score, rank_matches


def next_up(x):
    """The next double above a positive finite x (math.nextafter needs Python 3.9)."""
    (bits,) = struct.unpack("<q", struct.pack("<d", x))
    return struct.unpack("<d", struct.pack("<q", bits + 1))[0]


def scored_model(query, candidates):
    q = normalize_model(query)
    return [(c, weighted_model(q, normalize_model(c))) for c in candidates]


def best_model(query, candidates, threshold):
    best = None
    for candidate, score in scored_model(query, candidates):
        if best is None or score >= best[1]:
            best = (candidate, score)
    return best if best is not None and best[1] >= threshold else None


def rank_model(query, candidates, threshold):
    ranking = sorted(scored_model(query, candidates), key=lambda m: -m[1])  # sorted() is stable
    return [m for m in ranking if m[1] >= threshold]


def test_best_match_examples():
    assert best_match("Cafe", ["CAFE", "tea"], 0.5) == ("CAFE", 1.0)
    assert best_match("cafe", ["Cafe", "CAFE"]) == ("CAFE", 1.0)  # the later of equal scores
    assert best_match("cafe", [], 0.0) is None
    assert best_match("cafe", [], -1.0) is None
    assert best_match("zzz", ["tea"]) == ("tea", combined_score("zzz", "tea"))
    assert best_match("cafe", ["tea"], 1.0) is None
    assert best_match("cafe", ["CAFE"], math.nan) is None
    assert best_match("   ", ["", "\t"]) == ("\t", 1.0)


def test_threshold_equal_to_the_score_is_a_match():
    score = combined_score("ab", "ax")
    assert score == 0.705
    assert best_match("ab", ["ax"], score) == ("ax", score)
    assert rank_matches("ab", ["ax"], score) == [("ax", score)]
    assert batch_best_match(["ab"], ["ax"], score) == [("ax", score)]
    above = next_up(score)
    assert above > score and (above + score) / 2 in (score, above)
    assert best_match("ab", ["ax"], above) is None
    assert rank_matches("ab", ["ax"], above) == []
    assert batch_best_match(["ab"], ["ax"], above) == [None]


def test_rank_matches_examples():
    tea = combined_score("cafe", "tea")
    assert rank_matches("cafe", ["CAFE", "tea", "Cafe"]) == [("CAFE", 1.0), ("Cafe", 1.0), ("tea", tea)]
    assert rank_matches("cafe", ["CAFE", "tea", "Cafe"], 0.9) == [("CAFE", 1.0), ("Cafe", 1.0)]
    assert rank_matches("cafe", []) == []
    assert rank_matches("cafe", ["tea"], math.nan) == []
    assert rank_matches("cafe", ["x", "x", "x"]) == [("x", combined_score("cafe", "x"))] * 3


def test_batch_examples():
    assert batch_best_match([], ["a"]) == []
    assert batch_best_match(["a", "b"], []) == [None, None]
    assert batch_best_match(["cafe", "CAFE", "tea"], ["Cafe", "CAFE", "tee"]) == [
        ("CAFE", 1.0), ("CAFE", 1.0), best_match("tea", ["Cafe", "CAFE", "tee"])]
    assert batch_best_match(["cafe", "x"], ["tea"], math.nan) == [None, None]


candidate_lists = st.lists(st.one_of(texts(8), st.sampled_from(["cafe", "Café", "CAFE", "", " "])), max_size=8)
thresholds = st.one_of(st.none(), st.just(math.nan), st.floats(-1.0, 1.5), st.sampled_from([0.0, 0.25, 1.0]))


@settings(max_examples=400, deadline=None)
@given(texts(8), candidate_lists, thresholds, st.data())
def test_matching_against_the_model(query, candidates, threshold, data):
    if threshold is not None and candidates and data.draw(st.booleans()):
        # a threshold exactly at one of the scores
        threshold = data.draw(st.sampled_from([s for _, s in scored_model(query, candidates)]))
    effective = 0.0 if threshold is None else threshold
    assert best_match(query, candidates, threshold) == best_model(query, candidates, effective)
    assert rank_matches(query, candidates, threshold) == rank_model(query, candidates, effective)
    queries = [query, query.upper(), query[::-1]]
    assert batch_best_match(queries, candidates, threshold) == [best_match(q, candidates, threshold) for q in queries]
