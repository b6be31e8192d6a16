"""Argument checks and the Python face of the native join functions."""

import math
import numbers
import operator
import sys
from collections.abc import Mapping as _Mapping
from typing import Any, Callable, Dict, List, Literal, Mapping, Optional, Tuple, Union, overload

from . import _native
from ._arrow import Columns, Texts

Progress = Optional[Callable[[int, int], Any]]

SCORERS = ("combined", "token_sort", "token_set")


def _scorer_code(scorer):
    if isinstance(scorer, str) and scorer in SCORERS:
        return SCORERS.index(scorer)
    raise ValueError(
        "scorer must be one of 'combined', 'token_sort' or 'token_set', got {!r}".format(scorer))


def _positive_int(value, name, allow_none):
    if value is None and allow_none:
        return 0
    if isinstance(value, bool):
        raise TypeError("{} must be an int >= 1{}, got bool".format(name, " or None" if allow_none else ""))
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError("{} must be an int >= 1{}, got {}".format(
            name, " or None" if allow_none else "", type(value).__qualname__)) from None
    if number < 1:
        raise ValueError("{} must be >= 1, got {}".format(name, number))
    return min(number, sys.maxsize)


def _k(k):
    return _positive_int(k, "k", allow_none=True)


def _workers(workers):
    return _positive_int(workers, "workers", allow_none=True)


def _threshold(threshold):
    if isinstance(threshold, bool) or not isinstance(threshold, numbers.Real):
        raise TypeError("threshold must be a real number, got {}".format(type(threshold).__qualname__))
    return float(threshold)


def _columnar(columnar):
    if not isinstance(columnar, bool):
        raise TypeError("columnar must be True or False, got {}".format(type(columnar).__qualname__))
    return columnar


def _progress(progress):
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable or None, got {}".format(type(progress).__qualname__))
    return progress


def _from_image(image, scorer):
    index = Index.__new__(Index)
    index._capsule = _native.index_from_image(image)
    index._scorer = scorer
    index._record = None
    return index


def _from_keys(keys, scorer):
    # what pickles of earlier versions call
    index = Index.__new__(Index)
    index._capsule = _native.index_from_keys(keys, _scorer_code(scorer))
    index._scorer = scorer
    index._record = None
    return index


class _Record:
    """The fields of records: names in order, weights and scorers, as the native layer takes them."""

    __slots__ = ("fields", "weights", "scorers", "names", "weight_values", "codes")

    def __init__(self, weights, scorers):
        if not isinstance(weights, _Mapping):
            raise TypeError("weights must be a mapping of field name to weight, got {}".format(
                type(weights).__qualname__))
        if not weights:
            raise ValueError("weights must name at least one field")
        if len(weights) > 64:
            raise ValueError("records have at most 64 fields, got {}".format(len(weights)))
        if scorers is None:
            scorers = {}
        elif not isinstance(scorers, _Mapping):
            raise TypeError("scorers must be a mapping of field name to scorer name or None, got {}".format(
                type(scorers).__qualname__))
        for field, weight in weights.items():
            if (isinstance(weight, bool) or not isinstance(weight, numbers.Real) or not math.isfinite(weight)
                    or not weight > 0):
                raise ValueError("weight of field {!r} must be a positive finite number, got {!r}".format(field, weight))
        for field, scorer in scorers.items():
            if field not in weights:
                raise ValueError("scorers name field {!r}, which weights do not".format(field))
            if not (isinstance(scorer, str) and scorer in SCORERS):
                raise ValueError("scorer of field {!r} must be one of 'combined', 'token_sort' or 'token_set', "
                                 "got {!r}".format(field, scorer))
        self.fields = tuple(weights)
        self.weights = {field: float(weights[field]) for field in self.fields}
        self.scorers = {field: scorers.get(field, "combined") for field in self.fields}
        self.names = tuple(repr(field) for field in self.fields)
        self.weight_values = tuple(self.weights[field] for field in self.fields)
        self.codes = tuple(SCORERS.index(self.scorers[field]) for field in self.fields)

    def columns(self, columns, what):
        """The columns of a mapping in field order; `what` names the mapping in messages."""
        if not isinstance(columns, _Mapping):
            raise TypeError("{} must be a mapping of field name to texts, got {}".format(
                what, type(columns).__qualname__))
        for field in self.fields:
            if field not in columns:
                raise ValueError("{} have no field {!r}".format(what, field))
        return tuple(columns[field] for field in self.fields)

    def native(self):
        return (self.names, self.weight_values, self.codes)


