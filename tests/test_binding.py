"""Argument binding and text conversion: every message, its precedence, and what passes through."""

import sys

import pytest

import pelgar
from pelgar import best_match, jaro_winkler, levenshtein


def type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


@pytest.mark.parametrize("call, message", [
    (lambda: levenshtein("a", "b", "c"), "levenshtein() takes 2 positional arguments but 3 were given"),
    (lambda: pelgar.token_set_ratio("a", "b", "c", "d"), "token_set_ratio() takes 2 positional arguments but 4 were given"),
    (lambda: best_match("a", [], 0.5, 1), "best_match() takes from 2 to 3 positional arguments but 4 were given"),
    (lambda: pelgar.batch_best_match(1, 2, 3, 4, 5),
     "batch_best_match() takes from 2 to 3 positional arguments but 5 were given"),
    (lambda: levenshtein("a"), "levenshtein() missing 1 required positional argument: 'b'"),
    (lambda: levenshtein(b="a"), "levenshtein() missing 1 required positional argument: 'a'"),
    (lambda: jaro_winkler(), "jaro_winkler() missing 2 required positional arguments: 'a' and 'b'"),
    (lambda: best_match(threshold=0.5), "best_match() missing 2 required positional arguments: 'query' and 'candidates'"),
    (lambda: pelgar.rank_matches("q"), "rank_matches() missing 1 required positional argument: 'candidates'"),
    (lambda: levenshtein("a", c=1), "levenshtein() got an unexpected keyword argument 'c'"),
    (lambda: levenshtein("a", a="b"), "levenshtein() got multiple values for argument 'a'"),
    (lambda: best_match("q", [], query="x"), "best_match() got multiple values for argument 'query'"),
])
def test_binding_messages(call, message):
    assert type_error(call) == message


@pytest.mark.parametrize("call, message", [
    # the first offending keyword in call order decides
    (lambda: levenshtein("a", x=1, a=2), "levenshtein() got an unexpected keyword argument 'x'"),
    (lambda: levenshtein("a", a=2, x=1), "levenshtein() got multiple values for argument 'a'"),
    # a surplus positional argument comes before any keyword problem
    (lambda: levenshtein("a", "b", "c", x=1), "levenshtein() takes 2 positional arguments but 3 were given"),
    # an unknown keyword comes before missing arguments
    (lambda: levenshtein(x=1), "levenshtein() got an unexpected keyword argument 'x'"),
    (lambda: best_match("q", query="x"), "best_match() got multiple values for argument 'query'"),
    # binding comes before any conversion
    (lambda: levenshtein(1, 2, 3), "levenshtein() takes 2 positional arguments but 3 were given"),
    (lambda: levenshtein(1), "levenshtein() missing 1 required positional argument: 'b'"),
])
def test_precedence(call, message):
    assert type_error(call) == message


def test_keywords_in_any_order():
    assert levenshtein(b="kitten", a="sitting") == levenshtein("sitting", "kitten") == 3
    assert jaro_winkler(b="dicksonx", a="dixon") == jaro_winkler("dixon", "dicksonx")
    assert jaro_winkler(b="dixon", a="dicksonx") == jaro_winkler("dicksonx", "dixon")
    assert best_match(threshold=0.0, candidates=["x", "cafe"], query="CAFE") == ("cafe", 1.0)
    assert best_match("CAFE", threshold=None, candidates=["x"]) == best_match("CAFE", ["x"])


def test_keyword_that_is_not_valid_text_is_shown_with_replacement_characters():
    assert type_error(lambda: levenshtein("a", **{"\udc80": 1})) == \
        "levenshtein() got an unexpected keyword argument '\ufffd\ufffd\ufffd'"


def test_keyword_str_subclass_matches_by_text_and_unprintable_keyword():
    class Key(str):
        def __str__(self):
            raise ValueError("no text")

    assert levenshtein("ab", **{Key("b"): "abc"}) == 1
    seen = []
    old_hook = sys.unraisablehook
    sys.unraisablehook = seen.append
    try:
        message = type_error(lambda: levenshtein("a", **{Key("zz"): 1}))
    finally:
        sys.unraisablehook = old_hook
    assert message == "levenshtein() got an unexpected keyword argument '<unprintable Key object>'"
    assert len(seen) == 1 and isinstance(seen[0].exc_value, ValueError)


def test_text_conversion_errors_name_the_first_bad_argument():
    assert type_error(lambda: levenshtein(1, "a")) == "argument 'a': 'int' object cannot be converted to 'PyString'"
    assert type_error(lambda: levenshtein(1, 2.5)) == "argument 'a': 'int' object cannot be converted to 'PyString'"
    assert type_error(lambda: levenshtein("a", None)) == \
        "argument 'b': 'NoneType' object cannot be converted to 'PyString'"
    assert type_error(lambda: levenshtein(b"a", "a")) == \
        "argument 'a': 'bytes' object cannot be converted to 'PyString'"
    assert type_error(lambda: best_match(["q"], [])) == \
        "argument 'query': 'list' object cannot be converted to 'PyString'"


def test_type_names_are_qualified_and_unreadable_ones_fall_back():
    class Outer:
        class Inner:
            pass

    class Meta(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                raise RuntimeError("hidden")
            return super().__getattribute__(name)

    class Hidden(metaclass=Meta):
        pass

    assert type_error(lambda: levenshtein(Outer.Inner(), "")) == \
        "argument 'a': 'test_type_names_are_qualified_and_unreadable_ones_fall_back.<locals>.Outer.Inner' " \
        "object cannot be converted to 'PyString'"
    assert type_error(lambda: levenshtein("", Hidden())) == \
        "argument 'b': '<failed to extract type name>' object cannot be converted to 'PyString'"


def test_wrapped_error_has_no_chained_original():
    with pytest.raises(TypeError) as info:
        levenshtein(1, "a")
    assert info.value.__cause__ is None
    assert info.value.__suppress_context__ is True


def test_lone_surrogate_passes_the_encoder_error_unchanged():
    for call in (lambda: levenshtein("\ud800", "a"), lambda: jaro_winkler("a", "x\udfffy")):
        with pytest.raises(UnicodeEncodeError):
            call()


def test_str_subclass_uses_the_string_value():
    class Loud(str):
        def __str__(self):
            return "something else"

    assert levenshtein(Loud("Cafe"), "CAFE") == 0
    assert best_match(Loud("x"), [Loud("Cafe")]) == ("Cafe", pelgar.combined_score("x", "cafe"))
    assert type(best_match("x", [Loud("Cafe")])[0]) is str


def test_result_types():
    assert levenshtein("", "") == 0 and type(levenshtein("", "")) is int
    for name in ("jaro_winkler", "trigram_similarity", "combined_score", "token_sort_ratio", "token_set_ratio"):
        value = getattr(pelgar, name)("abc", "abc")
        assert type(value) is float and value == 1.0
