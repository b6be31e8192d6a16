"""pelgar_join.spark.fuzzy_join on Spark in local mode with two threads, compared with the
in-process fuzzy_join on the collected tables."""

import os
import random
import subprocess
import sys

import pytest

pd = pytest.importorskip("pandas")
pytest.importorskip("pyspark")

import pelgar_join as pj  # noqa: E402
from pelgar_join import partitioned  # noqa: E402
from join_model import tie_heavy_texts  # noqa: E402

pytestmark = [
    pytest.mark.engines,
    pytest.mark.filterwarnings("ignore:PySpark does not yet fully support pandas"),
    pytest.mark.filterwarnings("ignore:The copy keyword is deprecated"),
]


LEFT = pd.DataFrame({"name": tie_heavy_texts(30, 3), "id": range(30)})
RIGHT = pd.DataFrame({"name": tie_heavy_texts(50, 4), "id": range(100, 150), "flag": [True, False] * 25})


@pytest.fixture(scope="module")
def spark():
    from pyspark.sql import SparkSession

    # executors run this interpreter, which has pelgar installed
    before = os.environ.get("PYSPARK_PYTHON")
    os.environ["PYSPARK_PYTHON"] = sys.executable
    session = (SparkSession.builder.master("local[2]").appName("pelgar-join-tests")
               .config("spark.ui.enabled", "false").config("spark.sql.shuffle.partitions", "4")
               .getOrCreate())
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()
    if before is None:
        del os.environ["PYSPARK_PYTHON"]
    else:
        os.environ["PYSPARK_PYTHON"] = before


def rows_of(frame):
    return [tuple(None if pd.isna(value) else value for value in row) for row in frame.itertuples(index=False)]


def canonical(frame):
    return sorted(rows_of(frame), key=repr)


def frames(spark, right_parts, left=LEFT, right=RIGHT):
    left = spark.createDataFrame(left).repartition(3)  # more partitions than cores: some tasks take several
    right = spark.createDataFrame(right)
    right = right.coalesce(1) if right_parts == 1 else right.repartition(right_parts)
    # the answer is that of the collected tables, whose row order the partitioning sets
    return left, right, left.toPandas(), right.toPandas()


@pytest.mark.parametrize("how, k, right_parts, broadcast", [
    ("inner", 1, 1, None), ("left", 3, 1, None),
    ("inner", 3, 3, None), ("left", 1, 3, None),
    ("left", 3, 3, True),
])
def test_same_rows_as_in_process(spark, how, k, right_parts, broadcast):
    left, right, left_rows, right_rows = frames(spark, right_parts)
    got = pj.spark.fuzzy_join(left, right, "name", k=k, threshold=0.5, how=how, broadcast=broadcast)
    want = pj.fuzzy_join(left_rows, right_rows, "name", k=k, threshold=0.5, how=how)
    assert got.columns == list(want.columns)
    assert canonical(got.toPandas()) == canonical(want)
    if right_parts > 1 and not broadcast:
        # left partition by partition, each row's matches in rank order: the order of the collected tables
        assert rows_of(got.toPandas()) == rows_of(want)


def test_ties_go_to_the_global_position_whatever_the_partitions(spark):
    left = spark.createDataFrame(pd.DataFrame({"t": ["same"] * 3}))
    right = spark.createDataFrame(pd.DataFrame({"t": ["same"] * 8, "n": range(8)})).repartition(4)
    right_rows = right.toPandas()
    got = pj.spark.fuzzy_join(left, right, "t", k=3, broadcast=False).toPandas()
    want = pj.fuzzy_join(left.toPandas(), right_rows, "t", k=3)
    assert sorted(got["n"]) == sorted(right_rows["n"][:3].tolist() * 3)
    assert canonical(got) == canonical(want)


def test_other_key_name_options_and_errors(spark):
    left = spark.createDataFrame(LEFT)
    right = spark.createDataFrame(RIGHT.rename(columns={"name": "label"})).repartition(2)
    got = pj.spark.fuzzy_join(left, right, "name", "label", k=2, scorer="token_sort",
                              suffixes=("_a", "_b"), broadcast=False)
    want = pj.fuzzy_join(left.toPandas(), right.toPandas(), "name", "label", k=2, scorer="token_sort",
                         suffixes=("_a", "_b"))
    assert got.columns == ["name", "id_a", "label", "id_b", "flag", "score"] == list(want.columns)
    assert canonical(got.toPandas()) == canonical(want)
    with pytest.raises(KeyError, match="column 'nope' not in right"):
        pj.spark.fuzzy_join(left, right, "name", "nope")
    with pytest.raises(ValueError, match="k must be at least 1"):
        pj.spark.fuzzy_join(left, right, "name", "label", k=0)


