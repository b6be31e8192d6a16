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
from .tables import Keys, Scorers, Weights, check_options, result_names

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


# A Java byte array holds at most 2 GB: a partition's rows travel as Arrow IPC blobs of at most this many bytes.
CHUNK_BYTES = 512 << 20

_BLOBS = "chunk int, blob binary"


def _join_partitioned(left, right, key_columns, k, threshold, workers, how, schema):
    from pyspark.sql.pandas.types import to_arrow_schema

    chunk_bytes = CHUNK_BYTES  # read here, so that the executors get the driver's value
    fields = len(key_columns.score_names)
    names = schema.fieldNames()
    right_types = to_arrow_schema(right.schema).types
    # each executor process indexes a right partition once, for every left partition it meets
    token = partitioned.new_token()

    # Both sides are made once and kept as Arrow bytes: the cartesian product would make each again for every pair.
    lefts = _arrow_parts(left, chunk_bytes)
    parts = max(1, lefts.getNumPartitions())
    # a task's start costs more than matching a small partition: a few tasks each take several left partitions
    cores = left.sparkSession.sparkContext.defaultParallelism
    lefts = (lefts.coalesce(cores) if parts > cores else lefts).cache()
    rights = _arrow_parts(right, chunk_bytes).cache()

    def match_all(cutoff):
        def match(pair):
            (number, left_blobs), (right_number, right_blobs) = pair
            return number, (None, partitioned.match_arrow(_from_blobs(left_blobs), token, right_number,
                                                          _from_blobs(right_blobs), key_columns, k, cutoff, workers))
        return match

    # the rows of a left partition with fewer than k candidates so far, searched again at a lower cutoff
    def match_pending(cutoff):
        def match(pair):
            (number, (left_blobs, candidates)), (right_number, right_blobs) = pair
            left_table = _from_blobs(left_blobs)
            rows = partitioned.pending_arrow(k, left_table.num_rows, candidates)
            if not len(rows):
                return number, (None, None)
            return number, (None, partitioned.match_arrow(left_table, token, right_number, _from_blobs(right_blobs),
                                                          key_columns, k, cutoff, workers, rows))
        return match

    # one value per left partition: its rows, and the best candidates of every right partition
    def merge(one, other):
        if one[1] is None or other[1] is None:
            return one[0] or other[0], one[1] if other[1] is None else other[1]
        return one[0] or other[0], partitioned.best_arrow(k, [one[1], other[1]])

    def rows_out(item):
        left_blobs, candidates = item[1]
        if left_blobs is None:
            return
        joined = partitioned.joined_arrow(_from_blobs(left_blobs), candidates, how, names, right_types, fields)
        if joined.num_rows:
            for chunk, blob in enumerate(_to_blobs(joined, chunk_bytes)):
                yield chunk, blob.to_pybytes()

    def decode(batches):
        pa = need("pyarrow", "spark")
        for batch in batches:
            for blob in batch.column("blob"):
                yield from pa.ipc.open_stream(blob.as_buffer())

    # one record per pair of partitions, merged per left partition with its rows (left partition n comes out as
    # partition n): no shuffle record per row
    settled = lefts.map(lambda part: (part[0], (part[1], None)))
    levels = partitioned.cutoffs(threshold)
    for level, cutoff in enumerate(levels):
        found = (lefts.cartesian(rights).map(match_all(cutoff)) if level == 0
                 else settled.cartesian(rights).map(match_pending(cutoff)))
        if level + 1 < len(levels):
            # a task costs more than merging a partition's candidates: one task a core, and kept, since the next
            # cutoff's searches and its merge both read it
            settled = settled.union(found).reduceByKey(merge, numPartitions=min(parts, cores)).cache()
        else:
            settled = settled.union(found).reduceByKey(merge, numPartitions=parts)
    joined = settled.flatMap(rows_out)
    return left.sparkSession.createDataFrame(joined, _BLOBS).mapInArrow(decode, schema)


def _arrow_parts(frame, chunk_bytes):
    """An RDD of (partition number, Arrow IPC blobs) per non-empty partition of a DataFrame."""
    pa = need("pyarrow", "spark")

    def encode(batches):
        batches = list(batches)
        if sum(batch.num_rows for batch in batches):
            for chunk, blob in enumerate(_to_blobs(pa.Table.from_batches(batches), chunk_bytes)):
                offsets = pa.array([0, blob.size], type=pa.int32())
                yield pa.RecordBatch.from_arrays(
                    [pa.array([chunk], pa.int32()),
                     pa.Array.from_buffers(pa.binary(), 1, [None, offsets.buffers()[1], blob])],
                    names=["chunk", "blob"])

    # the RDD's own partition numbers: a task's id is another where the partition is computed inside a cartesian product
    def gather(number, rows):
        blobs = [row.blob for row in sorted(rows, key=lambda row: row.chunk)]
        if blobs:
            yield number, blobs

    return frame.mapInArrow(encode, _BLOBS).rdd.mapPartitionsWithIndex(gather)


def _to_blobs(table, limit):
    """A pyarrow Table as Arrow IPC streams of at most `limit` bytes each (but one row each at least)."""
    pa = need("pyarrow", "spark")
    sink = pa.BufferOutputStream()
    with pa.ipc.new_stream(sink, table.schema) as writer:
        writer.write_table(table)
    blob = sink.getvalue()
    if blob.size <= limit or table.num_rows <= 1:
        return [blob]
    half = table.num_rows // 2
    return _to_blobs(table.slice(0, half), limit) + _to_blobs(table.slice(half), limit)


def _from_blobs(blobs):
    """The pyarrow Table that _to_blobs split."""
    pa = need("pyarrow", "spark")
    return pa.concat_tables([pa.ipc.open_stream(pa.py_buffer(blob)).read_all() for blob in blobs])
