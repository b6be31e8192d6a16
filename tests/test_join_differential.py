"""pelgar_join against brute force over pelgar's own functions."""

import math
import random

import pelgar
import pelgar_join as pj
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from join_model import (SCORERS, clusters_of_pairs, interesting_thresholds, self_join_brute, text_lists,
                        top_k_brute)

MANY = settings(max_examples=300, deadline=None)


def same_bits(got, expected):
    """Equal lists, scores compared as exact doubles."""
    assert got == expected
    flat_got = [s for row in got for _, s in row] if got and isinstance(got[0], list) else []
    flat_expected = [s for row in expected for _, s in row] if got and isinstance(got[0], list) else []
    assert [s.hex() for s in flat_got] == [s.hex() for s in flat_expected]


@MANY
@given(text_lists(), text_lists(min_size=1, max_size=6), st.sampled_from(SCORERS), st.data())
def test_top_k_equals_brute_force_for_every_k_and_threshold(candidates, queries, scorer, data):
    index = pj.Index(candidates, scorer=scorer)
    assert len(index) == len(candidates)
    every = top_k_brute(candidates, queries, None, -1.0, scorer)
    thresholds = interesting_thresholds([s for row in every for _, s in row])
    threshold = data.draw(st.sampled_from(thresholds))
    for k in (1, 2, 3, 7, None):
        expected = top_k_brute(candidates, queries, k, threshold, scorer)
        same_bits(index.top_k(queries, k=k, threshold=threshold, workers=2), expected)


@MANY
@given(text_lists(max_size=30), st.sampled_from(SCORERS), st.data())
def test_self_join_and_clusters_equal_brute_force(texts, scorer, data):
    every = self_join_brute(texts, -1.0, scorer)
    threshold = data.draw(st.sampled_from(interesting_thresholds([s for _, _, s in every])))
    expected = [p for p in every if p[2] >= threshold]
    got = pj.self_join(texts, threshold, scorer=scorer, workers=2)
    assert got == expected
    assert [s.hex() for _, _, s in got] == [s.hex() for _, _, s in expected]
    assert pj.clusters(texts, threshold, scorer=scorer) == clusters_of_pairs(len(texts), expected)


def test_top_k_is_the_head_of_rank_matches():
    rng = random.Random(7)
    names = ["".join(rng.choice("abcde ") for _ in range(rng.randint(0, 12))) for _ in range(300)]
    index = pj.Index(names)
    for query in names[:40]:
        ranked = pelgar.rank_matches(query, names, 0.6)
        positions = {}
        expected = []
        for text, score in ranked[:5]:
            # Equal texts share a score; the ranking keeps their input order.
            start = positions.get(text, -1) + 1
            position = names.index(text, start)
            positions[text] = position
            expected.append((position, score))
        assert index.top_k([query], k=5, threshold=0.6) == [expected]


def test_nan_threshold_lets_nothing_through():
    texts = ["abc", "abc", "x"]
    assert pj.Index(texts).top_k(texts, k=None, threshold=math.nan) == [[], [], []]
    assert pj.self_join(texts, math.nan) == []
    assert pj.clusters(texts, math.nan) == [0, 1, 2]


@pytest.mark.parametrize("threshold", [0.0, 0.3, 0.76, 0.85, 0.9, 0.97])
@pytest.mark.parametrize("scorer", SCORERS)
def test_random_names_at_fixed_thresholds(threshold, scorer):
    rng = random.Random(int(threshold * 1000) + len(scorer))
    words = ["anna", "maria", "smith", "smyth", "jon", "john", "de", "la", "mar", "ab", "x"]
    texts = [" ".join(rng.choice(words) for _ in range(rng.randint(0, 3))) for _ in range(120)]
    texts += [t.upper() for t in texts[:20]] + [None, float("nan")]
    expected = self_join_brute(texts, threshold, scorer)
    assert pj.self_join(texts, threshold, scorer=scorer) == expected
    assert pj.self_join(texts, threshold, scorer=scorer, workers=1) == expected
    queries = texts[:15] + ["jon smith", "", None]
    got = pj.Index(texts, scorer=scorer).top_k(queries, k=4, threshold=threshold)
    assert got == top_k_brute(texts, queries, 4, threshold, scorer)
