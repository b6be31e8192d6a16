"""fuzzy_join for Dask DataFrames: each left partition matched on the workers, the answer exactly
that of fuzzy_join on the computed tables."""

from __future__ import annotations

from typing import TYPE_CHECKING, Mapping, Optional, Sequence, Union

from . import partitioned
from ._extras import need
from .frames import PandasFrame
from .tables import Keys, Scorers, Weights, check_options

if TYPE_CHECKING:
    import dask.dataframe
    import pandas


def _client():
    """The dask.distributed client in use, if any."""
    try:
        from distributed import get_client

        return get_client()
    except (ImportError, ValueError):
        return None


def _share(payload):
    """`payload` as a graph argument that reaches each worker once, not once per task."""
    import dask

    client = _client()
    if client is None:
        return dask.delayed(payload, pure=True)
    [future] = client.scatter([payload], broadcast=True, hash=False)
    return future


def fuzzy_join(left: Union[dask.dataframe.DataFrame, pandas.DataFrame],
               right: Union[dask.dataframe.DataFrame, pandas.DataFrame], left_on: Optional[str] = None,
               right_on: Union[str, Mapping[str, str], None] = None, *, on: Optional[Weights] = None, k: int = 1,
               threshold: float = 0.0, scorer: str = "combined", scorers: Scorers = None, how: str = "inner",
               workers: Optional[int] = None, suffixes: Sequence[Optional[str]] = ("_left", "_right"),
               broadcast: Optional[bool] = None, field_scores: bool = False) -> dask.dataframe.DataFrame:
    """pelgar_join.fuzzy_join with `left` a Dask DataFrame (or pandas) and `right` pandas or Dask.

    Returns a Dask DataFrame. `broadcast=None` ships a pandas or one-partition `right` whole to
    every worker; `False` matches against each right partition and merges the top-k lists
    exactly (ties by global right position); `True` computes `right` and ships it whole.
    """
    dd = need("dask.dataframe", "dask")
    pd = need("pandas", "join")
    check_options(k, how, suffixes)
    key_columns = Keys(left_on, right_on, on, scorer, scorers, field_scores)
    if isinstance(left, pd.DataFrame):
        left = dd.from_pandas(left, npartitions=1)
    right_meta = right if isinstance(right, pd.DataFrame) else right._meta
    key_columns.check(left._meta, right_meta)
    template = partitioned.empty_result(left._meta, right_meta, how, suffixes, key_columns)
    if broadcast is None:
        broadcast = isinstance(right, pd.DataFrame) or right.npartitions == 1
    if broadcast:
        table = right if isinstance(right, pd.DataFrame) else right.compute()
        # text columns reach the index as Arrow, without a Python object per row
        shared = _share((key_columns.index(PandasFrame(table).texts), table))
        return left.map_partitions(partitioned.join_whole, shared, key_columns, k, threshold, workers,
                                   how, suffixes, template, meta=template, enforce_metadata=False)
    if isinstance(right, pd.DataFrame):
        right = dd.from_pandas(right, npartitions=1)
    return _join_partitioned(left, right, key_columns, k, threshold, workers, how, suffixes, template)


def _join_partitioned(left, right, key_columns, k, threshold, workers, how, suffixes, template):
    import dask
    import dask.dataframe as dd
    from dask import delayed

    # global positions of right rows: partition offsets from the partition lengths
    offsets, total = [], 0
    for length in right.map_partitions(len).compute():
        offsets.append(total)
        total += int(length)
    right_parts = right.to_delayed()
    # each worker indexes a right partition once, for every left partition it meets
    token = partitioned.new_token()
    outputs = []
    for left_part in left.to_delayed():
        settled = rows = None
        for cutoff in partitioned.cutoffs(threshold):
            partials = [
                delayed(partitioned.match_part)(left_part, token, part, offset, key_columns, k, cutoff, workers, rows)
                for part, offset in zip(right_parts, offsets)
            ]
            settled = delayed(partitioned.settle)(k, settled, rows, partials)
            rows = delayed(partitioned.pending)(k, settled)
        outputs.append(delayed(partitioned.merge_parts)(left_part, settled, how, suffixes, template, key_columns))
    # the right rows arrive as they are: no text conversion of object columns such as widened bools
    with dask.config.set({"dataframe.convert-string": False}):
        return dd.from_delayed(outputs, meta=template, verify_meta=False)
