"""Records of several fields: pelgar_join against the brute-force record model."""

import pickle

import pelgar_join as pj
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from pelgar_join._join import field_scores

from join_model import ITEMS, SCORERS, clusters_of_pairs, interesting_thresholds, next_double
from record_model import record_score, rows, self_join_brute, top_k_brute

MANY = settings(max_examples=200, deadline=None)
FIELDS = ("name", "address", "city", "dob")
# Weights that differ by orders of magnitude as well as ordinary ones.
WEIGHTS = st.sampled_from([1e-6, 0.001, 0.1, 0.2, 0.3, 0.4, 1.0, 3.0, 1000.0])
# Values missing more often than in one-field lists, so that every presence pattern occurs.
VALUES = st.one_of(ITEMS, st.none(), st.sampled_from(["Paris", "paris", "Lyon", "1980-01-02", "1980-02-01"]))


@st.composite
def record_sets(draw, min_rows=0, max_rows=18, values=VALUES):
    fields = draw(st.lists(st.sampled_from(FIELDS), min_size=1, max_size=4, unique=True))
    weights = {field: draw(WEIGHTS) for field in fields}
    scorers = {field: draw(st.sampled_from(SCORERS)) for field in fields}
    count = draw(st.integers(min_rows, max_rows))
    columns = {field: draw(st.lists(values, min_size=count, max_size=count)) for field in fields}
    return columns, weights, scorers


# Values seldom missing, over enough rows that some presence patterns are rare (searched on
# their own) and others common.
PRESENT = st.one_of(st.sampled_from(["Jon Smith", "John Smyth", "Paris", "paris", "1980-01-02", "abc", "ab", ""]),
                    st.text(st.sampled_from("abc "), max_size=8))
MOSTLY_PRESENT = st.integers(0, 12).flatmap(lambda n: st.none() if n == 0 else PRESENT)


def query_columns(draw, columns, count):
    """Queries over the same fields: fresh values, or candidates' own (for ties and equal records)."""
    pool = [value for column in columns.values() for value in column] + [None]
    return {field: draw(st.lists(st.one_of(VALUES, st.sampled_from(pool)), min_size=count, max_size=count))
            for field in columns}


def hexes(answers):
    return [[(i, s.hex()) for i, s in row] for row in answers]


@MANY
@given(record_sets(), st.data())
def test_top_k_equals_the_record_model(record_set, data):
    columns, weights, scorers = record_set
    queries = query_columns(data.draw, columns, data.draw(st.integers(1, 5)))
    index = pj.Index(columns, weights=weights, scorers=scorers)
    every = top_k_brute(columns, queries, weights, None, float("-inf"), scorers)
    threshold = data.draw(st.sampled_from(interesting_thresholds([s for row in every for _, s in row])))
    again = pickle.loads(pickle.dumps(index))
    for k in (1, 3, None):
        expected = hexes(top_k_brute(columns, queries, weights, k, threshold, scorers))
        assert hexes(index.top_k(queries, k=k, threshold=threshold, workers=2)) == expected
        assert hexes(again.top_k(queries, k=k, threshold=threshold)) == expected


def test_top_k_where_a_row_a_letter_off_beats_the_row_holding_the_querys_own_key():
    # Row A holds the query's own name (found first, it raises the cutoff), its address a
    # letter off; row B holds the query's own address, its name a letter off. Over every pair
    # of such letters, B must still be found wherever it scores higher.
    name, address = "Jonathan Smithson", "221 Baker Street"

    def off(text):
        return [text[:at] + letter + text[at + 1:] for at in range(1, len(text), 3) for letter in "ae" if text[at] != letter]

    query = {"name": [name], "address": [address], "dob": ["1980-01-02"]}
    for weights in ({"name": 0.5, "address": 0.3, "dob": 0.2}, {"name": 0.6, "address": 0.35, "dob": 0.05}):
        for other_name in off(name):
            for other_address in off(address):
                columns = {"name": [name, other_name], "address": [other_address, address], "dob": ["1980-01-02"] * 2}
                index = pj.Index(columns, weights=weights)
                for k, threshold in ((1, 0.85), (2, 0.0)):
                    expected = hexes(top_k_brute(columns, query, weights, k, threshold))
                    assert hexes(index.top_k(query, k=k, threshold=threshold)) == expected


@st.composite
def rare_pattern_sets(draw):
    """A heavy field of one value (too few distinct values to search by) beside two searched
    ones, the lighter seldom missing: its rare pattern asks the name for a looser cutoff than
    the common one does, so it must be searched on its own."""
    count = draw(st.integers(55, 70))
    columns = {"name": draw(st.lists(PRESENT, min_size=count, max_size=count)),
               "address": draw(st.lists(MOSTLY_PRESENT, min_size=count, max_size=count)),
               "city": ["Paris"] * count}
    weights = {"name": 1.0, "address": draw(st.sampled_from([0.5, 1.0])), "city": draw(st.sampled_from([2.0, 3.0]))}
    return columns, weights, {}


