"""pelgar_join.fuzzy_join and dedupe on pandas tables, compared with a brute-force model."""

import math
import subprocess
import sys

import pytest

pd = pytest.importorskip("pandas")
np = pytest.importorskip("numpy")
from hypothesis import given, settings, strategies as st  # noqa: E402

import pelgar  # noqa: E402
import pelgar_join as pj  # noqa: E402
from join_model import SCORE, clusters_of_pairs, self_join_brute, top_k_brute  # noqa: E402


def missing(value):
    return value is None or value is pd.NA or (isinstance(value, float) and math.isnan(value))


def model_join(left, right, left_on, right_on, k, threshold, scorer, how):
    """Rows of the join as tuples (left values..., right values..., score), by brute force."""
    queries = [None if missing(v) else v for v in left[left_on]]
    candidates = [None if missing(v) else v for v in right[right_on]]
    right_rows = [tuple(row) for _, row in right.iterrows()]
    rows = []
    for (_, lrow), found in zip(left.iterrows(), top_k_brute(candidates, queries, k, threshold, scorer)):
        for position, score in found:
            rows.append(tuple(lrow) + right_rows[position] + (score,))
        if not found and how == "left":
            rows.append(tuple(lrow) + (None,) * len(right.columns) + (None,))
    return rows


def as_rows(frame):
    return [tuple(None if missing(v) else v for v in row) for row in frame.itertuples(index=False)]


TEXTS = st.one_of(st.text(alphabet="abc d\u00e9", max_size=6), st.none(), st.just(float("nan")))


@settings(max_examples=60, deadline=None)
@given(left=st.lists(TEXTS, max_size=6), right=st.lists(TEXTS, max_size=7),
       k=st.integers(1, 3), threshold=st.sampled_from([0.0, 0.4, 0.7, 1.0]),
       scorer=st.sampled_from(sorted(SCORE)), how=st.sampled_from(["inner", "left"]))
def test_join_matches_brute_force(left, right, k, threshold, scorer, how):
    lf = pd.DataFrame({"key": pd.Series(left, dtype=object), "n": range(len(left))})
    rf = pd.DataFrame({"text": pd.Series(right, dtype=object), "m": range(len(right))})
    got = pj.fuzzy_join(lf, rf, "key", "text", k=k, threshold=threshold, scorer=scorer, how=how)
    assert list(got.columns) == ["key", "n", "text", "m", "score"]
    assert as_rows(got) == [tuple(None if missing(v) else v for v in row)
                            for row in model_join(lf, rf, "key", "text", k, threshold, scorer, how)]
    assert isinstance(got.index, pd.RangeIndex) and got.index.start == 0


def test_join_exact_rows_and_scores():
    left = pd.DataFrame({"name": ["Jon Smith", "Mary", "zz"], "id": [1, 2, 3]}, index=[7, 8, 9])
    right = pd.DataFrame({"name": ["John Smith", "Marie", "Jon Smyth"], "id": [10, 20, 30]})
    got = pj.fuzzy_join(left, right, "name", k=2, threshold=0.6)
    assert list(got.columns) == ["name_left", "id_left", "name_right", "id_right", "score"]
    assert as_rows(got) == [
        ("Jon Smith", 1, "John Smith", 10, pelgar.combined_score("Jon Smith", "John Smith")),
        ("Jon Smith", 1, "Jon Smyth", 30, pelgar.combined_score("Jon Smith", "Jon Smyth")),
        ("Mary", 2, "Marie", 20, pelgar.combined_score("Mary", "Marie")),
    ]
    assert list(got.index) == [0, 1, 2]
    assert got["id_right"].dtype == np.int64


def test_left_join_keeps_unmatched_rows_once_with_missing_right():
    left = pd.DataFrame({"a": ["abc", "xyz", None], "flag": [True, False, True]})
    right = pd.DataFrame({"b": ["abd", "abc"], "n": [1, 2]})
    got = pj.fuzzy_join(left, right, "a", "b", k=3, threshold=0.9, how="left")
    assert as_rows(got) == [("abc", True, "abc", 2, 1.0), ("xyz", False, None, None, None),
                            (None, True, None, None, None)]
    # as pandas.merge does: an int column with missing values becomes float
    assert got["n"].dtype == np.float64 and got["score"].dtype == np.float64


