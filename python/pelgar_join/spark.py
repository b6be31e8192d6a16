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
from .tables import Keys, Scorers, Weights, check_options, join_frames, result_names

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
    index to every executor; `False` matches each right partition against all of left (one task
    each) and merges the top-k lists exactly (ties by global right position); `True` always
    broadcasts.
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
    return _join_partitioned(left, right, key_columns, k, threshold, workers, how, suffixes, schema)


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


# Row ids of the partitioned join: the partition in the high bits, so that their order is right's row order.
LEFT_ROW, RIGHT_ROW, RANK = "__pelgar_left_row", "__pelgar_right_row", "__pelgar_rank"


def _join_partitioned(left, right, key_columns, k, threshold, workers, how, suffixes, schema):
    """Each right partition matched against all of left in one task, its index made once per process;
    both sides travel to the tasks as one Arrow blob per partition, not as Python rows. The k best of
    every right partition's lists are then kept per left row by a window ordered as one index over
    right ranks."""
    functions = need("pyspark.sql.functions", "spark")
    window = need("pyspark.sql.window", "spark").Window
    cores, parts = left.sparkSession.sparkContext.defaultParallelism, right.rdd.getNumPartitions()
    left = left.withColumn(LEFT_ROW, functions.monotonically_increasing_id())
    right = right.withColumn(RIGHT_ROW, functions.monotonically_increasing_id())
    if parts > cores:
        # fewer, larger indexes: each query searches every partition, and a larger one prunes better
        right, parts = right.coalesce(cores), cores
    token = partitioned.new_token()

    def pack(batches):
        batches = list(batches)
        if batches:
            yield _blob(batches[0].schema, batches)

    def match(batches):
        for batch in batches:
            for right_blob, left_blobs in _by_right(batch):
                yield from _match_blobs(left_blobs, right_blob, token, key_columns, k, threshold, workers, how,
                                        suffixes)

    rights = right.mapInArrow(pack, "right_blob binary")
    if how == "left":
        # Spark skips empty partitions: a right without rows must still give left's rows their unmatched row
        rights = rights.union(left.sparkSession.createDataFrame(
            [(_blob(_arrow_schema(right), []).column(0)[0].as_py(),)], "right_blob binary"))
    # one task per right partition, or more while the cores outnumber them
    lefts = left.mapInArrow(pack, "left_blob binary").coalesce(max(1, cores // max(1, parts)))
    matched = lefts.crossJoin(rights).mapInArrow(match, _schema(left, right, how, suffixes, key_columns.score_names))
    rank = functions.row_number().over(window.partitionBy(LEFT_ROW).orderBy(
        functions.col("score").desc_nulls_last(), functions.col(RIGHT_ROW).asc()))
    score, ranked = functions.col("score"), functions.col(RANK)
    # a left row's unmatched row (how="left") survives only when no right partition matched it
    kept = matched.withColumn(RANK, rank).where((ranked <= k) & (score.isNotNull() | (ranked == 1)))
    return kept.select(*(functions.col(_quoted(name)) for name in schema.names))


def _quoted(name):
    return "`" + name.replace("`", "``") + "`"


def _arrow_schema(frame):
    """The Arrow schema of a Spark DataFrame's batches, large text types where Spark sends them."""
    from pyspark.sql.pandas.types import to_arrow_schema

    large = frame.sparkSession.conf.get("spark.sql.execution.arrow.useLargeVarTypes", "false") == "true"
    return to_arrow_schema(frame.schema, prefers_large_types=True) if large else to_arrow_schema(frame.schema)


def _blob(schema, batches):
    """Record batches as one Arrow IPC stream, in a one-row batch."""
    pa = need("pyarrow", "spark")
    sink = pa.BufferOutputStream()
    with pa.ipc.new_stream(sink, schema) as writer:
        for batch in batches:
            writer.write_batch(batch)
    return pa.RecordBatch.from_pydict({"blob": [sink.getvalue().to_pybytes()]})


def _unpacked(blob):
    pa = need("pyarrow", "spark")
    return pa.ipc.open_stream(pa.py_buffer(blob)).read_all()


# Bytes of left partitions matched in one call, at most (unless one partition is larger).
RUN_BYTES = 64 << 20


def _by_right(batch):
    """The (left blob, right blob) pairs of a batch as (right blob, its left blobs), in runs of one
    right blob: a task pairs its right partition with every left one."""
    run, current, size = [], None, 0
    for left_blob, right_blob in zip(*(column.to_pylist() for column in batch.columns)):
        if run and (right_blob != current or size + len(left_blob) > RUN_BYTES):
            yield current, run
            run, size = [], 0
        current = right_blob
        run.append(left_blob)
        size += len(left_blob)
    if run:
        yield current, run


def _match_blobs(left_blobs, right_blob, token, key_columns, k, threshold, workers, how, suffixes):
    """The joined rows of some left partitions in one right partition, with both row ids: a left row
    without a match there gives one row with no right side when how="left"."""
    pa = need("pyarrow", "spark")
    left_rows, right_rows = pa.concat_tables([_unpacked(blob) for blob in left_blobs]), _unpacked(right_blob)
    right_frame = ArrowFrame(right_rows)
    if right_rows.num_rows:
        index = partitioned.cached_index(token, right_rows.column(RIGHT_ROW)[0].as_py(), key_columns,
                                         right_frame.texts)
    else:
        index = key_columns.index(lambda name: [])
    joined = join_frames(ArrowFrame(left_rows), right_frame, key_columns, index, k, how, threshold, workers, None,
                         suffixes)
    return joined.to_batches()
