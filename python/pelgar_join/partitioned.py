"""Matching split by partitions: one left partition against a whole right table, or against one of
its partitions with the top-k lists merged exactly afterwards. Shared by the Dask and Spark layers."""

import heapq
import uuid

from . import _index_cache
from .tables import assemble, keys, pairs, result_names


def empty_result(left, right, how, suffixes):
    """The joined table with no rows, and the column types a left join's missing rows give."""
    right = right.iloc[:0]
    if how == "left":
        right = right.reindex([0]).iloc[:0]
    result_names(list(left.columns), list(right.columns), suffixes)
    return assemble(left.iloc[:0], right, [], [], [], suffixes)


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


def new_token():
    """A name for the right partitions of one join, under which workers cache their indexes."""
    return uuid.uuid4().hex


def cached_index(index_type, token, part_number, texts, scorer):
    """The index of one right partition, built once in this worker process for the whole join."""
    return _index_cache.index_for((token, part_number), lambda: index_type(texts(), scorer=scorer))


def join_whole(left_part, shared, left_on, k, threshold, workers, how, suffixes, template=None):
    """Join one left partition to the whole right table; `shared` is (its index, the table)."""
    index, right = shared
    matches = index.top_k(keys(left_part[left_on]), k, threshold=threshold, workers=workers)
    result = assemble(left_part, right, *pairs(matches, how), suffixes)
    return result if template is None else conform(result, template)


def match_part(left_part, index_type, token, right_part, offset, left_on, right_on, scorer, k, threshold, workers):
    """Top-k lists of one left partition in one right partition: (lists by global position, rows used)."""
    index = cached_index(index_type, token, offset, lambda: keys(right_part[right_on]), scorer)
    matches = index.top_k(keys(left_part[left_on]), k, threshold=threshold, workers=workers)
    used = sorted({position for found in matches for position, _ in found})
    rows = right_part.iloc[used]
    rows.index = [offset + position for position in used]
    return [[(offset + position, score) for position, score in found] for found in matches], rows


def merge_parts(left_part, partials, k, how, suffixes, template):
    """Join one left partition from its top-k lists in every right partition."""
    import pandas as pd

    lists = [found for found, _ in partials]
    rows = pd.concat([used for _, used in partials])
    matches = [best(k, [pair for part in lists for pair in part[row]]) for row in range(len(left_part))]
    left_rows, right_positions, scores = pairs(matches, how)
    where = {position: row for row, position in enumerate(rows.index)}
    right_rows = [where.get(position, -1) for position in right_positions]
    return conform(assemble(left_part, rows, left_rows, right_rows, scores, suffixes), template)