def _record_of(columns, weights, scorers):
    if weights is None:
        raise TypeError("a mapping of columns needs weights={field: weight}")
    record = _Record(weights, scorers)
    for field in columns:
        if field not in record.weights:
            raise ValueError("columns have field {!r}, which weights do not".format(field))
    return record


def _from_record_keys(keys, weights, scorers):
    index = Index.__new__(Index)
    index._record = _Record(weights, scorers)
    names, weight_values, codes = index._record.native()
    index._capsule = _native.record_index_from_keys(names, tuple(keys), weight_values, codes)
    index._scorer = None
    return index


class Index:
    """Candidates prepared once (normalised, or turned into token keys) for many searches.

    ``Index(columns, *, weights={field: weight}, scorers={field: scorer})`` indexes records of
    several fields instead: ``columns`` maps each field of ``weights`` (and no other) to a
    column of equal length, each a text or missing. Two records score
    ``sum(w * s) / sum(w)`` over the fields present in both, summed in field order, ``s``
    being the field's scorer ("combined" unless ``scorers`` says otherwise); records that
    share no present field never match. ``top_k`` then takes a mapping of query columns.

    ``Index(candidates, *, scorer="combined")`` takes any iterable of ``str``, ``None``
    and float NaN being missing values, or Arrow strings (a pyarrow array or chunked array,
    a polars Series, a one-column DuckDB result: anything with ``__arrow_c_stream__`` or
    ``__arrow_c_array__``), read natively, null being missing. Missing values are kept in
    place (they count in ``len``) but never returned. ``scorer`` is ``"combined"`` (``pelgar.combined_score``), ``"token_sort"``
    (``pelgar.token_sort_ratio``) or ``"token_set"`` (``pelgar.token_set_ratio``); the
    query is always the first argument. An index is immutable, picklable and may be
    searched from several threads at once; ``sys.getsizeof`` includes its native memory.
    """

    __slots__ = ("_capsule", "_scorer", "_record")

    @overload
    def __init__(self, candidates: Texts, *, scorer: str = ...) -> None: ...

    @overload
    def __init__(self, candidates: Mapping[str, Texts], *, weights: Mapping[str, float],
                 scorers: Optional[Mapping[str, str]] = ...) -> None: ...

    def __init__(self, candidates: Union[Texts, Mapping[str, Texts]], *, scorer: str = "combined",
                 weights: Optional[Mapping[str, float]] = None, scorers: Optional[Mapping[str, str]] = None) -> None:
        if isinstance(candidates, _Mapping):
            if scorer != "combined":
                raise TypeError("scorer= is for one column; give a mapping of columns scorers={field: scorer}")
            self._record = _record_of(candidates, weights, scorers)
            names, weight_values, codes = self._record.native()
            columns = self._record.columns(candidates, "columns")
            self._capsule = _native.record_index_build(names, columns, weight_values, codes, 0)
            self._scorer = None
            return
        if weights is not None or scorers is not None:
            raise TypeError("weights= and scorers= are for a mapping of columns")
        code = _scorer_code(scorer)
        self._capsule = _native.index_build(candidates, code, 0)
        self._scorer = scorer
        self._record = None

    @property
    def scorer(self) -> Optional[str]:
        """The scorer name the index was built for; None for records of several fields."""
        return self._scorer

    @property
    def fields(self) -> Optional[Tuple[str, ...]]:
        """The fields of a record index, in order; None for one column."""
        return None if self._record is None else self._record.fields

    @property
    def weights(self) -> Optional[Dict[str, float]]:
        """The weight of each field of a record index; None for one column."""
        return None if self._record is None else dict(self._record.weights)

    @property
    def scorers(self) -> Optional[Dict[str, str]]:
        """The scorer of each field of a record index; None for one column."""
        return None if self._record is None else dict(self._record.scorers)

    def _info(self):
        if self._record is None:
            size, _scorer, memory = _native.index_info(self._capsule)
            return size, memory
        return _native.record_index_info(self._capsule)

    def __len__(self) -> int:
        return self._info()[0]

    def __sizeof__(self) -> int:
        return object.__sizeof__(self) + self._info()[1]

    def __repr__(self) -> str:
        if self._record is not None:
            return "Index(<{} records>, weights={!r}, scorers={!r})".format(
                len(self), self._record.weights, self._record.scorers)
        return "Index(<{} candidates>, scorer={!r})".format(len(self), self._scorer)

    def __reduce__(self):
        if self._record is not None:
            keys = _native.record_index_keys(self._capsule)
            return (_from_record_keys, (keys, self._record.weights, self._record.scorers))
        # the arrays as they are, copied back rather than built again from the keys
        return (_from_image, (_native.index_image(self._capsule), self._scorer))

    @overload
    def top_k(self, queries: Union[Texts, Mapping[str, Texts]], k: Optional[int] = ..., *, threshold: float = ...,
              workers: Optional[int] = ..., progress: Progress = ...,
              columnar: Literal[False] = ...) -> List[List[Tuple[int, float]]]: ...

    @overload
    def top_k(self, queries: Union[Texts, Mapping[str, Texts]], k: Optional[int] = ..., *, threshold: float = ...,
              workers: Optional[int] = ..., progress: Progress = ..., columnar: Literal[True]) -> Columns: ...

    def top_k(self, queries: Union[Texts, Mapping[str, Texts]], k: Optional[int] = 1, *, threshold: float = 0.0,
              workers: Optional[int] = None, progress: Progress = None,
              columnar: bool = False) -> Union[List[List[Tuple[int, float]]], Columns]:
        """Per query, up to ``k`` pairs ``(candidate position, score)`` with score >= threshold.

        Ordered by descending score, equal scores by lower position: for ``"combined"``
        the first ``k`` entries of ``pelgar.rank_matches(query, candidates, threshold)``
        as positions. (``pelgar.best_match`` breaks ties the other way: it returns the
        last of equal scores, whereas ``top_k(..., k=1)`` returns the first.)
        ``k=None`` returns every qualifying candidate; a missing query gets ``[]``; a
        NaN threshold lets nothing through. The work runs on ``workers`` threads (one
        per usable processor by default) without the interpreter lock; ``progress``,
        if given, is called as ``progress(done, total)`` on the calling thread.
        ``columnar=True`` answers with ``Columns`` instead: one row per match, the columns
        ``query``, ``position`` and ``score``, by query, then rank. For a record index
        ``queries`` maps every field to a column (other fields are ignored); a query record
        with no present field gets ``[]``.
        """
        result, _scored = self._top_k(queries, k, threshold, workers, progress,
                                      _COLUMNS if _columnar(columnar) else _LISTS)
        return result

    def _top_k(self, queries, k, threshold, workers, progress, form):
        """The native top_k's answer in the given form, with how much it scored."""
        k, threshold, workers, progress = _k(k), _threshold(threshold), _workers(workers), _progress(progress)
        if self._record is None:
            return _native.top_k(self._capsule, queries, k, threshold, workers, progress, form)
        columns = self._record.columns(queries, "queries")
        return _native.record_top_k(self._capsule, self._record.names, columns, k, threshold, workers, progress,
                                    form)