@settings(max_examples=40, deadline=None)
@given(st.one_of(record_sets(min_rows=21, max_rows=45, values=MOSTLY_PRESENT), rare_pattern_sets()), st.data())
def test_rare_presence_patterns_are_found_as_the_common_ones(record_set, data):
    columns, weights, scorers = record_set
    queries = query_columns(data.draw, columns, 4)
    if "city" in columns:
        queries["city"] = data.draw(st.lists(st.sampled_from(["Paris", "paris", None]), min_size=4, max_size=4))
    index = pj.Index(columns, weights=weights, scorers=scorers)
    every = top_k_brute(columns, queries, weights, None, float("-inf"), scorers)
    threshold = data.draw(st.sampled_from(interesting_thresholds([s for row in every for _, s in row])))
    for k in (1, None):
        expected = hexes(top_k_brute(columns, queries, weights, k, threshold, scorers))
        assert hexes(index.top_k(queries, k=k, threshold=threshold)) == expected
    pairs = [(i, j, s.hex()) for i, j, s in self_join_brute(columns, weights, threshold, scorers)]
    assert [(i, j, s.hex()) for i, j, s in pj.self_join(columns, threshold, weights=weights, scorers=scorers)] == pairs


@MANY
@given(record_sets(max_rows=24), st.data())
def test_self_join_and_clusters_equal_the_record_model(record_set, data):
    columns, weights, scorers = record_set
    every = self_join_brute(columns, weights, float("-inf"), scorers)
    threshold = data.draw(st.sampled_from(interesting_thresholds([s for _, _, s in every])))
    expected = [(i, j, s.hex()) for i, j, s in every if s >= threshold]
    got = pj.self_join(columns, threshold, weights=weights, scorers=scorers, workers=2)
    assert [(i, j, s.hex()) for i, j, s in got] == expected
    count = len(next(iter(columns.values())))
    labels = clusters_of_pairs(count, [p for p in every if p[2] >= threshold])
    assert pj.clusters(columns, threshold, weights=weights, scorers=scorers, workers=2) == labels


# Near duplicates from a small pool: keys repeat within every field and pairs of keys sit
# near any cutoff.
REPEATED = st.sampled_from(["Jon Smith", "John Smith", "Jon Smyth", "jon smith", "Ann Lee", "Anne Lee",
                            "1980-01-02", "1980-01-03", "abc", "ab", ""])


@st.composite
def repeated_record_sets(draw):
    """Fields missing at rates from a tenth to 95 %, so that presence patterns are
    common and rare, and some fields are shared only by rows of rare patterns."""
    fields = draw(st.lists(st.sampled_from(FIELDS), min_size=1, max_size=4, unique=True))
    count = draw(st.integers(20, 60))
    columns = {}
    for field in fields:
        missing = draw(st.sampled_from([2, 10, 19]))
        value = st.integers(0, 19).flatmap(lambda k, m=missing: st.none() if k < m else REPEATED)
        columns[field] = draw(st.lists(value, min_size=count, max_size=count))
    return columns, {f: draw(WEIGHTS) for f in fields}, {f: draw(st.sampled_from(SCORERS)) for f in fields}


@settings(max_examples=80, deadline=None)
@given(repeated_record_sets(), st.data())
def test_self_join_of_repeated_keys_in_every_presence_pattern_equals_the_model(record_set, data):
    check_self_join_and_clusters(record_set, data)


def check_self_join_and_clusters(record_set, data):
    columns, weights, scorers = record_set
    every = self_join_brute(columns, weights, float("-inf"), scorers)
    threshold = data.draw(st.sampled_from(interesting_thresholds([s for _, _, s in every])))
    expected = [p for p in every if p[2] >= threshold]
    got = pj.self_join(columns, threshold, weights=weights, scorers=scorers, workers=2)
    assert [(i, j, s.hex()) for i, j, s in got] == [(i, j, s.hex()) for i, j, s in expected]
    count = len(next(iter(columns.values())))
    assert pj.clusters(columns, threshold, weights=weights, scorers=scorers) == clusters_of_pairs(count, expected)


