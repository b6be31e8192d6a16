"""fuzzy_join and dedupe on polars, pyarrow and DuckDB tables against the same calls on pandas."""

import subprocess
import sys

import pytest

pd = pytest.importorskip("pandas")
pa = pytest.importorskip("pyarrow")
pl = pytest.importorskip("polars")
duckdb = pytest.importorskip("duckdb")
from hypothesis import given, settings, strategies as st  # noqa: E402

import pelgar_join as pj  # noqa: E402
from test_arrow import polars_version  # noqa: E402
from test_tables import as_rows  # noqa: E402

TEXTS = st.one_of(st.text(alphabet="abc d\u00e9", max_size=6), st.none())


def rows_of(table):
    """Rows as tuples, missing values as None, whatever the kind."""
    if isinstance(table, pd.DataFrame):
        return as_rows(table)
    if isinstance(table, pl.DataFrame):
        return table.rows()
    return list(zip(*(column.to_pylist() for column in table.columns)))


def names_of(table):
    return list(table.columns) if not isinstance(table, pa.Table) else table.column_names


@settings(max_examples=40, deadline=None)
@given(left=st.lists(TEXTS, max_size=6), right=st.lists(TEXTS, max_size=7), k=st.sampled_from([1, 3]),
       threshold=st.sampled_from([0.0, 0.5, 0.8]), how=st.sampled_from(["inner", "left"]), clash=st.booleans())
def test_every_kind_joins_as_pandas_does(left, right, k, threshold, how, clash):
    right_on = "key" if clash else "text"
    left_data = {"key": left, "n": list(range(len(left)))}
    right_data = {right_on: right, "n" if clash else "m": list(range(100, 100 + len(right)))}
    pandas_right = pd.DataFrame({**right_data, right_on: pd.Series(right, dtype=object)})
    want = pj.fuzzy_join(pd.DataFrame({**left_data, "key": pd.Series(left, dtype=object)}), pandas_right, "key",
                         right_on, k=k, threshold=threshold, how=how)
    arrow_left = pa.table(left_data, schema=pa.schema([("key", pa.string()), ("n", pa.int64())]))
    kinds = [(lambda: pl.DataFrame(left_data, schema={"key": pl.String, "n": pl.Int64}), pl.DataFrame),
             (lambda: arrow_left, pa.Table), (lambda: duckdb.from_arrow(arrow_left), pa.Table)]
    for make, kind in kinds:
        for right_table in (pl.DataFrame(right_data), pa.table(right_data), pandas_right):
            got = pj.fuzzy_join(make(), right_table, "key", right_on, k=k, threshold=threshold, how=how)
            assert isinstance(got, kind)
            assert names_of(got) == list(want.columns)
            assert rows_of(got) == rows_of(want)
    labels = pj.dedupe(pd.DataFrame({"key": pd.Series(left, dtype=object)}), "key", threshold).tolist()
    assert pj.dedupe(pl.DataFrame(left_data, schema={"key": pl.String, "n": pl.Int64}), "key",
                     threshold).to_list() == labels
    assert pj.dedupe(arrow_left, "key", threshold).to_pylist() == labels


def test_categorical_keys_and_kind_errors():
    names = ["Jon Smith", "Mary", None, "Jon Smith"]
    plain = pl.DataFrame({"name": names})
    if polars_version(pl) >= (1, 9):  # the last polars for Python 3.8 exports categories as a broken stream
        categorical = pl.DataFrame({"name": pl.Series(names, dtype=pl.Categorical)})
        assert pj.fuzzy_join(categorical, categorical, "name").rows() == pj.fuzzy_join(plain, plain, "name").rows()
    assert pj.dedupe(pd.DataFrame({"name": pd.Series(names, dtype="category")}), "name", 0.9).tolist() == [0, 1, 2, 0]
    with pytest.raises(KeyError, match="column 'x' not in right"):
        pj.fuzzy_join(plain, pa.table({"y": ["a"]}), "name", "x")
    with pytest.raises(TypeError, match="left must be a pandas, polars or pyarrow table"):
        pj.fuzzy_join({"name": ["a"]}, plain, "name")
    with pytest.raises(ValueError, match="two columns named 'score'"):
        pj.fuzzy_join(plain.with_columns(score=1), plain, "name")


@pytest.mark.parametrize("kind", ["polars", "pyarrow"])
def test_polars_and_pyarrow_need_no_pandas(kind):
    make = {"polars": "import polars as pl; t = pl.DataFrame", "pyarrow": "import pyarrow as pa; t = pa.table"}[kind]
    hide_pandas = ("import sys\n"
                   "class Hide:\n"
                   "    def find_spec(self, name, path=None, target=None):\n"
                   "        if name.split('.')[0] == 'pandas': raise ModuleNotFoundError(name)\n"
                   "sys.meta_path.insert(0, Hide())\n")
    code = (f"{hide_pandas}{make}\n"
            "import pelgar_join as pj\n"
            "left = t({'name': ['Jon Smith', None]}); right = t({'name': ['John Smith', 'x']})\n"
            "print(type(pj.fuzzy_join(left, right, 'name', how='left')).__name__, list(pj.dedupe(left, 'name', 0.5)))\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split()[0] == {"polars": "DataFrame", "pyarrow": "Table"}[kind]
