"""Texts read as code points: lone surrogates, str subclasses, long texts and every string width
give what the UTF-8 route gives, and the normaliser over code points agrees with the one over UTF-8."""

import math

import pytest
from hypothesis import given, settings, strategies as st

from conftest import ctest_result
from model import normalize_model, texts, weighted_model
from pelgar import batch_best_match, best_match, combined_score, rank_matches


@pytest.mark.parametrize("seed", [1, 2])
def test_code_point_functions_match_utf8_functions(ctest_results, seed):
    result = ctest_result(ctest_results, f"code_points_soak_{seed}")
    assert result.passed, result.output
    assert "20000 texts" in result.output and result.output.rstrip().endswith("ok")


def encode_error(text):
    with pytest.raises(UnicodeEncodeError) as info:
        text.encode("utf-8")
    return info.value


def assert_same_encode_error(call, text):
    expected = encode_error(text)
    with pytest.raises(UnicodeEncodeError) as info:
        call()
    assert type(info.value) is UnicodeEncodeError
    assert info.value.args == expected.args
    assert str(info.value) == str(expected)


# A lone surrogate first, inside, last and alone, in a short text and in a long one, next to
# ASCII, Latin-1 and astral characters (the three widths a str is stored in).
SURROGATE_TEXTS = [
    "\ud800abc", "ab\udfffc", "abc\udc00", "\udbff", "\udc00\ud800",
    "\ud800" + "x" * 300, "y" * 300 + "\udfff", "caf\u00e9\ud800", "\U0001f600\udc01\U0001f600",
]


@pytest.mark.parametrize("bad", SURROGATE_TEXTS)
@pytest.mark.parametrize("where", [0, 1, 2])
def test_lone_surrogates_in_candidates_raise_the_encoders_error(bad, where):
    candidates = ["cafe", "tea", "coffee"]
    candidates[where] = bad
    assert_same_encode_error(lambda: best_match("cafe", candidates), bad)
    assert_same_encode_error(lambda: rank_matches("cafe", candidates, 0.5), bad)
    assert_same_encode_error(lambda: batch_best_match(["cafe"], candidates), bad)
    assert_same_encode_error(lambda: batch_best_match(candidates, ["cafe"]), bad)


@pytest.mark.parametrize("bad", SURROGATE_TEXTS[:4])
def test_lone_surrogates_in_queries_and_pairs(bad):
    assert_same_encode_error(lambda: best_match(bad, ["a"]), bad)
    assert_same_encode_error(lambda: rank_matches(bad, []), bad)
    assert_same_encode_error(lambda: combined_score("a", bad), bad)
    assert_same_encode_error(lambda: combined_score(bad, "a"), bad)


def test_errors_keep_their_order():
    # the first failing item decides, and candidates fail before the threshold
    with pytest.raises(TypeError) as info:
        best_match("a", ["ok", 1, "\ud800"])
    assert str(info.value) == "argument 'candidates': 'int' object cannot be converted to 'PyString'"
    assert_same_encode_error(lambda: best_match("a", ["\ud800", 1]), "\ud800")
    assert_same_encode_error(lambda: rank_matches("a", ["ok", "\ud800"], "not a number"), "\ud800")
    assert_same_encode_error(lambda: batch_best_match(["\ud800"], ["\udc00"]), "\ud800")
    with pytest.raises(TypeError) as info:
        best_match("a", ["cafe", "a"], "x")
    assert str(info.value).startswith("argument 'threshold': ")
    with pytest.raises(TypeError) as info:
        batch_best_match(["a"], ["b", None])
    assert str(info.value) == "argument 'candidates': 'NoneType' object cannot be converted to 'PyString'"


class Shouting(str):
    """A str subclass that changes everything but its string value."""

    def __str__(self):
        return "not this"

    def __eq__(self, other):
        return False

    __hash__ = str.__hash__

    def __len__(self):
        return 0

    def lower(self):
        return "not this either"


@pytest.mark.parametrize("value", ["CAFE", "Café", "caf\u00e9" * 60, "\U0001f600 CAFE", ""])
def test_str_subclasses_read_as_their_string_value(value):
    plain = str.__str__(Shouting(value))
    candidates = ["tea", Shouting(value), "coffee"]
    expected_best = best_match("cafe", ["tea", plain, "coffee"])
    got = best_match(Shouting("cafe"), candidates)
    assert got == expected_best and type(got[0]) is str
    alone = best_match("zz", [Shouting(value)])
    assert type(alone[0]) is str and str.__eq__(alone[0], plain)
    ranking = rank_matches("cafe", candidates)
    assert ranking == rank_matches("cafe", ["tea", plain, "coffee"])
    assert all(type(text) is str for text, _ in ranking)
    answers = batch_best_match([Shouting("cafe"), "tea"], candidates)
    assert answers == batch_best_match(["cafe", "tea"], ["tea", plain, "coffee"])
    assert all(type(answer[0]) is str for answer in answers)
    assert combined_score(Shouting(value), "cafe") == combined_score(plain, "cafe")


def test_returned_texts_equal_the_candidates_of_every_width():
    candidates = ["CAFE", "Caf\u00e9", "\u039a\u0391\u03a6\u0395", "\U0001f600cafe", "x" * 500 + "\u0100"]
    for text, _ in rank_matches("cafe", candidates):
        assert type(text) is str and text in candidates
    for candidate in candidates:
        assert best_match(candidate, [candidate]) == (candidate, 1.0)
        assert batch_best_match([candidate], ["zz", candidate]) == [(candidate, 1.0)]


def scored_model(query, candidates):
    q = normalize_model(query)
    return [(c, weighted_model(q, normalize_model(c))) for c in candidates]


# Texts around the reader's inline buffer of 128 code points, some of ASCII only.
long_texts = st.one_of(
    st.builds(lambda t, k: (t or "a") * k, texts(6), st.integers(20, 60)),
    st.builds(lambda t, k: " " + "ab" * k + t, texts(6), st.integers(60, 70)),
)
mixed_lists = st.lists(st.one_of(texts(10), long_texts), max_size=6)


@settings(max_examples=60, deadline=None)
@given(st.one_of(texts(10), long_texts), mixed_lists)
def test_long_and_short_texts_against_the_model(query, candidates):
    scored = scored_model(query, candidates)
    best = None
    for candidate, score in scored:
        if best is None or score >= best[1]:
            best = (candidate, score)
    assert best_match(query, candidates) == best
    assert rank_matches(query, candidates) == sorted(scored, key=lambda m: -m[1])
    assert batch_best_match([query, query], candidates, -math.inf) == [best, best]
