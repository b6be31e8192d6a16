"""pelgar_join: fuzzy joins, self-joins and clusters of texts, and their table, file and engine layers."""

# --- Tables, files and engines: pandas joins here, Dask and Spark as pj.dask / pj.spark ---
from .tables import dedupe, fuzzy_join

_ENGINES = ("dask", "spark")


def __getattr__(name):
    # the engine layers import their engine, so they load only when asked for
    if name in _ENGINES:
        import importlib

        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
# --- end of tables, files and engines ---