# How _native.top_k answers: lists, columns, or columns with a row of nulls for each query that
# found nothing (the rows of a left join).
_LISTS, _COLUMNS, _LEFT_JOIN_COLUMNS = 0, 1, 2


def join_plan(index: Index, queries: Texts, k: int, how: str, threshold: float, workers: Optional[int],
              progress: Progress) -> Columns:
    """The rows of a join as Columns (query, position, score), by query, then rank; with how="left"
    a query without a match has one row whose position and score are null."""
    form = _LEFT_JOIN_COLUMNS if how == "left" else _COLUMNS
    columns, _scored = index._top_k(queries, k, threshold, workers, progress, form)
    return columns


def _row_bytes(rows):
    """Row numbers as native int64 bytes, -1 for a null: from Arrow int64, an integer sequence,
    a NumPy array or a pandas Series."""
    import pyarrow as pa

    if hasattr(rows, "__arrow_c_stream__"):
        array = pa.chunked_array(rows).cast(pa.int64())
    elif hasattr(rows, "__arrow_c_array__"):
        array = pa.array(rows).cast(pa.int64())
    else:
        array = pa.array(rows, type=pa.int64())
    return array.fill_null(-1).to_numpy().astype("<i8", copy=False).tobytes()


def field_scores(index: Index, queries: Mapping[str, Texts], query_rows: Any, positions: Any,
                 workers: Optional[int] = None) -> Dict[str, Columns]:
    """Per field of a record index, the field's score of each pair (queries[query_rows[i]],
    index row positions[i]) as a one-column float64 Columns ("score"), null where the field
    is missing in either record or the position is null."""
    if index._record is None:
        raise TypeError("field_scores needs a record index")
    columns = index._record.columns(queries, "queries")
    scores = _native.record_field_scores(index._capsule, index._record.names, columns, _row_bytes(query_rows),
                                         _row_bytes(positions), _workers(workers))
    return dict(zip(index._record.fields, scores))


