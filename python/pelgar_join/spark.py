"""fuzzy_join for Spark DataFrames: the matching runs on the executors, the answer exactly that of
fuzzy_join on the collected tables.

The applications whose workers were seen to import pelgar_join are remembered for the life of the
process, so that each is checked once."""

from __future__ import annotations

import sys
from typing import TYPE_CHECKING, Optional, Sequence

from . import partitioned
from ._extras import need
from .tables import check_options, column, keys, native, result_names

if TYPE_CHECKING:
    import pyspark.sql


_WORKERS_CHECKED = set()


def _check_workers(context):
    """ImportError in one line, before any job of the join, if the workers' Python lacks pelgar."""
    if context.applicationId in _WORKERS_CHECKED:
        return

    # nested, so that it is shipped by value and runs where pelgar_join may be missing
    def probe(_):
        import sys as worker_sys

        try:
            import pelgar_join  # noqa: F401
        except ImportError:
            return worker_sys.executable
        return None

    lacking = [python for python in context.parallelize([0], 1).map(probe).collect() if python]
    if lacking:
        raise ImportError(f"Spark's Python workers cannot import pelgar_join: their Python ({lacking[0]}) lacks "
                          "pelgar; set PYSPARK_PYTHON to an interpreter that has it, such as this driver's "
                          f"sys.executable ({sys.executable}), before the Spark session starts")
    _WORKERS_CHECKED.add(context.applicationId)


def _schema(left, right, how, suffixes):
    """The joined table's Spark schema: left's fields, right's (nullable in a left join), score."""
    types = need("pyspark.sql.types", "spark")
    left_names, right_names = result_names(left.columns, right.columns, suffixes)
    fields = [types.StructField(name, field.dataType, field.nullable)
              for name, field in zip(left_names, left.schema.fields)]
    fields += [types.StructField(name, field.dataType, field.nullable or how == "left")
               for name, field in zip(right_names, right.schema.fields)]
    fields.append(types.StructField("score", types.DoubleType(), how == "left"))
    return types.StructType(fields)


def fuzzy_join(left: pyspark.sql.DataFrame, right: pyspark.sql.DataFrame, left_on: str,
               right_on: Optional[str] = None, *, k: int = 1, threshold: float = 0.0,
               scorer: str = "combined", how: str = "inner", workers: Optional[int] = None,
               suffixes: Sequence[Optional[str]] = ("_left", "_right"),
               broadcast: Optional[bool] = None) -> pyspark.sql.DataFrame:
    """pelgar_join.fuzzy_join for Spark DataFrames; returns a Spark DataFrame.

    `broadcast=None` collects a one-partition `right` to the driver and broadcasts it with its
    index to every executor; `False` matches each left partition against each right partition
    and merges the top-k lists exactly (ties by global right position); `True` always broadcasts.
    """
    need("pyspark", "spark")
    need("pandas", "join")
    check_options(k, how, suffixes)
    right_on = left_on if right_on is None else right_on
    column(left, left_on, "left")
    column(right, right_on, "right")
    _check_workers(left.sparkSession.sparkContext)
    schema = _schema(left, right, how, suffixes)
    if broadcast is None:
        broadcast = right.rdd.getNumPartitions() == 1
    if broadcast:
        return _join_broadcast(left, right, left_on, right_on, k, threshold, scorer, workers, how,
                               suffixes, schema)
    return _join_partitioned(left, right, left_on, right_on, k, threshold, scorer, workers, how, schema)


def _join_broadcast(left, right, left_on, right_on, k, threshold, scorer, workers, how, suffixes, schema):
    table = right.toPandas()
    shared = left.sparkSession.sparkContext.broadcast(
        (native().Index(keys(table[right_on]), scorer=scorer), table))

    def join_batches(batches):
        for batch in batches:
            yield partitioned.join_whole(batch, shared.value, left_on, k, threshold, workers, how, suffixes)

    return left.mapInPandas(join_batches, schema)


def _join_partitioned(left, right, left_on, right_on, k, threshold, scorer, workers, how, schema):
    Index = native().Index
    left_position = left.columns.index(left_on)
    right_position = right.columns.index(right_on)
    width = len(right.columns)

    # each executor process indexes a right partition once, for every left partition it meets
    token = partitioned.new_token()

    def index_part(number, rows):
        rows = list(rows)
        return [(number, [tuple(row) for row, _ in rows], [position for _, position in rows])]

    def match(pair):
        left_rows, (number, right_rows, positions) = pair
        index = partitioned.cached_index(
            Index, token, number, lambda: keys_of([row[right_position] for row in right_rows]), scorer)
        found = index.top_k(keys_of([row[left_position] for row, _ in left_rows]), k,
                            threshold=threshold, workers=workers)
        for (row, position), matches in zip(left_rows, found):
            yield position, (tuple(row), [(positions[at], score, right_rows[at]) for at, score in matches])

    def merge(a, b):
        return a[0], partitioned.best(k, a[1] + b[1])

    def rows_out(item):
        row, matches = item[1]
        if not matches and how == "left":
            yield row + (None,) * width + (None,)
        for _, score, right_row in partitioned.best(k, matches):
            yield row + right_row + (score,)

    indexes = right.rdd.zipWithIndex().mapPartitionsWithIndex(index_part)
    matched = left.rdd.zipWithIndex().glom().cartesian(indexes).flatMap(match)
    joined = matched.reduceByKey(merge).flatMap(rows_out)
    return left.sparkSession.createDataFrame(joined, schema)


def keys_of(values):
    """Key texts of Spark rows, missing ones (None, NaN) as None."""
    import pandas as pd

    return keys(pd.Series(values, dtype=object))
