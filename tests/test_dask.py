"""pelgar_join.dask.fuzzy_join on a dask.distributed cluster of two worker processes, compared with
the in-process fuzzy_join on the computed tables."""

import pathlib
import random
import subprocess
import sys

import pytest

pd = pytest.importorskip("pandas")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import pelgar_join as pj  # noqa: E402
from pelgar_join import partitioned  # noqa: E402
from join_model import tie_heavy_texts  # noqa: E402

pytestmark = pytest.mark.engines


LEFT = pd.DataFrame({"name": tie_heavy_texts(40, 1), "id": range(40), "tag": ["l"] * 40})
RIGHT = pd.DataFrame({"name": tie_heavy_texts(60, 2), "id": range(100, 160), "flag": [True, False] * 30})


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        yield client


def canonical(frame):
    """Rows in one order, missing values as None: the comparison is order aside."""
    frame = frame.reset_index(drop=True)
    rows = [tuple(None if pd.isna(value) else value for value in row) for row in frame.itertuples(index=False)]
    return sorted(rows, key=repr)


def same(got, want):
    assert list(got.columns) == list(want.columns)
    assert canonical(got) == canonical(want)


@pytest.mark.parametrize("how", ["inner", "left"])
@pytest.mark.parametrize("k", [1, 3])
@pytest.mark.parametrize("right_parts, broadcast", [(0, None), (1, None), (4, None), (4, True), (1, False)])
def test_same_rows_as_in_process(client, how, k, right_parts, broadcast):
    right = RIGHT if right_parts == 0 else dd.from_pandas(RIGHT, npartitions=right_parts)
    left = dd.from_pandas(LEFT, npartitions=3)
    got = pj.dask.fuzzy_join(left, right, "name", k=k, threshold=0.5, how=how, broadcast=broadcast)
    assert isinstance(got, dd.DataFrame)
    want = pj.fuzzy_join(LEFT, RIGHT, "name", k=k, threshold=0.5, how=how)
    same(got.compute(), want)
    assert list(got.columns) == list(want.columns)


def test_partitioning_never_changes_the_answer(client):
    # every text equal: all scores tie, so the global position alone picks the k rows
    left = pd.DataFrame({"t": ["same"] * 5})
    right = pd.DataFrame({"t": ["same"] * 9, "n": range(9)})
    want = pj.fuzzy_join(left, right, "t", k=4)
    assert list(want["n"]) == [0, 1, 2, 3] * 5
    for parts in (2, 3, 9):
        got = pj.dask.fuzzy_join(dd.from_pandas(left, npartitions=2), dd.from_pandas(right, npartitions=parts),
                                 "t", k=4, broadcast=False).compute()
        same(got, want)


def test_pandas_left_other_key_name_and_options(client):
    right = RIGHT.rename(columns={"name": "label"})
    got = pj.dask.fuzzy_join(LEFT, dd.from_pandas(right, npartitions=2), "name", "label", k=2,
                             scorer="token_set", suffixes=("_a", "_b"), broadcast=False)
    same(got.compute(), pj.fuzzy_join(LEFT, right, "name", "label", k=2, scorer="token_set", suffixes=("_a", "_b")))


def test_broadcast_right_reaches_each_worker_once(client):
    got = pj.dask.fuzzy_join(dd.from_pandas(LEFT, npartitions=6), RIGHT, "name")
    shared = [key for key, holders in client.who_has().items() if len(holders) == 2]
    assert shared, "the index and table are held by both workers"
    same(got.compute(), pj.fuzzy_join(LEFT, RIGHT, "name"))


def test_errors(client):
    left = dd.from_pandas(LEFT, npartitions=2)
    with pytest.raises(KeyError, match="column 'nope' not in right"):
        pj.dask.fuzzy_join(left, RIGHT, "name", "nope")
    with pytest.raises(KeyError, match="column 'nope' not in left"):
        pj.dask.fuzzy_join(left, dd.from_pandas(RIGHT, npartitions=2), "nope", "name")
    with pytest.raises(ValueError, match="how must be"):
        pj.dask.fuzzy_join(left, RIGHT, "name", how="right")


@pytest.mark.parametrize("right_parts, broadcast", [(0, None), (3, False)])
def test_weighted_fields_match_brute_force(client, right_parts, broadcast):
    from test_record_tables import RIGHT_ON, make_tables, model_join, random_records

    chooser = random.Random(right_parts)
    left, right = random_records(chooser, 30), random_records(chooser, 25)
    left_table, right_table = make_tables("pandas", left, right)
    if right_parts:
        right_table = dd.from_pandas(right_table, npartitions=right_parts)
    on = {"name": 0.4, "city": 0.3, "dob": 0.3}
    got = pj.dask.fuzzy_join(dd.from_pandas(left_table, npartitions=2), right_table, on=on, right_on=RIGHT_ON, k=2,
                             threshold=0.5, how="left", field_scores=True, broadcast=broadcast).compute()
    same(got, pd.DataFrame(model_join(left, right, on, 2, 0.5, "left"), columns=got.columns))


def test_without_a_cluster_the_local_scheduler_gives_the_same_rows():
    code = f"""
import sys
sys.path.insert(0, {str(pathlib.Path(__file__).resolve().parent)!r})
import pandas as pd, dask.dataframe as dd, pelgar_join as pj
import test_dask as t
for broadcast in (None, False):
    got = pj.dask.fuzzy_join(dd.from_pandas(t.LEFT, npartitions=2), dd.from_pandas(t.RIGHT, npartitions=3),
                             "name", k=2, how="left", broadcast=broadcast).compute(scheduler="threads")
    print(t.canonical(got) == t.canonical(pj.fuzzy_join(t.LEFT, t.RIGHT, "name", k=2, how="left")))
"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["True", "True"]


@pytest.mark.parametrize("k", [1, 3])
def test_cutoffs_at_actual_scores_change_nothing(client, monkeypatch, k):
    # rows whose k-th match ties a cutoff are settled there, the others searched again below it
    want = pj.fuzzy_join(LEFT, RIGHT, "name", k=k, how="left")
    scores = sorted(set(want["score"].dropna()), reverse=True)
    monkeypatch.setattr(partitioned, "CASCADE", tuple(scores[::max(1, len(scores) // 5)]))
    got = pj.dask.fuzzy_join(dd.from_pandas(LEFT, npartitions=3), dd.from_pandas(RIGHT, npartitions=4), "name", k=k,
                             how="left", broadcast=False).compute()
    same(got, want)
    assert list(got["id_right"].fillna(-1)) == list(want["id_right"].fillna(-1))  # rank order too
