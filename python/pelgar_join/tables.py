"""Fuzzy joins and deduplication of pandas, polars and pyarrow tables (and of anything that
exports an Arrow stream) on top of the native Index and clusters."""

from __future__ import annotations

import math
import numbers
from typing import TYPE_CHECKING, Any, Callable, Mapping, Optional, Sequence, Union, overload

from ._extras import need
from ._progress import progress_callback
from .frames import frame_of, plan_table

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


class Keys:
    """The key columns of a join: one on each side (`left_on`, `right_on`), or several weighted
    fields (`on={left column: weight}`, `right_on={field: right column}` for the names that differ)."""

    def __init__(self, left_on, right_on=None, on=None, scorer="combined", scorers=None, field_scores=False):
        if on is None:
            self._one_column(left_on, right_on, scorers, field_scores)
            self.scorer = scorer
        else:
            self._fields(left_on, right_on, on, scorers)
            self.scorers = {field: (scorers or {}).get(field, scorer) for field in self.fields}
        self.score_names = [f"score_{field}" for field in self.fields] if field_scores else []

    def _one_column(self, left_on, right_on, scorers, field_scores):
        if left_on is None or isinstance(left_on, Mapping):
            raise TypeError("give the key column as left_on, or several weighted fields as "
                            "on={column: weight, ...}")
        if isinstance(right_on, Mapping):
            raise TypeError("right_on must be the name of a column of right when left_on names one key column")
        if scorers is not None or field_scores:
            raise ValueError("scorers and field_scores go with several fields: on={column: weight, ...}")
        self.fields, self.weights = [left_on], None
        self.right = {left_on: left_on if right_on is None else right_on}

    def _fields(self, left_on, right_on, on, scorers):
        if left_on is not None:
            raise TypeError("give either left_on (one key column) or on (several weighted fields), not both")
        if not isinstance(on, Mapping) or not on:
            raise TypeError("on must be a mapping of column to weight, like {'name': 0.6, 'city': 0.4}")
        right_on = {} if right_on is None else right_on
        if not isinstance(right_on, Mapping):
            raise TypeError("with on={...}, right_on must be a mapping of field to column of right, "
                            "like {'name': 'full_name'}")
        for option, names in (("right_on", right_on), ("scorers", scorers or {})):
            for name in names:
                if name not in on:
                    raise ValueError(f"{option} names {name!r}, which is not a field of on")
        self.fields, self.weights = list(on), dict(on)
        self.right = {field: right_on.get(field, field) for field in self.fields}

    @property
    def several(self):
        return self.weights is not None

    def check(self, left, right):
        """KeyError for a key column missing from the frames; weights and scorers checked as the
        index checks them, before any work."""
        for field in self.fields:
            column(left, field, "left")
            column(right, self.right[field], "right")
        self.index(lambda name: [])

    def index(self, texts):
        """The native Index of right; texts(column) gives a key column of right."""
        if not self.several:
            return native().Index(texts(self.right[self.fields[0]]), scorer=self.scorer)
        return native().Index({field: texts(self.right[field]) for field in self.fields},
                              weights=self.weights, scorers=self.scorers)

    def queries(self, texts):
        """The queries of left for the index; texts(column) gives a key column of left."""
        if not self.several:
            return texts(self.fields[0])
        return {field: texts(field) for field in self.fields}

    def field_scores(self, index, queries, query_rows, positions):
        """[(name, float64 Arrow column)] of each field's score for the (query row, position) pairs;
        empty unless field scores were asked for."""
        if not self.score_names:
            return []
        from ._join import field_scores

        columns = field_scores(index, queries, query_rows, positions)
        return [(name, columns[field]) for name, field in zip(self.score_names, self.fields)]

    def clusters(self, texts, threshold, workers, report):
        if not self.several:
            return native().clusters(texts(self.fields[0]), threshold, scorer=self.scorer, workers=workers,
                                     progress=report)
        return native().clusters(self.queries(texts), threshold, weights=self.weights, scorers=self.scorers,
                                 workers=workers, progress=report)


