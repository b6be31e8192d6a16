"""fuzzy_join for Spark DataFrames: the matching runs on the executors, the answer exactly that of
fuzzy_join on the collected tables.

The applications whose workers were seen to import pelgar_join are remembered for the life of the
process, so that each is checked once."""

from __future__ import annotations

import sys
from typing import TYPE_CHECKING, Mapping, Optional, Sequence, Union

from . import partitioned
from ._extras import need
from .frames import ArrowFrame
from .tables import Keys, Scorers, Weights, check_options, keys, result_names

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


def _schema(left, right, how, suffixes, score_names):
    """The joined table's Spark schema: left's fields, right's (nullable in a left join), score, then
    the field scores."""
    types = need("pyspark.sql.types", "spark")
    left_names, right_names = result_names(left.columns, right.columns, suffixes, score_names)
    fields = [types.StructField(name, field.dataType, field.nullable)
              for name, field in zip(left_names, left.schema.fields)]
    fields += [types.StructField(name, field.dataType, field.nullable or how == "left")
               for name, field in zip(right_names, right.schema.fields)]
    fields.append(types.StructField("score", types.DoubleType(), how == "left"))
    fields += [types.StructField(name, types.DoubleType(), True) for name in score_names]
    return types.StructType(fields)


def fuzzy_join(left: pyspark.sql.DataFrame, right: pyspark.sql.DataFrame, left_on: Optional[str] = None,
               right_on: Union[str, Mapping[str, str], None] = None, *, on: Optional[Weights] = None, k: int = 1,
               threshold: float = 0.0, scorer: str = "combined", scorers: Scorers = None, how: str = "inner",
               workers: Optional[int] = None, suffixes: Sequence[Optional[str]] = ("_left", "_right"),
               broadcast: Optional[bool] = None, field_scores: bool = False) -> pyspark.sql.DataFrame:
    """pelgar_join.fuzzy_join for Spark DataFrames; returns a Spark DataFrame.

    `broadcast=None` collects a one-partition `right` to the driver and broadcasts it with its
    index to every executor; `False` matches each left partition against each right partition
    and merges the top-k lists exactly (ties by global right position); `True` always broadcasts.
    """
    need("pyspark", "spark")
    need("pandas", "join")
    check_options(k, how, suffixes)
    key_columns = Keys(left_on, right_on, on, scorer, scorers, field_scores)
    key_columns.check(left, right)
    _check_workers(left.sparkSession.sparkContext)
    schema = _schema(left, right, how, suffixes, key_columns.score_names)
    if broadcast is None:
        broadcast = right.rdd.getNumPartitions() == 1
    if broadcast:
        return _join_broadcast(left, right, key_columns, k, threshold, workers, how, suffixes, schema)
    return _join_partitioned(left, right, key_columns, k, threshold, workers, how, schema)


def _join_broadcast(left, right, key_columns, k, threshold, workers, how, suffixes, schema):
    table = _collect_arrow(right)
    shared = left.sparkSession.sparkContext.broadcast((key_columns.index(ArrowFrame(table).texts), table))

    # Arrow batches in and out: no pandas round trip on the executors
    def join_batches(batches):
        index, right_table = shared.value
        for batch in batches:
            yield from partitioned.join_arrow(batch, index, right_table, key_columns, k, threshold, workers, how,
                                              suffixes)

    # one task per core: each streams its batches, and a task's start costs more than matching a batch
    cores = left.sparkSession.sparkContext.defaultParallelism
    if left.rdd.getNumPartitions() > cores:
        left = left.coalesce(cores)
    return left.mapInArrow(join_batches, schema)


def _collect_arrow(frame):
    """The rows of a Spark DataFrame as a pyarrow Table, in the order toPandas gives them."""
    if hasattr(frame, "toArrow"):
        return frame.toArrow()
    # pyspark before 4.0: the same collection, by its private name
    pa = need("pyarrow", "spark")
    from pyspark.sql.pandas.types import to_arrow_schema

    return pa.Table.from_batches(frame._collect_as_arrow(), schema=to_arrow_schema(frame.schema))


def _join_partitioned(left, right, key_columns, k, threshold, workers, how, schema):
    left_at = {name: at for at, name in enumerate(left.columns)}
    right_at = {name: at for at, name in enumerate(right.columns)}
    width = len(right.columns)
    missing_scores = (None,) * len(key_columns.score_names)

    # each executor process indexes a right partition once, for every left partition it meets
    token = partitioned.new_token()

    def right_part(number, rows):
        rows = list(rows)
        return [(number, [tuple(row) for row, _ in rows], [position for _, position in rows])]

    def left_part(number, rows):
        return [(number, [tuple(row) for row in rows])]

    def match(pair):
        (number, left_rows), (right_number, right_rows, positions) = pair
        index = partitioned.cached_index(
            token, right_number, key_columns, lambda name: keys_of([row[right_at[name]] for row in right_rows]))
        queries = key_columns.queries(lambda name: keys_of([row[left_at[name]] for row in left_rows]))
        found = partitioned.with_field_scores(key_columns, index, queries,
                                              index.top_k(queries, k, threshold=threshold, workers=workers))
        lists = [[(positions[at], score, right_rows[at], fields) for at, score, fields in matches]
                 for matches in found]
        return number, (left_rows, lists)

    def merge(a, b):
        return a[0], [partitioned.best(k, one + other) for one, other in zip(a[1], b[1])]

    def rows_out(item):
        left_rows, lists = item[1]
        for row, matches in zip(left_rows, lists):
            if not matches and how == "left":
                yield row + (None,) * width + (None,) + missing_scores
            for _, score, right_row, fields in partitioned.best(k, matches):
                yield row + right_row + (score,) + fields

    # Both sides are made once and kept: the cartesian product would make each again for every pair.
    rights = right.rdd.zipWithIndex().mapPartitionsWithIndex(right_part).cache()
    lefts = left.rdd.mapPartitionsWithIndex(left_part).cache()
    # one record per pair of partitions, merged per left partition: no shuffle record per row
    matched = lefts.cartesian(rights).map(match)
    joined = matched.reduceByKey(merge, numPartitions=max(1, lefts.getNumPartitions())).flatMap(rows_out)
    return left.sparkSession.createDataFrame(joined, schema)


def keys_of(values):
    """Key texts of Spark rows, missing ones (None, NaN) as None."""
    import pandas as pd

    return keys(pd.Series(values, dtype=object))
