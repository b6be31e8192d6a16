"""Matching split by partitions: one left partition against a whole right table, or against one of
its partitions with the top-k lists merged exactly afterwards. Shared by the Dask and Spark layers."""

import heapq
import uuid

from . import _index_cache
from ._extras import need
from .frames import ArrowFrame, PandasFrame, arrow_column, plan_table
from .tables import assemble, join_frames, pairs, result_names


def empty_result(left, right, how, suffixes, key_columns):
    """The joined table with no rows, and the column types a left join's missing rows give."""
    right = right.iloc[:0]
    if how == "left":
        right = right.reindex([0]).iloc[:0]
    result_names(list(left.columns), list(right.columns), suffixes, key_columns.score_names)
    return assemble(left.iloc[:0], right, [], [], [], suffixes, [(name, []) for name in key_columns.score_names])


def conform(result, template):
    """`result` with the widened column types of a left join's missing rows, as in `template`,
    so that partitions with and without such rows agree."""
    widen = {
        name: wanted for name, wanted in template.dtypes.items()
        if (wanted.kind == "f" and result[name].dtype.kind in "iu")
        or (wanted.kind == "O" and result[name].dtype.kind == "b")
    }
    return result.astype(widen) if widen else result


def best(k, found):
    """The k best of (global position, score, ...) entries from several right partitions: higher
    score first, equal scores by lower position, exactly as one index over all of right ranks."""
    return heapq.nsmallest(k, found, key=lambda entry: (-entry[1], entry[0]))


# A search in one right partition prunes by that partition's k-th best only, which stays low for
# a row whose matches lie in other partitions. So every row is first searched at these cutoffs,
# highest first: a row with k matches at one, over all partitions together, has its answer there
# (whatever it did not meet scores lower), and only the rest go on to the next.
CASCADE = (0.85, 0.7)


def cutoffs(threshold):
    """The cutoffs a partitioned join searches at, the caller's threshold last."""
    return [cutoff for cutoff in CASCADE if cutoff > threshold] + [threshold]


def new_token():
    """A name for the right partitions of one join, under which workers cache their indexes."""
    return uuid.uuid4().hex


def cached_index(token, part_number, key_columns, texts):
    """The index of one right partition, built once in this worker process for the whole join;
    texts(column) gives a key column of the partition."""
    return _index_cache.index_for((token, part_number), lambda: key_columns.index(texts))


def with_field_scores(key_columns, index, queries, matches):
    """Each query's matches as (position, score, field scores) entries, the field scores () unless
    they were asked for."""
    if not key_columns.score_names:
        return [[(position, score, ()) for position, score in found] for found in matches]
    rows = [row for row, found in enumerate(matches) for _ in found]
    positions = [position for found in matches for position, _ in found]
    columns = [arrow_column(values).to_pylist() for _, values in key_columns.field_scores(index, queries, rows, positions)]
    per_pair = zip(*columns)
    return [[(position, score, next(per_pair)) for position, score in found] for found in matches]


def join_whole(left_part, shared, key_columns, k, threshold, workers, how, suffixes, template=None):
    """Join one left partition to the whole right table; `shared` is (its index, the table)."""
    index, right = shared
    result = join_frames(PandasFrame(left_part), PandasFrame(right), key_columns, index, k, how, threshold,
                         workers, None, suffixes)
    return result if template is None else conform(result, template)


def join_arrow(batch, index, right, key_columns, k, threshold, workers, how, suffixes):
    """The record batches of one Arrow batch of left joined to the whole right table (pyarrow)."""
    joined = join_frames(ArrowFrame(batch), ArrowFrame(right), key_columns, index, k, how, threshold, workers,
                         None, suffixes)
    return joined.to_batches()


def match_part(left_part, token, right_part, offset, key_columns, k, threshold, workers, rows=None):
    """Top-k lists of one left partition's `rows` (all when None) in one right partition: (a list
    per row, by global position; the right rows they use)."""
    index = cached_index(token, offset, key_columns, PandasFrame(right_part).texts)
    part = left_part if rows is None else left_part.iloc[rows]
    queries = key_columns.queries(PandasFrame(part).texts)
    matches = with_field_scores(key_columns, index, queries,
                                index.top_k(queries, k, threshold=threshold, workers=workers))
    used = sorted({position for found in matches for position, _, _ in found})
    right_rows = right_part.iloc[used]
    right_rows.index = [offset + position for position in used]
    return [[(offset + position, score, fields) for position, score, fields in found] for found in matches], right_rows


def pending(k, settled):
    """The rows of one left partition whose lists hold fewer than k matches so far."""
    return [row for row, found in enumerate(settled[0]) if len(found) < k]


def settle(k, settled, rows, partials):
    """A left partition's lists and used right rows after one cutoff: the rows searched at it (all when
    `rows` is None) take the k best of their lists in every right partition. A row searched again
    found again all it had (each partition held fewer than k of them), so its new lists replace the old."""
    import pandas as pd

    lists = [found for found, _ in partials]
    searched = range(len(lists[0])) if rows is None else rows
    merged = [best(k, [entry for part in lists for entry in part[at]]) for at in range(len(searched))]
    if settled is None:
        return merged, pd.concat([used for _, used in partials])
    found, used = settled
    found = list(found)
    for row, entries in zip(searched, merged):
        found[row] = entries
    return found, pd.concat([used, *(part_rows for _, part_rows in partials)])


