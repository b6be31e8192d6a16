"""Row-position matching on top of pelgar's scores: top-k per query over a reusable
index, an exact threshold self-join, and clusters of near-duplicates, over texts given
as Python iterables or as Arrow data; with table (pandas, polars, pyarrow, DuckDB), file
(the pelgar-join command) and engine (pj.dask, pj.spark) layers."""

from ._join import Index, clusters, self_join
from .tables import dedupe, fuzzy_join

__all__ = ["Index", "self_join", "clusters", "fuzzy_join", "dedupe"]

_ENGINES = ("dask", "spark")


def __getattr__(name):  # type: ignore[no-untyped-def]
    # The engine layers import their engine, so they load only when asked for.
    if name in _ENGINES:
        import importlib

        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
