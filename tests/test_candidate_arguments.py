"""Candidate lists and thresholds: conversion, messages, and sequences that misbehave."""

import math

import pytest

from pelgar import batch_best_match, best_match, rank_matches

FUNCTIONS = [best_match, rank_matches]


def type_error(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


@pytest.mark.parametrize("candidates, message", [
    ("abc", "argument 'candidates': Can't extract `str` to `Vec`"),
    (5, "argument 'candidates': 'int' object cannot be converted to 'Sequence'"),
    ({"a"}, "argument 'candidates': 'set' object cannot be converted to 'Sequence'"),
    ({"a": 1}, "argument 'candidates': 'dict' object cannot be converted to 'Sequence'"),
    ((c for c in "ab"), "argument 'candidates': 'generator' object cannot be converted to 'Sequence'"),
    (iter(["a"]), "argument 'candidates': 'list_iterator' object cannot be converted to 'Sequence'"),
    (["a", 1], "argument 'candidates': 'int' object cannot be converted to 'PyString'"),
    (["a", None], "argument 'candidates': 'NoneType' object cannot be converted to 'PyString'"),
    (["a", b"b"], "argument 'candidates': 'bytes' object cannot be converted to 'PyString'"),
    (b"ab", "argument 'candidates': 'int' object cannot be converted to 'PyString'"),
])
@pytest.mark.parametrize("function", FUNCTIONS)
def test_candidate_messages(function, candidates, message):
    assert type_error(lambda: function("q", candidates)) == message


def test_query_lists_have_the_same_messages():
    assert type_error(lambda: batch_best_match("abc", [])) == "argument 'queries': Can't extract `str` to `Vec`"
    assert type_error(lambda: batch_best_match(["a"], {1})) == \
        "argument 'candidates': 'set' object cannot be converted to 'Sequence'"
    # the first bad argument in parameter order decides
    assert type_error(lambda: batch_best_match(5, "abc", "x")) == \
        "argument 'queries': 'int' object cannot be converted to 'Sequence'"
    assert type_error(lambda: best_match(1, "abc", "x")) == \
        "argument 'query': 'int' object cannot be converted to 'PyString'"


def test_tuples_and_other_sequences_are_accepted():
    import collections
    candidates = ["Cafe", "tea", "CAFE"]
    expected = best_match("cafe", candidates)
    assert best_match("cafe", tuple(candidates)) == expected == ("CAFE", 1.0)
    assert best_match("cafe", collections.UserList(candidates)) == expected
    assert rank_matches("cafe", range(0)) == []


@pytest.mark.parametrize("threshold, effective", [
    (None, 0.0), (1, 1.0), (True, 1.0), (False, 0.0), (0.5, 0.5), (-1.0, -1.0), (-1, -1.0),
])
def test_threshold_values(threshold, effective):
    candidates = ["ab", "ax", "zz"]
    expected = [m for m in rank_matches("ab", candidates) if m[1] >= effective]
    assert rank_matches("ab", candidates, threshold) == expected
    assert rank_matches("ab", candidates, threshold=threshold) == expected


def test_threshold_objects():
    class AsFloat:
        def __float__(self):
            return 0.9

    class AsIndex:
        def __index__(self):
            return 1

    class FloatFails:
        def __float__(self):
            raise ValueError("no float")

    class FloatTypeError:
        def __float__(self):
            raise TypeError("bad float") from KeyError("why")

    assert best_match("ab", ["ab"], AsFloat()) == ("ab", 1.0)
    assert best_match("ab", ["ax"], AsFloat()) is None
    assert best_match("ab", ["ab"], AsIndex()) == ("ab", 1.0)
    with pytest.raises(ValueError, match="no float"):
        best_match("ab", ["ab"], FloatFails())
    with pytest.raises(TypeError) as info:
        best_match("ab", ["ab"], FloatTypeError())
    assert str(info.value) == "argument 'threshold': bad float"
    assert isinstance(info.value.__cause__, KeyError)


def test_threshold_errors():
    message = type_error(lambda: best_match("a", ["a"], "0.5"))
    assert message.startswith("argument 'threshold': ") and len(message) > len("argument 'threshold': ")
    with pytest.raises(OverflowError) as info:
        best_match("a", ["a"], 10 ** 400)
    assert not str(info.value).startswith("argument")
    assert best_match("a", ["a"], math.inf) is None
    assert best_match("a", ["a"], -math.inf) == ("a", 1.0)
    assert best_match("a", ["a"], math.nan) is None


def test_lone_surrogate_in_a_list_passes_unchanged():
    with pytest.raises(UnicodeEncodeError):
        best_match("a", ["ok", "bad\udc00"])
    with pytest.raises(UnicodeEncodeError):
        batch_best_match(["\ud800"], ["a"])


class Reported:
    """A sequence whose __len__ says one thing and whose iterator yields another."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, Exception):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        return iter(self.items)


@pytest.mark.parametrize("length", [0, 1, 2, 10 ** 6, 2 ** 62, RuntimeError("no len"), OverflowError()])
def test_reported_length_only_sizes_the_list(length):
    items = ["Cafe", "tea", "CAFE", "coffee"]
    expected = rank_matches("cafe", items)
    assert rank_matches("cafe", Reported(items, length)) == expected
    assert best_match("cafe", Reported(items, length)) == ("CAFE", 1.0)
    assert batch_best_match(["cafe"], Reported(items, length)) == [("CAFE", 1.0)]


def test_iterator_failures_pass_through_or_are_wrapped():
    class Failing(Reported):
        def __init__(self, error):
            super().__init__([], 3)
            self.error = error

        def __iter__(self):
            yield "a"
            raise self.error

    with pytest.raises(KeyError):
        best_match("a", Failing(KeyError("mid")))
    with pytest.raises(TypeError) as info:
        rank_matches("a", Failing(TypeError("bad item")))
    assert str(info.value) == "argument 'candidates': bad item"

    class NoIter(Reported):
        def __iter__(self):
            raise LookupError("no iterator")

    with pytest.raises(LookupError):
        best_match("a", NoIter([], 0))


def test_sequence_mutated_while_it_is_converted():
    class Shrinking:
        """Old-style sequence protocol; each lookup removes the last item."""

        def __init__(self, items):
            self.items = list(items)

        def __len__(self):
            return len(self.items)

        def __getitem__(self, index):
            item = self.items[index]
            self.items.pop()
            return item

    # indices 0 and 1 are read; by then the list has shrunk to two items
    assert [m[0] for m in rank_matches("a", Shrinking(["a", "b", "c", "d"]))] == ["a", "b"]


def test_returned_text_is_a_new_str_equal_to_the_candidate():
    candidate = "".join(["CA", "FE"])
    text, score = best_match("cafe", [candidate])
    assert text == candidate and type(text) is str and score == 1.0
    assert rank_matches("cafe", [candidate])[0][0] == candidate