def merge_parts(left_part, settled, how, suffixes, template, key_columns):
    """Join one left partition from its settled top-k lists and the right rows they use."""
    matches, rows = settled
    left_rows, right_positions, scores, fields = pairs(matches, how, len(key_columns.score_names))
    where = {position: row for row, position in enumerate(rows.index)}
    right_rows = [where.get(position, -1) for position in right_positions]
    field_scores = list(zip(key_columns.score_names, fields))
    return conform(assemble(left_part, rows, left_rows, right_rows, scores, suffixes, field_scores), template)


def match_arrow(left_part, token, part_number, right_part, key_columns, k, threshold, workers, rows=None):
    """Top-k candidates of one left partition's `rows` (all when None) in one right partition (pyarrow
    Tables), as a Table: left row, right partition number and position in it, score, the field scores,
    then the right columns of each."""
    from ._join import join_plan

    pa = need("pyarrow", "join")
    index = cached_index(token, part_number, key_columns, ArrowFrame(right_part).texts)
    searched = left_part if rows is None else left_part.take(rows)
    queries = key_columns.queries(ArrowFrame(searched).texts)
    plan = plan_table(join_plan(index, queries, k, "inner", threshold, workers, None))
    positions = plan.column("position")
    fields = [arrow_column(values) for _, values in
              key_columns.field_scores(index, queries, plan.column("query"), positions)]
    parts = pa.repeat(pa.scalar(part_number, pa.int64()), plan.num_rows)
    left_rows = plan.column("query") if rows is None else pa.array(rows, pa.int64()).take(plan.column("query"))
    meta = [left_rows, parts, positions, plan.column("score"), *fields]
    right_rows = right_part.take(positions)
    return pa.Table.from_arrays(meta + right_rows.columns, names=_candidate_names(len(fields), right_rows.num_columns))


def pending_arrow(k, rows, candidates):
    """The left rows (of `rows`) with fewer than k candidates (a Table of match_arrow, or None)."""
    np = need("numpy", "join")
    if candidates is None:
        return np.arange(rows)
    return np.flatnonzero(np.bincount(candidates.column("row").to_numpy(), minlength=rows) < k)


def _candidate_names(fields, width):
    # right's own names may clash with these, so its columns go by number
    return ["row", "part", "position", "score", *[f"field{at}" for at in range(fields)], *[f"right{at}" for at in range(width)]]


def best_arrow(k, candidates):
    """The k best candidates of each left row from several Tables of match_arrow, each once, ordered by
    left row, then higher score, equal scores by lower (partition, position): by lower global position,
    exactly as one index over all of right ranks."""
    np = need("numpy", "join")
    pa = need("pyarrow", "join")
    table = pa.concat_tables(candidates).sort_by([("row", "ascending"), ("score", "descending"),
                                                  ("part", "ascending"), ("position", "ascending")])
    rows = table.column("row").to_numpy()
    if not len(rows):
        return table
    # a row searched again at a lower cutoff meets again what it met: the copies lie side by side
    parts, positions = table.column("part").to_numpy(), table.column("position").to_numpy()
    again = np.r_[False, (rows[1:] == rows[:-1]) & (parts[1:] == parts[:-1]) & (positions[1:] == positions[:-1])]
    if again.any():
        table, rows = table.filter(pa.array(~again)), rows[~again]
    starts = np.flatnonzero(np.r_[True, rows[1:] != rows[:-1]])
    rank = np.arange(len(rows)) - np.repeat(starts, np.diff(np.r_[starts, len(rows)]))
    return table.filter(pa.array(rank < k))


def joined_arrow(left_part, candidates, how, names, right_types, fields):
    """One left partition joined to its best candidates (None: none), as a pyarrow Table with
    columns `names`: left row order, each row's matches in rank order; with how="left" a row without
    a match once, with nulls on the right. `right_types` types the nulls when no candidate exists."""
    np = need("numpy", "join")
    pa = need("pyarrow", "join")
    found = np.zeros(0, dtype=np.int64) if candidates is None else candidates.column("row").to_numpy()
    left_rows, taken = found, np.arange(len(found))
    if how == "left":
        missing = np.setdiff1d(np.arange(left_part.num_rows), found)
        order = np.argsort(np.r_[found, missing], kind="stable")
        left_rows = np.r_[found, missing][order]
        taken = np.r_[taken, np.full(len(missing), -1)][order]
    if candidates is None:
        right_columns = [pa.nulls(len(taken), kind) for kind in right_types]
        score_columns = [pa.nulls(len(taken), pa.float64()) for _ in range(1 + fields)]
    else:
        picked = candidates.take(pa.array(taken, mask=taken < 0))
        right_columns, score_columns = picked.columns[4 + fields:], picked.columns[3:4 + fields]
    left_columns = left_part.take(pa.array(left_rows, type=pa.int64())).columns
    return pa.Table.from_arrays([*left_columns, *right_columns, *score_columns], names=names)