def keys(series):
    """The texts of a key column as a list, None for every missing value (None, NaN, NA, NaT)."""
    values = series.tolist()
    missing = series.isna().tolist()
    return [None if gone else value for value, gone in zip(values, missing)]


def result_names(left_columns, right_columns, suffixes, score_names=()):
    """Output column names: left's, then right's, suffixed on a clash as pandas.merge does, then score
    and the field scores."""
    clash = set(left_columns) & set(right_columns)

    def rename(name, suffix):
        return f"{name}{suffix}" if name in clash and suffix else name

    left_names = [rename(name, suffixes[0]) for name in left_columns]
    right_names = [rename(name, suffixes[1]) for name in right_columns]
    names = left_names + right_names + ["score", *score_names]
    seen = set()
    for name in names:
        if name in seen:
            raise ValueError(f"the joined table would have two columns named {name!r}; "
                             "rename one or choose other suffixes")
        seen.add(name)
    return left_names, right_names


def pairs(matches, how, width):
    """Row positions and scores of the output from per-row lists of (position, score, field scores)
    entries: (left rows, right rows with -1 for none, scores, `width` lists of field scores)."""
    left_rows, right_rows, scores, fields = [], [], [], []
    for row, found in enumerate(matches):
        if found:
            for position, score, field_scores in found:
                left_rows.append(row)
                right_rows.append(position)
                scores.append(score)
                fields.append(field_scores)
        elif how == "left":
            left_rows.append(row)
            right_rows.append(-1)
            scores.append(math.nan)
            fields.append((math.nan,) * width)
    by_field = [list(column) for column in zip(*fields)] if fields else [[] for _ in range(width)]
    return left_rows, right_rows, scores, by_field


def assemble(left, right, left_rows, right_rows, scores, suffixes, field_scores=()):
    """The joined table: rows of `left` and `right` by position (-1: a missing right row), then score
    and the (name, values) of `field_scores`, missing values NaN."""
    pd = need("pandas", "join")
    score_names = [name for name, _ in field_scores]
    left_names, right_names = result_names(list(left.columns), list(right.columns), suffixes, score_names)
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
    for name, values in field_scores:
        result[name] = pd.Series(values, index=result.index, dtype="float64")
    return result


def join_frames(left, right, key_columns, index, k, how, threshold, workers, report, suffixes):
    """The rows of `left` joined to `right` (frames of one kind) through `index`, right's index."""
    from ._join import join_plan

    queries = key_columns.queries(left.texts)
    plan = join_plan(index, queries, k, how, threshold, workers, report)
    field_scores = []
    if key_columns.score_names:
        plan = plan_table(plan)  # read twice: for the field scores and for the rows
        field_scores = key_columns.field_scores(index, queries, plan.column("query"), plan.column("position"))
    return left.joined(right, plan, suffixes, field_scores)


Weights = Mapping[str, float]
Scorers = Optional[Mapping[str, str]]


@overload
def fuzzy_join(left: pandas.DataFrame, right: Table, left_on: Optional[str] = ...,
               right_on: Union[str, Mapping[str, str], None] = ..., *, on: Optional[Weights] = ..., k: int = ...,
               threshold: float = ..., scorer: str = ..., scorers: Scorers = ..., how: str = ...,
               workers: Optional[int] = ..., progress: Progress = ..., suffixes: Sequence[Optional[str]] = ...,
               field_scores: bool = ...) -> pandas.DataFrame: ...


@overload
def fuzzy_join(left: polars.DataFrame, right: Table, left_on: Optional[str] = ...,
               right_on: Union[str, Mapping[str, str], None] = ..., *, on: Optional[Weights] = ..., k: int = ...,
               threshold: float = ..., scorer: str = ..., scorers: Scorers = ..., how: str = ...,
               workers: Optional[int] = ..., progress: Progress = ..., suffixes: Sequence[Optional[str]] = ...,
               field_scores: bool = ...) -> polars.DataFrame: ...