@overload
def self_join(texts: Union[Texts, Mapping[str, Texts]], threshold: float, *, scorer: str = ...,
              weights: Optional[Mapping[str, float]] = ..., scorers: Optional[Mapping[str, str]] = ...,
              workers: Optional[int] = ..., progress: Progress = ...,
              columnar: Literal[False] = ...) -> List[Tuple[int, int, float]]: ...


@overload
def self_join(texts: Union[Texts, Mapping[str, Texts]], threshold: float, *, scorer: str = ...,
              weights: Optional[Mapping[str, float]] = ..., scorers: Optional[Mapping[str, str]] = ...,
              workers: Optional[int] = ..., progress: Progress = ..., columnar: Literal[True]) -> Columns: ...


def self_join(texts: Union[Texts, Mapping[str, Texts]], threshold: float, *, scorer: str = "combined",
              weights: Optional[Mapping[str, float]] = None, scorers: Optional[Mapping[str, str]] = None,
              workers: Optional[int] = None, progress: Progress = None,
              columnar: bool = False) -> Union[List[Tuple[int, int, float]], Columns]:
    """Every pair ``(i, j, score)`` with ``i < j`` and ``score(texts[i], texts[j]) >= threshold``.

    Sorted by ``(i, j)``; the earlier row is the first argument of the scorer. Missing
    rows (``None``, float NaN, Arrow null) pair with nothing. Pairs that cannot qualify are
    ruled out by exact bounds before scoring; no qualifying pair is missed.
    ``columnar=True`` answers with ``Columns`` ``left``, ``right``, ``score`` instead.
    Records of several fields: a mapping of columns with ``weights`` (and ``scorers``), as
    for ``Index``.
    """
    result, _scored = _self_join(texts, threshold, scorer, weights, scorers, workers, progress, _columnar(columnar))
    return result


def _record_call(columns, scorer, weights, scorers):
    """(names, columns, weights, codes) of a self-join of records; None for one column."""
    if not isinstance(columns, _Mapping):
        if weights is not None or scorers is not None:
            raise TypeError("weights= and scorers= are for a mapping of columns")
        return None
    if scorer != "combined":
        raise TypeError("scorer= is for one column; give a mapping of columns scorers={field: scorer}")
    record = _record_of(columns, weights, scorers)
    names, weight_values, codes = record.native()
    return names, record.columns(columns, "columns"), weight_values, codes


def _self_join(texts, threshold, scorer, weights, scorers, workers, progress, columnar):
    """The native self-join's answer, with how much it scored."""
    record = _record_call(texts, scorer, weights, scorers)
    threshold, workers, progress = _threshold(threshold), _workers(workers), _progress(progress)
    if record is None:
        return _native.self_join(texts, threshold, _scorer_code(scorer), workers, progress, columnar)
    return _native.record_self_join(*record, threshold, workers, progress, columnar)


def clusters(texts: Union[Texts, Mapping[str, Texts]], threshold: float, *, scorer: str = "combined",
             weights: Optional[Mapping[str, float]] = None, scorers: Optional[Mapping[str, str]] = None,
             workers: Optional[int] = None, progress: Progress = None) -> List[int]:
    """Per row, the smallest position in its connected component of ``self_join`` pairs.

    A row that pairs with nothing, missing rows included, is its own cluster. Records of
    several fields: a mapping of columns with ``weights`` (and ``scorers``), as for ``Index``.
    """
    record = _record_call(texts, scorer, weights, scorers)
    threshold, workers, progress = _threshold(threshold), _workers(workers), _progress(progress)
    if record is None:
        return _native.clusters(texts, threshold, _scorer_code(scorer), workers, progress)
    return _native.record_clusters(*record, threshold, workers, progress)
