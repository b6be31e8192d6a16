"""Fuzzy joins and deduplication of pandas, polars and pyarrow tables (and of anything that
exports an Arrow stream) on top of the native Index and clusters."""

from __future__ import annotations

import math
import numbers
from typing import TYPE_CHECKING, Any, Callable, Optional, Sequence, Union, overload

from ._extras import need
from ._progress import progress_callback
from .frames import frame_of

if TYPE_CHECKING:
    import pandas
    import polars

    from ._arrow import ArrowStreamExporter

    # pyarrow has no type information: its tables are Any to a checker
    Table = Union[pandas.DataFrame, polars.DataFrame, ArrowStreamExporter]

HOWS = ("inner", "left")
Progress = Union[bool, None, Callable[[int, int], object]]


def native():
    """The package itself, whose Index and clusters do the matching."""
    import pelgar_join

    return pelgar_join


def check_options(k, how, suffixes):
    """Reject options the join cannot honour, before any work is done."""
    if isinstance(k, bool) or not isinstance(k, numbers.Integral):
        raise TypeError(f"k must be an int, not {type(k).__name__}")
    if k < 1:
        raise ValueError(f"k must be at least 1, not {k}")
    if how not in HOWS:
        raise ValueError(f"how must be 'inner' or 'left', not {how!r}")
    if not isinstance(suffixes, (tuple, list)) or len(suffixes) != 2:
        raise ValueError("suffixes must be a pair of strings, like ('_left', '_right')")


def column(frame, name, frame_name):
    """KeyError naming both unless `name` is one of `frame.columns`."""
    if name not in frame.columns:
        raise KeyError(f"column {name!r} not in {frame_name}")


def keys(series):
    """The texts of a key column as a list, None for every missing value (None, NaN, NA, NaT)."""
    values = series.tolist()
    missing = series.isna().tolist()
    return [None if gone else value for value, gone in zip(values, missing)]


def result_names(left_columns, right_columns, suffixes):
    """Output column names: left's, then right's, suffixed on a clash as pandas.merge does, then score."""
    clash = set(left_columns) & set(right_columns)

    def rename(name, suffix):
        return f"{name}{suffix}" if name in clash and suffix else name

    left_names = [rename(name, suffixes[0]) for name in left_columns]
    right_names = [rename(name, suffixes[1]) for name in right_columns]
    names = left_names + right_names + ["score"]
    seen = set()
    for name in names:
        if name in seen:
            raise ValueError(f"the joined table would have two columns named {name!r}; "
                             "rename one or choose other suffixes")
        seen.add(name)
    return left_names, right_names


def pairs(matches, how):
    """Row positions and scores of the output: (left rows, right rows with -1 for none, scores)."""
    left_rows, right_rows, scores = [], [], []
    for row, found in enumerate(matches):
        if found:
            for position, score in found:
                left_rows.append(row)
                right_rows.append(position)
                scores.append(score)
        elif how == "left":
            left_rows.append(row)
            right_rows.append(-1)
            scores.append(math.nan)
    return left_rows, right_rows, scores


def assemble(left, right, left_rows, right_rows, scores, suffixes):
    """The joined table: rows of `left` and `right` by position (-1: a missing right row), then score."""
    pd = need("pandas", "join")
    left_names, right_names = result_names(list(left.columns), list(right.columns), suffixes)
    left_part = left.iloc[left_rows]
    left_part.index = pd.RangeIndex(len(left_rows))
    left_part.columns = left_names
    if -1 in right_rows:
        # reindex gives a missing row for -1 and widens dtypes as a left merge does
        right_part = right.reset_index(drop=True).reindex(right_rows)
    else:
        right_part = right.iloc[right_rows]
    right_part.index = pd.RangeIndex(len(right_rows))
    right_part.columns = right_names
    result = pd.concat([left_part, right_part], axis=1)
    result["score"] = pd.Series(scores, index=result.index, dtype="float64")
    return result


