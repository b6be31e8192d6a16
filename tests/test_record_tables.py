"""fuzzy_join and dedupe on several weighted fields, for every kind of table, against brute force."""

import random
import re

import pytest

pd = pytest.importorskip("pandas")
pa = pytest.importorskip("pyarrow")
pl = pytest.importorskip("polars")
duckdb = pytest.importorskip("duckdb")
from hypothesis import given, settings, strategies as st  # noqa: E402

import pelgar_join as pj  # noqa: E402
from join_model import clusters_of_pairs  # noqa: E402
from record_model import record_score, self_join_brute, top_k_brute  # noqa: E402
from test_table_kinds import names_of, rows_of  # noqa: E402

FIELDS = ("name", "city", "dob")
RIGHT_ON = {"name": "full_name"}  # right's columns: full_name, city, dob, rid
WEIGHTS = [{"name": 0.4, "city": 0.3, "dob": 0.3}, {"dob": 1000.0, "name": 0.001}, {"city": 1.0},
           {"dob": 2.0, "name": 1.0, "city": 0.5}]
WORDS = ["Ann Lee", "ann lea", "Bo Ng", "bo ng", "Leeds", "Leds", "1990-01-02", "1990-02-01", "", "a"]


def random_records(chooser, count):
    """Records over few values, so that fields tie and match; a quarter of the fields missing."""
    return [{field: None if chooser.random() < 0.25 else chooser.choice(WORDS) for field in FIELDS}
            for _ in range(count)]


def model_join(left, right, on, k, threshold, how, scorers=None):
    """Rows (name, city, dob, id, full_name, city, dob, rid, score, score_<field>...) by brute force; id and
    rid are the records' own, else their positions (rid from 100)."""
    fields = list(on)
    found = top_k_brute({f: [r[f] for r in right] for f in fields}, {f: [r[f] for r in left] for f in fields},
                        on, k, threshold, scorers)
    rows = []
    for row, matches in enumerate(found):
        mine = tuple(left[row][f] for f in FIELDS) + (left[row].get("id", row),)
        for position, score in matches:
            per_field = tuple(record_score(left[row], right[position], [f], {f: 1.0}, scorers) for f in fields)
            theirs = tuple(right[position][f] for f in FIELDS) + (right[position].get("rid", 100 + position),)
            rows.append(mine + theirs + (score,) + per_field)
        if not matches and how == "left":
            rows.append(mine + (None,) * (5 + len(fields)))
    return rows


def model_clusters(records, on, threshold, scorers=None):
    pairs = self_join_brute({f: [r[f] for r in records] for f in on}, on, threshold, scorers)
    return clusters_of_pairs(len(records), pairs)


def make_tables(kind, left, right):
    left_data = {**{f: [r[f] for r in left] for f in FIELDS}, "id": list(range(len(left)))}
    right_data = {**{RIGHT_ON.get(f, f): [r[f] for r in right] for f in FIELDS}, "rid": [100 + i for i in
                                                                                          range(len(right))]}

    def make(data, number):
        if kind == "pandas":
            return pd.DataFrame({name: pd.Series(values, dtype=object if name != number else "int64")
                                 for name, values in data.items()})
        if kind == "polars":
            return pl.DataFrame(data, schema={name: pl.Int64 if name == number else pl.String for name in data})
        table = pa.table(data, schema=pa.schema([(name, pa.int64() if name == number else pa.string())
                                                 for name in data]))
        return duckdb.from_arrow(table) if kind == "duckdb" else table

    return make(left_data, "id"), make(right_data, "rid")


RECORDS = st.lists(st.fixed_dictionaries({f: st.one_of(st.none(), st.sampled_from(WORDS)) for f in FIELDS}),
                   max_size=6)


@pytest.mark.parametrize("kind", ["pandas", "polars", "pyarrow", "duckdb"])
@settings(max_examples=25, deadline=None)
@given(left=RECORDS, right=RECORDS, on=st.sampled_from(WEIGHTS), k=st.sampled_from([1, 3]),
       threshold=st.sampled_from([0.0, 0.5, 0.8]), how=st.sampled_from(["inner", "left"]),
       scorers=st.sampled_from([None, {"city": "token_set", "name": "token_sort"}]))
