"""The four two-string measures as Python sees them: exact values, result types,
and differential tests against the plain model in tests/model.py."""

import random

import pytest
from hypothesis import given, settings

import pelgar
from model import (edit_distance_model, jaro_winkler_model, normalize_model, text_pairs, texts,
                   trigram_model, weighted_model)

MANY = settings(max_examples=2000, deadline=None)

LEVENSHTEIN = [
    ("", "", 0),
    ("abc", "", 3),
    ("", "abc", 3),
    ("Saturday", "Sunday", 3),
    ("flaw", "lawn", 2),
    ("intention", "execution", 5),
    ("ab", "ba", 2),
    ("Caf\u00e9", "CAFE", 0),
    ("  abc \t", "abc", 0),
    ("a b", "ab", 1),
    ("\u65e5\u672c\u8a9e", "\u65e5\u672c", 1),
    ("\ud55c", "\u1112\u1161\u11ab", 0),
]

JARO_WINKLER = [
    ("", "", 1.0),
    ("", "a", 0.0),
    ("a", "", 0.0),
    ("a", "a", 1.0),
    ("a", "b", 0.0),
    ("ab", "ba", 0.0),
    ("ab", "ac", 0.7),
    ("martha", "marhta", 0.9611111111111111),
    ("MARTHA", "Marhta", 0.9611111111111111),
    (" M\u00c1RTHA\u00a0", "\u3000marh\u0301ta", 0.9611111111111111),
    ("dwayne", "duane", 0.8400000000000001),
    ("dixon", "dicksonx", 0.8133333333333332),
    ("heart", "earth", 0.8666666666666667),
    ("stone", "notes", 0.6222222222222222),
    ("abcefd", "abcdef", 0.9416666666666667),
    ("xyzg", "xyzf", 0.8833333333333334),
    ("xyzd", "xyzadef", 0.9),
    ("abcdefghij", "a", 0.7300000000000001),
    ("bayyyy", "abz", 0.5),
    ("abcdefg", "abcdefh", 0.9428571428571428),
    ("prefixes", "prefixed", 0.95),
]

TRIGRAM = [
    ("", "", 1.0),
    ("ab", "cd", 1.0),
    ("", "xy", 1.0),
    ("ab", "abc", 0.0),
    ("abcabc", "abcabc", 1.0),
    ("abcd", "abce", 0.5),
    ("aaaa", "aaa", 0.6666666666666666),
    ("aaa", "aaaa", 0.6666666666666666),
    ("abc", "abcd", 0.6666666666666666),
    ("abc", "xabc", 0.6666666666666666),
    ("\u65e5\u672c\u8a9e", "\u65e5\u672c\u8a9e", 1.0),
    ("\u65e5\u672c\u8a9e", "\u65e5\u672c", 0.0),
    ("ABC", "abc", 1.0),
    ("a bc", "abc", 0.0),
]

COMBINED = [
    ("", "", 1.0),
    ("Martha", "martha", 1.0),
    ("abc", "", 0.0),
    ("ab", "cd", 0.25),
    ("", "x", 0.25),
    ("ab", "ax", 0.705),
    ("abcd", "abce", 0.7408333333333333),
    ("Ab", "aB", 1.0),
    ("\u65e5\u672c", "\u65e5x", 0.705),
]


def _pair_id(case):
    return repr(case[:2])


@pytest.mark.parametrize("a, b, expected", LEVENSHTEIN, ids=map(_pair_id, LEVENSHTEIN))
def test_levenshtein_examples(a, b, expected):
    result = pelgar.levenshtein(a, b)
    assert type(result) is int and result == expected
    assert edit_distance_model(normalize_model(a), normalize_model(b)) == expected


@pytest.mark.parametrize("function, model, cases", [
    (pelgar.jaro_winkler, jaro_winkler_model, JARO_WINKLER),
    (pelgar.trigram_similarity, trigram_model, TRIGRAM),
    (pelgar.combined_score, weighted_model, COMBINED),
], ids=["jaro_winkler", "trigram_similarity", "combined_score"])
def test_score_examples(function, model, cases):
    for a, b, expected in cases:
        result = function(a, b)
        assert type(result) is float, (a, b)
        assert result == expected, (a, b, result)
        assert model(normalize_model(a), normalize_model(b)) == expected, (a, b)


@MANY
@given(text_pairs())
def test_levenshtein_matches_model(pair):
    a, b = pair
    na, nb = normalize_model(a), normalize_model(b)
    result = pelgar.levenshtein(a, b)
    assert type(result) is int
    assert result == edit_distance_model(na, nb)
    assert result == pelgar.levenshtein(b, a)
    assert result <= max(len(na), len(nb))
    assert (result == 0) == (na == nb)


@MANY
@given(text_pairs())
def test_jaro_winkler_matches_model(pair):
    a, b = pair
    result = pelgar.jaro_winkler(a, b)
    assert type(result) is float
    assert result == jaro_winkler_model(normalize_model(a), normalize_model(b))
    assert 0.0 <= result <= 1.0


@MANY
@given(text_pairs())
def test_trigram_similarity_matches_model(pair):
    a, b = pair
    result = pelgar.trigram_similarity(a, b)
    assert type(result) is float
    assert result == trigram_model(normalize_model(a), normalize_model(b))
    assert result == pelgar.trigram_similarity(b, a)
    assert 0.0 <= result <= 1.0


@MANY
@given(text_pairs())
def test_combined_score_matches_model(pair):
    a, b = pair
    result = pelgar.combined_score(a, b)
    assert type(result) is float
    assert result == weighted_model(normalize_model(a), normalize_model(b))
    assert 0.0 <= result <= 1.0


@settings(max_examples=1000, deadline=None)
@given(texts(max_size=20))
def test_identical_texts_score_one(text):
    assert pelgar.levenshtein(text, text) == 0
    assert pelgar.jaro_winkler(text, text) == 1.0
    assert pelgar.trigram_similarity(text, text) == 1.0
    assert pelgar.combined_score(text, text) == 1.0


def _long_pair(rng, size):
    """Two related texts of about size bytes each, with accents, capitals and edges of whitespace."""
    letters = "abcdeABCDE \u00e9\u00c9\u00f8\u0301\u03a3\u00a0"
    a = "".join(rng.choice(letters) for _ in range(size))
    b = list(a)
    for _ in range(size // 10 + 1):
        b[rng.randrange(len(b))] = rng.choice(letters)
    return a, "".join(b)


@pytest.mark.parametrize("size", [120, 250, 255, 256, 257, 260, 300, 1500])
def test_long_texts_match_model(size):
    # Both normalised texts of a call share one buffer, on the stack or, for long texts, not.
    rng = random.Random(size)
    for _ in range(3):
        a, b = _long_pair(rng, size)
        na, nb = normalize_model(a), normalize_model(b)
        assert pelgar.levenshtein(a, b) == edit_distance_model(na, nb)
        assert pelgar.levenshtein(b, a) == edit_distance_model(nb, na)
        assert pelgar.jaro_winkler(a, b) == jaro_winkler_model(na, nb)
        assert pelgar.trigram_similarity(a, b) == trigram_model(na, nb)
        assert pelgar.combined_score(a, b) == weighted_model(na, nb)