@st.composite
def placeholder_record_sets(draw):
    """Hundreds of rows, most holding one placeholder in some fields: keys shared by more
    rows than are scored pair by pair, in one field or several at once."""
    fields = draw(st.lists(st.sampled_from(FIELDS), min_size=2, max_size=4, unique=True))
    count = 300
    columns = {}
    for field in fields:
        share = draw(st.sampled_from([0, 12, 18]))  # of 20: how often the placeholder
        value = st.integers(0, 19).flatmap(
            lambda k, s=share: st.just("N/A") if k < s else st.none() if k == 19 else REPEATED)
        columns[field] = draw(st.lists(value, min_size=count, max_size=count))
    return columns, {f: draw(WEIGHTS) for f in fields}, {f: draw(st.sampled_from(SCORERS)) for f in fields}


@settings(max_examples=12, deadline=None)
@given(placeholder_record_sets(), st.data())
def test_self_join_and_clusters_of_placeholder_rows_equal_the_model(record_set, data):
    check_self_join_and_clusters(record_set, data)


def test_groups_of_alike_rows_at_a_threshold_equal_to_their_score():
    # A placeholder shared by more rows than are scored pair by pair, the other keys alike:
    # at each actual score the bound of two keys meets the threshold exactly.
    columns = {"name": ["N/A"] * 130, "address": ["Jon Smith"] * 65 + ["John Smith"] * 65,
               "dob": ["1980-01-02"] * 130}
    weights = {"name": 0.4, "address": 0.3, "dob": 0.2}
    every = self_join_brute(columns, weights, float("-inf"))
    for threshold in sorted({s for _, _, s in every}):
        for at in (threshold, next_double(threshold, 1)):
            expected = [p for p in every if p[2] >= at]
            got = pj.self_join(columns, at, weights=weights)
            assert [(i, j, s.hex()) for i, j, s in got] == [(i, j, s.hex()) for i, j, s in expected]