@overload
def fuzzy_join(left: pandas.DataFrame, right: Table, left_on: str, right_on: Optional[str] = ..., *, k: int = ...,
               threshold: float = ..., scorer: str = ..., how: str = ..., workers: Optional[int] = ...,
               progress: Progress = ..., suffixes: Sequence[Optional[str]] = ...) -> pandas.DataFrame: ...


@overload
def fuzzy_join(left: polars.DataFrame, right: Table, left_on: str, right_on: Optional[str] = ..., *, k: int = ...,
               threshold: float = ..., scorer: str = ..., how: str = ..., workers: Optional[int] = ...,
               progress: Progress = ..., suffixes: Sequence[Optional[str]] = ...) -> polars.DataFrame: ...


@overload
def fuzzy_join(left: ArrowStreamExporter, right: Table, left_on: str, right_on: Optional[str] = ..., *,
               k: int = ..., threshold: float = ..., scorer: str = ..., how: str = ...,
               workers: Optional[int] = ..., progress: Progress = ...,
               suffixes: Sequence[Optional[str]] = ...) -> Any: ...


def fuzzy_join(left: Any, right: Any, left_on: str, right_on: Optional[str] = None, *, k: int = 1,
               threshold: float = 0.0, scorer: str = "combined", how: str = "inner",
               workers: Optional[int] = None, progress: Progress = False,
               suffixes: Sequence[Optional[str]] = ("_left", "_right")) -> Any:
    """Join each row of `left` to up to `k` rows of `right` whose key text scores best against its own.

    One row per (left row, matched right row), matches in rank order, in left row order; the
    columns of `left`, then those of `right` (clashing names suffixed), then `score`.
    `how="left"` keeps unmatched left rows once, with missing values on the right.
    The tables are pandas, polars or pyarrow tables, or anything that exports an Arrow stream
    (a DuckDB relation); the result is of `left`'s kind: pandas, polars, or else a pyarrow Table.
    """
    from ._join import join_plan

    check_options(k, how, suffixes)
    right_on = left_on if right_on is None else right_on
    left_frame = frame_of(left, "left")
    right_frame = type(left_frame).adopt(frame_of(right, "right").table)
    column(left_frame, left_on, "left")
    column(right_frame, right_on, "right")
    result_names(left_frame.columns, right_frame.columns, suffixes)  # a clash is reported before any work
    index = native().Index(right_frame.texts(right_on), scorer=scorer)
    with progress_callback(progress) as report:
        plan = join_plan(index, left_frame.texts(left_on), k, how, threshold, workers, report)
    return left_frame.joined(right_frame, plan, suffixes)


@overload
def dedupe(frame: pandas.DataFrame, on: str, threshold: float, *, scorer: str = ..., workers: Optional[int] = ...,
           progress: Progress = ...) -> pandas.Series[int]: ...


@overload
def dedupe(frame: polars.DataFrame, on: str, threshold: float, *, scorer: str = ..., workers: Optional[int] = ...,
           progress: Progress = ...) -> polars.Series: ...


@overload
def dedupe(frame: ArrowStreamExporter, on: str, threshold: float, *, scorer: str = ...,
           workers: Optional[int] = ..., progress: Progress = ...) -> Any: ...


def dedupe(frame: Any, on: str, threshold: float, *, scorer: str = "combined", workers: Optional[int] = None,
           progress: Progress = False) -> Any:
    """For each row, the position of the first row of its cluster of similar `on` texts.

    A Series named "cluster" of `frame`'s kind (pandas: aligned with its index; polars; a pyarrow
    Array for a pyarrow table or another Arrow exporter); a row with a missing text is alone.
    """
    table = frame_of(frame, "frame")
    column(table, on, "frame")
    texts = table.texts(on)
    with progress_callback(progress, description="clustering", unit=" rows") as report:
        labels = native().clusters(texts, threshold, scorer=scorer, workers=workers, progress=report)
    return table.labelled(labels)