@pytest.mark.parametrize("right_parts, broadcast", [(1, None), (3, False)])
def test_weighted_fields_match_brute_force(spark, right_parts, broadcast, monkeypatch):
    from test_record_tables import FIELDS, RIGHT_ON, make_tables, model_join, random_records

    # partitions travel split into blobs of this many bytes at most: here a row or so each
    monkeypatch.setattr(pj.spark, "CHUNK_BYTES", 1000)

    chooser = random.Random(right_parts)
    left_table, right_table = make_tables("pandas", random_records(chooser, 30), random_records(chooser, 25))
    left, right, left_rows, right_rows = frames(spark, right_parts, left_table, right_table)
    on = {"name": 0.4, "city": 0.3, "dob": 0.3}
    got = pj.spark.fuzzy_join(left, right, on=on, right_on=RIGHT_ON, k=2, threshold=0.5, how="left",
                              field_scores=True, broadcast=broadcast).toPandas()
    records = [[{f: None if pd.isna(v) else v for f, v in row.items()} for row in table.to_dict("records")]
               for table in (left_rows, right_rows.rename(columns={"full_name": "name"}))]
    want = model_join(*records, on, 2, 0.5, "left")
    assert canonical(got) == canonical(pd.DataFrame(want, columns=got.columns))


WITHOUT_PELGAR = """
import sys
import pandas as pd
from pyspark.sql import SparkSession
import pelgar_join as pj

spark = (SparkSession.builder.master("local[1]").config("spark.ui.enabled", "false").getOrCreate())
spark.sparkContext.setLogLevel("OFF")
frame = spark.createDataFrame(pd.DataFrame({"name": ["a", "b"]}))
try:
    pj.spark.fuzzy_join(frame, frame.coalesce(1), "name")
except ImportError as error:
    print(error)
spark.stop()
"""


def test_workers_without_pelgar_are_named_in_one_line(tmp_path):
    import pyspark

    # Workers run the base interpreter without its site-packages: pyspark alone is on their path.
    shelf = tmp_path / "shelf"
    shelf.mkdir()
    (shelf / "pyspark").symlink_to(os.path.dirname(pyspark.__file__))
    worker = tmp_path / "python-without-pelgar"
    base = getattr(sys, "_base_executable", sys.executable)
    worker.write_text(f'#!/bin/sh\nexec "{base}" -S "$@"\n')
    worker.chmod(0o755)
    env = {**os.environ, "PYSPARK_PYTHON": str(worker), "PYTHONPATH": str(shelf)}
    done = subprocess.run([sys.executable, "-c", WITHOUT_PELGAR], capture_output=True, text=True, env=env,
                          timeout=300)
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stdout == (
        f"Spark's Python workers cannot import pelgar_join: their Python ({base}) lacks pelgar; set "
        f"PYSPARK_PYTHON to an interpreter that has it, such as this driver's sys.executable ({sys.executable}), "
        "before the Spark session starts\n")


@pytest.mark.parametrize("how", ["inner", "left"])
def test_partitioned_right_with_empty_partitions(spark, how):
    # right partitions without rows, and a right without any: every left row still comes out once for "left"
    left, right, left_rows, right_rows = frames(spark, 6, LEFT, RIGHT.iloc[:3])
    for right, right_rows in ((right, right_rows), (right.limit(0), right_rows.iloc[:0])):
        got = pj.spark.fuzzy_join(left, right.repartition(6), "name", k=2, how=how, broadcast=False)
        want = pj.fuzzy_join(left_rows, right_rows, "name", k=2, how=how)
        assert canonical(got.toPandas()) == canonical(want)


@pytest.mark.parametrize("k", [1, 3])
def test_cutoffs_at_actual_scores_change_nothing(spark, monkeypatch, k):
    # rows whose k-th match ties a cutoff are settled there, the others searched again below it
    left, right, left_rows, right_rows = frames(spark, 3)
    want = pj.fuzzy_join(left_rows, right_rows, "name", k=k, how="left")
    scores = sorted(set(want["score"].dropna()), reverse=True)
    monkeypatch.setattr(partitioned, "CASCADE", tuple(scores[::max(1, len(scores) // 5)]))
    got = pj.spark.fuzzy_join(left, right, "name", k=k, how="left", broadcast=False).toPandas()
    assert rows_of(got) == rows_of(want)
