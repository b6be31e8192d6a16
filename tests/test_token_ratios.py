"""Token sort and token set ratios: examples, and a plain model on random token lists."""

import pytest
from hypothesis import given, settings, strategies as st

from conftest import ctest_result
from model import WHITE_SPACE, normalize_model, weighted_model
from pelgar import combined_score, token_set_ratio, token_sort_ratio


def test_token_keys_program(ctest_results):
    result = ctest_result(ctest_results, "tokens_test")
    assert result.passed, result.output


@pytest.mark.parametrize("a, b, sort_ratio, set_ratio", [
    ("new york city", "city new york", 1.0, 1.0),
    ("a a b", "b a", 0.6354444444444445, 1.0),
    ("new york", "new york city", 0.6989064856711916, 0.6989064856711916),
    ("New York", "york new", 1.0, 1.0),
    ("new  york", "new\t\u00a0york", 1.0, 1.0),
    ("", "", 1.0, 1.0),
    ("", " \t ", 1.0, 1.0),
    ("", "word", 0.0, 0.0),
    ("", "ab", 0.25, 0.25),
    ("x", "", 0.25, 0.25),
])
def test_ratio_examples(a, b, sort_ratio, set_ratio):
    assert token_sort_ratio(a, b) == sort_ratio
    assert token_set_ratio(a, b) == set_ratio


def test_keys_are_scored_once_with_the_first_argument_first():
    # the keys are plain strings, so each ratio is combined_score of the keys
    assert token_sort_ratio("b10 b9 b1", "x b1") == combined_score("b1 b10 b9", "b1 x")
    assert token_set_ratio("z ß a z", "dixon") == combined_score("a z ß", "dixon")
    assert token_set_ratio("dixon", "z ß a z") == combined_score("dixon", "a z ß")
    assert token_sort_ratio("x\u200by q", "q x") == combined_score("q x\u200by", "q x")


def split_model(text):
    tokens, current = [], ""
    for c in text:
        if c in WHITE_SPACE:
            if current:
                tokens.append(current)
            current = ""
        else:
            current += c
    return tokens + ([current] if current else [])


def sort_ratio_model(a, b):
    key = lambda s: " ".join(sorted(split_model(normalize_model(s))))
    return weighted_model(key(a), key(b))


def set_ratio_model(a, b):
    key = lambda s: " ".join(sorted(set(split_model(normalize_model(s)))))
    return weighted_model(key(a), key(b))


SEPARATORS = st.sampled_from([" ", "\t", "\n", "\u00a0", "\u3000", "\u2003", "\u0085"])
WORDS = st.one_of(
    st.sampled_from(["new", "york", "New", "YORK", "city", "b1", "b10", "b9", "ß", "z", "a", "é", "É"]),
    st.text(st.sampled_from("abc\u200b\ufeff\x1c\x1f\u00e9\u0301\U0001F600"), min_size=1, max_size=4),
)


@st.composite
def token_texts(draw):
    words = draw(st.lists(WORDS, max_size=6))
    text = draw(st.text(SEPARATORS, max_size=2))
    for word in words:
        text += word + draw(st.text(SEPARATORS, min_size=1, max_size=2))
    return text


@settings(max_examples=600, deadline=None)
@given(token_texts(), token_texts())
def test_ratios_against_the_model(a, b):
    assert token_sort_ratio(a, b) == sort_ratio_model(a, b)
    assert token_set_ratio(a, b) == set_ratio_model(a, b)
