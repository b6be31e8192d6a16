"""Types of the Arrow PyCapsule interface, as pelgar_join takes and gives Arrow data."""

from typing import Any, Iterable, Optional, Protocol, Union


class ArrowArrayExporter(Protocol):
    """An object that exports one Arrow array (a pyarrow Array)."""

    def __arrow_c_array__(self, requested_schema: Optional[object] = None) -> Any: ...


class ArrowStreamExporter(Protocol):
    """An object that exports an Arrow stream: a pyarrow ChunkedArray or Table, a polars Series or
    DataFrame, a DuckDB relation, a pandas Series or DataFrame."""

    def __arrow_c_stream__(self, requested_schema: Optional[object] = None) -> Any: ...


class Columns(Protocol):
    """Result columns built natively: len() rows, read by pyarrow.table(c), polars.DataFrame(c) or
    DuckDB without a copy. top_k's are query, position, score; self_join's left, right, score
    (int64, int64, float64)."""

    def __len__(self) -> int: ...

    def __arrow_c_stream__(self, requested_schema: Optional[object] = None) -> Any: ...


# What every text argument takes: str items (None or NaN for a missing value), or Arrow strings.
Texts = Union[Iterable[Optional[str]], ArrowArrayExporter, ArrowStreamExporter]