def test_missing_keys_never_match():
    texts = [None, float("nan"), pd.NA, "x"]
    left = pd.DataFrame({"k": pd.Series(texts, dtype=object)})
    right = pd.DataFrame({"k": pd.Series(texts, dtype=object)})
    got = pj.fuzzy_join(left, right, "k")
    assert as_rows(got) == [("x", "x", 1.0)]
    typed = pd.DataFrame({"k": pd.array(["x", None], dtype="string")})
    assert as_rows(pj.fuzzy_join(typed, typed, "k", how="left")) == [("x", "x", 1.0), (None, None, None)]


def test_clashing_names_and_suffixes():
    left = pd.DataFrame({"name": ["ab"], "id": [1], "only_left": [0]})
    right = pd.DataFrame({"id": [2], "name": ["ab"]})
    got = pj.fuzzy_join(left, right, "name", suffixes=("_l", "_r"))
    assert list(got.columns) == ["name_l", "id_l", "only_left", "id_r", "name_r", "score"]
    got = pj.fuzzy_join(left, right, "name", suffixes=("", "_r"))
    assert list(got.columns) == ["name", "id", "only_left", "id_r", "name_r", "score"]
    with pytest.raises(ValueError, match="two columns named 'id'"):
        pj.fuzzy_join(left, right, "name", suffixes=("", ""))
    with pytest.raises(ValueError, match="two columns named 'score'"):
        pj.fuzzy_join(left.assign(score=1), right, "name")


def test_unknown_columns_and_bad_options():
    frame = pd.DataFrame({"a": ["x"]})
    with pytest.raises(KeyError, match="column 'b' not in left"):
        pj.fuzzy_join(frame, frame, "b", "a")
    with pytest.raises(KeyError, match="column 'b' not in right"):
        pj.fuzzy_join(frame, frame, "a", "b")
    with pytest.raises(KeyError, match="column 'b' not in frame"):
        pj.dedupe(frame, "b", 0.5)
    with pytest.raises(ValueError, match="how must be 'inner' or 'left', not 'outer'"):
        pj.fuzzy_join(frame, frame, "a", how="outer")
    with pytest.raises(ValueError, match="k must be at least 1, not 0"):
        pj.fuzzy_join(frame, frame, "a", k=0)
    with pytest.raises(TypeError, match="k must be an int, not float"):
        pj.fuzzy_join(frame, frame, "a", k=1.0)
    with pytest.raises(TypeError, match="progress must be"):
        pj.fuzzy_join(frame, frame, "a", progress="yes")


def test_progress_callable_and_bar(capsys):
    left = pd.DataFrame({"a": ["x", "y", "z"]})
    calls = []
    pj.fuzzy_join(left, left, "a", progress=lambda done, total: calls.append((done, total)))
    assert calls and calls[-1] == (3, 3)
    assert all(total == 3 and 0 <= done <= 3 for done, total in calls)

    def fail(done, total):
        raise RuntimeError("stop here")

    with pytest.raises(RuntimeError, match="stop here"):
        pj.fuzzy_join(left, left, "a", progress=fail)
    capsys.readouterr()
    pj.fuzzy_join(left, left, "a", progress=True)
    err = capsys.readouterr().err
    assert "3/3" in err and "queries" in err


@settings(max_examples=40, deadline=None)
@given(texts=st.lists(TEXTS, max_size=8), threshold=st.sampled_from([0.3, 0.6, 0.9]))
def test_dedupe_matches_union_of_similar_pairs(texts, threshold):
    labels = [f"r{i}" for i in range(len(texts))]
    frame = pd.DataFrame({"t": pd.Series(texts, dtype=object, index=labels)})
    got = pj.dedupe(frame, "t", threshold)
    assert got.name == "cluster" and list(got.index) == list(frame.index) and got.dtype == np.int64
    # brute force: the smallest position reachable through pairs scoring at least threshold
    assert list(got) == clusters_of_pairs(len(texts), self_join_brute(texts, threshold))


def test_without_pandas_the_package_imports_and_the_table_functions_name_the_extra():
    code = (
        "import sys; sys.modules['pandas'] = None\n"
        "import pelgar_join as pj\n"
        "try:\n"
        "    pj.fuzzy_join(None, None, 'a')\n"
        "except ImportError as error:\n"
        "    print(error)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert 'pip install "pelgar[join]"' in out.stdout