@overload
def fuzzy_join(left: ArrowStreamExporter, right: Table, left_on: Optional[str] = ...,
               right_on: Union[str, Mapping[str, str], None] = ..., *, on: Optional[Weights] = ..., k: int = ...,
               threshold: float = ..., scorer: str = ..., scorers: Scorers = ..., how: str = ...,
               workers: Optional[int] = ..., progress: Progress = ..., suffixes: Sequence[Optional[str]] = ...,
               field_scores: bool = ...) -> Any: ...


def fuzzy_join(left: Any, right: Any, left_on: Optional[str] = None,
               right_on: Union[str, Mapping[str, str], None] = None, *, on: Optional[Weights] = None, k: int = 1,
               threshold: float = 0.0, scorer: str = "combined", scorers: Scorers = None, how: str = "inner",
               workers: Optional[int] = None, progress: Progress = False,
               suffixes: Sequence[Optional[str]] = ("_left", "_right"), field_scores: bool = False) -> Any:
    """Join each row of `left` to up to `k` rows of `right` whose key text scores best against its own.

    One row per (left row, matched right row), matches in rank order, in left row order; the
    columns of `left`, then those of `right` (clashing names suffixed), then `score`.
    `how="left"` keeps unmatched left rows once, with missing values on the right.
    The tables are pandas, polars or pyarrow tables, or anything that exports an Arrow stream
    (a DuckDB relation); the result is of `left`'s kind: pandas, polars, or else a pyarrow Table.

    Several fields: `on={column: weight, ...}` names left's key columns, `right_on={field: column}`
    right's where the names differ. Two rows score sum(weight * score) / sum(weight) over the fields
    present in both (`scorers={field: name}`, else `scorer`); rows that share no present field never
    match. `field_scores=True` adds a column `score_<field>` per field, missing where it was.
    """
    check_options(k, how, suffixes)
    key_columns = Keys(left_on, right_on, on, scorer, scorers, field_scores)
    left_frame = frame_of(left, "left")
    right_frame = type(left_frame).adopt(frame_of(right, "right").table)
    key_columns.check(left_frame, right_frame)
    # a clash is reported before any work
    result_names(left_frame.columns, right_frame.columns, suffixes, key_columns.score_names)
    index = key_columns.index(right_frame.texts)
    with progress_callback(progress) as report:
        return join_frames(left_frame, right_frame, key_columns, index, k, how, threshold, workers, report,
                           suffixes)


@overload
def dedupe(frame: pandas.DataFrame, on: Union[str, Weights], threshold: float, *, scorer: str = ...,
           scorers: Scorers = ..., workers: Optional[int] = ..., progress: Progress = ...) -> pandas.Series[int]: ...


@overload
def dedupe(frame: polars.DataFrame, on: Union[str, Weights], threshold: float, *, scorer: str = ...,
           scorers: Scorers = ..., workers: Optional[int] = ..., progress: Progress = ...) -> polars.Series: ...


@overload
def dedupe(frame: ArrowStreamExporter, on: Union[str, Weights], threshold: float, *, scorer: str = ...,
           scorers: Scorers = ..., workers: Optional[int] = ..., progress: Progress = ...) -> Any: ...


def dedupe(frame: Any, on: Union[str, Weights], threshold: float, *, scorer: str = "combined",
           scorers: Scorers = None, workers: Optional[int] = None, progress: Progress = False) -> Any:
    """For each row, the position of the first row of its cluster of similar `on` texts.

    A Series named "cluster" of `frame`'s kind (pandas: aligned with its index; polars; a pyarrow
    Array for a pyarrow table or another Arrow exporter); a row with a missing text is alone.
    `on={column: weight, ...}` clusters on several fields, scored as in fuzzy_join; a row whose
    fields are all missing is alone.
    """
    table = frame_of(frame, "frame")
    key_columns = Keys(None, on=on, scorer=scorer, scorers=scorers) if isinstance(on, Mapping) \
        else Keys(on, scorer=scorer, scorers=scorers)
    for field in key_columns.fields:
        column(table, field, "frame")
    with progress_callback(progress, description="clustering", unit=" rows") as report:
        labels = key_columns.clusters(table.texts, threshold, workers, report)
    return table.labelled(labels)