def test_alike_keys_in_every_field_at_thresholds_equal_to_their_scores():
    # Keys of three rows each, alike or equal in every field, the weight shared or nearly all on one:
    # at every actual score and on a grid, each driver's cutoff and each pair's bound meet the
    # scores of these keys exactly somewhere.
    pool = ["Jon Smith", "John Smith", "Jon Smyth", "Ann Lee", "Anne Lee", "1980-01-02", "1980-01-03", "1980-10-02"]
    columns = {"name": [pool[r % 8] for r in range(24)], "dob": [pool[3 * (r // 8)] for r in range(24)],
               "city": [pool[(r // 4 + r // 8) % 8] for r in range(24)]}
    for weights in ({"name": 0.5, "dob": 0.3, "city": 0.2}, {"name": 0.98, "dob": 0.01, "city": 0.01}):
        every = self_join_brute(columns, weights, float("-inf"))
        scores = {s for _, _, s in every} | {next_double(s, 1) for _, _, s in every}
        for at in sorted(scores | {x / 1000 for x in range(800, 1001)}):
            expected = [(i, j, s.hex()) for i, j, s in every if s >= at]
            assert [(i, j, s.hex()) for i, j, s in pj.self_join(columns, at, weights=weights)] == expected, at


@settings(max_examples=60, deadline=None)
@given(record_sets(min_rows=1), st.data())
def test_field_scores_are_each_fields_score_or_null(record_set, data):
    pa = pytest.importorskip("pyarrow")
    columns, weights, scorers = record_set
    queries = query_columns(data.draw, columns, 3)
    count = len(next(iter(columns.values())))
    query_rows = data.draw(st.lists(st.integers(0, 2), max_size=8))
    positions = [data.draw(st.one_of(st.none(), st.integers(0, count - 1))) for _ in query_rows]
    scores = field_scores(pj.Index(columns, weights=weights, scorers=scorers), queries, query_rows,
                          pa.array(positions, pa.int64()))
    assert list(scores) == list(weights)
    for field, column in scores.items():
        expected = []
        for q, p in zip(query_rows, positions):
            one = {field: 1.0}
            score = None if p is None else record_score(
                {field: queries[field][q]}, {field: columns[field][p]}, [field], one, scorers)
            expected.append(None if score is None else score.hex())
        got = pa.table(column).column(0).to_pylist()
        assert [None if s is None else s.hex() for s in got] == expected


def test_records_of_arrow_columns_equal_lists_and_thresholds_between_doubles():
    pa = pytest.importorskip("pyarrow")
    pl = pytest.importorskip("polars")
    columns = {"name": ["Jon Smith", "John Smith", None, "Ann Lee", "jon smith"],
               "city": ["Paris", None, "Paris", "Lyon", "paris"]}
    weights = {"name": 0.7, "city": 0.3}
    queries = {"name": ["john smith", None], "city": ["paris", "lyon"], "ignored": [1, 2]}
    index = pj.Index({"name": pa.array(columns["name"]), "city": pl.Series(columns["city"])}, weights=weights)
    best = index.top_k(queries, k=None)
    assert best == top_k_brute(columns, {f: queries[f] for f in weights}, weights, None, 0.0)
    score = best[0][0][1]
    above = next_double(score, 1)
    assert [i for i, _ in index.top_k(queries, k=None, threshold=score)[0]][0] == best[0][0][0]
    assert all(s >= above for _, s in index.top_k(queries, k=None, threshold=above)[0])
    table = pa.table(index.top_k(queries, k=2, columnar=True))
    assert table.column("query").to_pylist() == [0, 0, 1, 1]
    left = pa.table(pj._join.join_plan(index, {"name": [None], "city": [None]}, 1, "left", 0.0, None, None))
    assert table.num_columns == 3 and left.column("position").to_pylist() == [None]
    assert len(index) == 5 and index.fields == ("name", "city") and index.scorers == {"name": "combined",
                                                                                       "city": "combined"}
    assert repr(index) == ("Index(<5 records>, weights={'name': 0.7, 'city': 0.3}, "
                           "scorers={'name': 'combined', 'city': 'combined'})")


@pytest.mark.parametrize("call, error, message", [
    (lambda: pj.Index({"a": ["x"], "b": ["x", "y"]}, weights={"a": 1, "b": 1}), ValueError,
     "column 'b' has 2 rows, but column 'a' has 1"),
    (lambda: pj.Index({"a": ["x"]}, weights={"a": 1, "b": 1}), ValueError, "columns have no field 'b'"),
    (lambda: pj.Index({"a": ["x"], "c": ["x"]}, weights={"a": 1}), ValueError,
     "columns have field 'c', which weights do not"),
    (lambda: pj.Index({"a": ["x"]}, weights={"a": 0}), ValueError,
     "weight of field 'a' must be a positive finite number, got 0"),
    (lambda: pj.Index({"a": ["x"]}, weights={"a": float("inf")}), ValueError,
     "weight of field 'a' must be a positive finite number, got inf"),
    (lambda: pj.Index({"a": ["x"]}, weights={"a": 1}, scorers={"a": "jaro"}), ValueError,
     "scorer of field 'a' must be one of 'combined', 'token_sort' or 'token_set', got 'jaro'"),
    (lambda: pj.Index({"a": ["x"]}), TypeError, "a mapping of columns needs weights={field: weight}"),
    (lambda: pj.Index({"a": ["x"]}, weights={"a": 1}).top_k({"b": ["x"]}), ValueError, "queries have no field 'a'"),
    (lambda: pj.Index({"a": ["x"], "b": ["y"]}, weights={"a": 1, "b": 1}).top_k({"a": ["x"], "b": []}), ValueError,
     "query column 'b' has 0 rows, but query column 'a' has 1"),
    (lambda: pj.self_join({"a": ["x"]}, 0.9), TypeError, "a mapping of columns needs weights={field: weight}"),
    (lambda: pj.clusters(["x"], 0.9, weights={"a": 1}), TypeError, "weights= and scorers= are for a mapping of columns"),
    (lambda: pj.Index({"a": [3]}, weights={"a": 1}), TypeError, "column 'a'[0]: expected str or None, got int"),
])
def test_errors_name_the_field(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.slow
def test_soak_of_a_hundred_thousand_records_against_brute_force_on_a_sample():
    import pathlib
    import random
    import sys

    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))
    import register

    rng = random.Random(21)
    people = register.people(100_000, seed=21)
    weights = {"name": 0.4, "address": 0.3, "city": 0.1, "dob": 0.2}
    columns = {field: [person[field] for person in people] for field in weights}
    index = pj.Index(columns, weights=weights, scorers={"address": "token_sort"})
    # Brute force from each field's full single-field ranking, combined by the record model's arithmetic.
    singles = {field: pj.Index(columns[field], scorer=index.scorers[field]) for field in weights}
    sample = [register.typo_record(people[rng.randrange(len(people))], rng) for _ in range(12)]
    queries = {field: [record[field] for record in sample] for field in weights}
    for threshold, k in ((0.85, 1), (0.7, 5), (0.0, 3)):
        got = index.top_k(queries, k=k, threshold=threshold, workers=2)
        for q, record in enumerate(sample):
            per_field = {f: dict(singles[f].top_k([record[f]], k=None, threshold=-1.0)[0]) for f in weights}
            found = []
            for row in range(len(people)):
                total = weight_sum = 0.0
                for f in weights:
                    if row in per_field[f]:
                        total += weights[f] * per_field[f][row]
                        weight_sum += weights[f]
                if weight_sum and total / weight_sum >= threshold:
                    found.append((row, total / weight_sum))
            found.sort(key=lambda item: (-item[1], item[0]))
            assert got[q] == found[:k]
