"""Argument checks and the Python face of the native join functions."""

import numbers
import operator
import sys
from typing import Any, Callable, List, Literal, Optional, Tuple, Union, overload

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


def _from_keys(keys, scorer):
    index = Index.__new__(Index)
    index._capsule = _native.index_from_keys(keys, _scorer_code(scorer))
    index._scorer = scorer
    return index


class Index:
    """Candidates prepared once (normalised, or turned into token keys) for many searches.

    ``Index(candidates, *, scorer="combined")`` takes any iterable of ``str``, ``None``
    and float NaN being missing values, or Arrow strings (a pyarrow array or chunked array,
    a polars Series, a one-column DuckDB result: anything with ``__arrow_c_stream__`` or
    ``__arrow_c_array__``), read natively, null being missing. Missing values are kept in
    place (they count in ``len``) but never returned. ``scorer`` is ``"combined"`` (``pelgar.combined_score``), ``"token_sort"``
    (``pelgar.token_sort_ratio``) or ``"token_set"`` (``pelgar.token_set_ratio``); the
    query is always the first argument. An index is immutable, picklable and may be
    searched from several threads at once; ``sys.getsizeof`` includes its native memory.
    """

    __slots__ = ("_capsule", "_scorer")

    def __init__(self, candidates: Texts, *, scorer: str = "combined") -> None:
        code = _scorer_code(scorer)
        self._capsule = _native.index_build(candidates, code, 0)
        self._scorer = scorer

    @property
    def scorer(self) -> str:
        """The scorer name the index was built for."""
        return self._scorer

    def __len__(self) -> int:
        return _native.index_info(self._capsule)[0]

    def __sizeof__(self) -> int:
        return object.__sizeof__(self) + _native.index_info(self._capsule)[2]

    def __repr__(self) -> str:
        return "Index(<{} candidates>, scorer={!r})".format(len(self), self._scorer)

    def __reduce__(self):
        return (_from_keys, (_native.index_keys(self._capsule), self._scorer))

    @overload
    def top_k(self, queries: Texts, k: Optional[int] = ..., *, threshold: float = ..., workers: Optional[int] = ...,
              progress: Progress = ..., columnar: Literal[False] = ...) -> List[List[Tuple[int, float]]]: ...

    @overload
    def top_k(self, queries: Texts, k: Optional[int] = ..., *, threshold: float = ..., workers: Optional[int] = ...,
              progress: Progress = ..., columnar: Literal[True]) -> Columns: ...

    def top_k(self, queries: Texts, k: Optional[int] = 1, *, threshold: float = 0.0, workers: Optional[int] = None,
              progress: Progress = None, columnar: bool = False) -> Union[List[List[Tuple[int, float]]], Columns]:
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
        ``query``, ``position`` and ``score``, by query, then rank.
        """
        result, _scored = _native.top_k(self._capsule, queries, _k(k), _threshold(threshold), _workers(workers),
                                        _progress(progress), _COLUMNS if _columnar(columnar) else _LISTS)
        return result


# How _native.top_k answers: lists, columns, or columns with a row of nulls for each query that
# found nothing (the rows of a left join).
_LISTS, _COLUMNS, _LEFT_JOIN_COLUMNS = 0, 1, 2


def join_plan(index: Index, queries: Texts, k: int, how: str, threshold: float, workers: Optional[int],
              progress: Progress) -> Columns:
    """The rows of a join as Columns (query, position, score), by query, then rank; with how="left"
    a query without a match has one row whose position and score are null."""
    form = _LEFT_JOIN_COLUMNS if how == "left" else _COLUMNS
    columns, _scored = _native.top_k(index._capsule, queries, _k(k), _threshold(threshold), _workers(workers),
                                     _progress(progress), form)
    return columns


@overload
def self_join(texts: Texts, threshold: float, *, scorer: str = ..., workers: Optional[int] = ...,
              progress: Progress = ..., columnar: Literal[False] = ...) -> List[Tuple[int, int, float]]: ...


@overload
def self_join(texts: Texts, threshold: float, *, scorer: str = ..., workers: Optional[int] = ...,
              progress: Progress = ..., columnar: Literal[True]) -> Columns: ...


def self_join(texts: Texts, threshold: float, *, scorer: str = "combined", workers: Optional[int] = None,
              progress: Progress = None, columnar: bool = False) -> Union[List[Tuple[int, int, float]], Columns]:
    """Every pair ``(i, j, score)`` with ``i < j`` and ``score(texts[i], texts[j]) >= threshold``.

    Sorted by ``(i, j)``; the earlier row is the first argument of the scorer. Missing
    rows (``None``, float NaN, Arrow null) pair with nothing. Pairs that cannot qualify are
    ruled out by exact bounds before scoring; no qualifying pair is missed.
    ``columnar=True`` answers with ``Columns`` ``left``, ``right``, ``score`` instead.
    """
    columnar = _columnar(columnar)
    result, _scored = _native.self_join(texts, _threshold(threshold), _scorer_code(scorer), _workers(workers),
                                        _progress(progress), columnar)
    return result


def clusters(texts: Texts, threshold: float, *, scorer: str = "combined",
             workers: Optional[int] = None, progress: Progress = None) -> List[int]:
    """Per row, the smallest position in its connected component of ``self_join`` pairs.

    A row that pairs with nothing, missing rows included, is its own cluster.
    """
    return _native.clusters(texts, _threshold(threshold), _scorer_code(scorer), _workers(workers),
                            _progress(progress))