def test_join_and_dedupe_match_brute_force(kind, left, right, on, k, threshold, how, scorers):
    scorers = {f: s for f, s in scorers.items() if f in on} if scorers else None
    left_table, right_table = make_tables(kind, left, right)
    got = pj.fuzzy_join(left_table, right_table, on=on, right_on={f: c for f, c in RIGHT_ON.items() if f in on},
                        k=k, threshold=threshold, how=how, scorers=scorers, field_scores=True)
    assert names_of(got) == [
        "name", "city_left", "dob_left", "id", "full_name", "city_right", "dob_right", "rid", "score",
        *[f"score_{f}" for f in on]]
    assert rows_of(got) == model_join(left, right, on, k, threshold, how, scorers)
    labels = pj.dedupe(make_tables(kind, left, right)[0], on, threshold, scorers=scorers)
    assert (labels.to_pylist() if isinstance(labels, pa.Array) else list(labels)) == model_clusters(
        left, on, threshold, scorers)


def test_without_field_scores_the_columns_are_those_of_one_key():
    left, right = make_tables("pandas", *(random_records(random.Random(seed), 8) for seed in (1, 2)))
    got = pj.fuzzy_join(left, right.rename(columns={"full_name": "name"}), on={"name": 2.0, "dob": 1.0}, k=2)
    assert list(got.columns) == ["name_left", "city_left", "dob_left", "id", "name_right", "city_right",
                                 "dob_right", "rid", "score"]


@pytest.mark.parametrize("call, error, message", [
    (lambda l, r: pj.fuzzy_join(l, r, on={"name": 1.0, "town": 1.0}, right_on=RIGHT_ON), KeyError,
     "column 'town' not in left"),
    (lambda l, r: pj.fuzzy_join(l, r, on={"name": 1.0, "dob": 1.0}, right_on={"name": "nom"}), KeyError,
     "column 'nom' not in right"),
    (lambda l, r: pj.fuzzy_join(l, r, on={"city": 1.0}, right_on={"name": "full_name"}), ValueError,
     "right_on names 'name', which is not a field of on"),
    (lambda l, r: pj.fuzzy_join(l, r, on={"city": 1.0}, scorers={"dob": "token_set"}), ValueError,
     "scorers names 'dob', which is not a field of on"),
    (lambda l, r: pj.fuzzy_join(l, r, "city", on={"city": 1.0}), TypeError,
     "give either left_on (one key column) or on (several weighted fields), not both"),
    (lambda l, r: pj.fuzzy_join(l, r, on={}), TypeError,
     "on must be a mapping of column to weight, like {'name': 0.6, 'city': 0.4}"),
    (lambda l, r: pj.fuzzy_join(l, r, on={"city": 1.0}, right_on="town"), TypeError,
     "with on={...}, right_on must be a mapping of field to column of right, like {'name': 'full_name'}"),
    (lambda l, r: pj.fuzzy_join(l, r, {"city": 1.0}), TypeError,
     "give the key column as left_on, or several weighted fields as on={column: weight, ...}"),
    (lambda l, r: pj.fuzzy_join(l, r, "city", field_scores=True), ValueError,
     "scorers and field_scores go with several fields: on={column: weight, ...}"),
    (lambda l, r: pj.fuzzy_join(l.assign(score_city=1), r, on={"city": 1.0}, field_scores=True), ValueError,
     "the joined table would have two columns named 'score_city'; rename one or choose other suffixes"),
    (lambda l, r: pj.dedupe(l, {"city": 1.0, "town": 1.0}, 0.5), KeyError, "column 'town' not in frame"),
])
def test_errors_name_the_field(call, error, message):
    left, right = make_tables("pandas", *(random_records(random.Random(seed), 3) for seed in (3, 4)))
    with pytest.raises(error, match=re.escape(message)):
        call(left, right)


@pytest.mark.parametrize("weights, scorers", [({"city": 1.0, "dob": 0.0}, None), ({"city": float("inf")}, None),
                                              ({"city": 1.0}, {"city": "cosine"})])
def test_bad_weights_and_scorers_are_refused_before_any_work(weights, scorers):
    left, right = make_tables("pandas", *(random_records(random.Random(seed), 3) for seed in (5, 6)))
    field = list(scorers or weights)[-1]
    with pytest.raises(ValueError, match=f"'{field}'"):
        pj.fuzzy_join(left, right, on=weights, scorers=scorers, progress=lambda done, total: pytest.fail("work"))
