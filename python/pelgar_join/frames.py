"""The kinds of table the table layer takes, behind one face: pandas, polars and pyarrow tables,
and any object that exports an Arrow stream (a DuckDB relation), which is read as a pyarrow
Table. Each gives its column names, a key column ready for the native matching (Arrow strings
where the table holds them, read without a Python object per row), and the rows of a join or
the cluster labels in its own kind."""

import sys

from ._extras import need


def _loaded(module, attribute):
    """`module.attribute` if the module is already imported (an object of its type exists), else None."""
    found = sys.modules.get(module)
    return getattr(found, attribute, None) if found is not None else None


def _instance(table, module, attribute):
    kind = _loaded(module, attribute)
    return kind is not None and isinstance(table, kind)


def arrow_table(table):
    """Any supported table as a pyarrow Table."""
    pa = need("pyarrow", "join")
    if isinstance(table, pa.Table):
        return table
    if isinstance(table, pa.RecordBatch):
        return pa.Table.from_batches([table])
    if _instance(table, "pandas", "DataFrame"):
        return pa.Table.from_pandas(table, preserve_index=False)
    if _instance(table, "polars", "DataFrame"):
        return table.to_arrow()
    return pa.table(table)


def plan_table(plan):
    """The Columns of a join plan (query, position, score) as a pyarrow Table, without a copy."""
    return need("pyarrow", "join").table(plan)


def arrow_column(column):
    """One field's scores, native one-column Columns, as a pyarrow chunked array, without a copy."""
    return plan_table(column).column(0)


class PandasFrame:
    kind = "pandas"

    def __init__(self, table):
        self.table = table
        self.columns = list(table.columns)

    @classmethod
    def adopt(cls, table):
        return cls(table if _instance(table, "pandas", "DataFrame") else arrow_table(table).to_pandas())

    def texts(self, name):
        """Text-typed columns go to the native layer as Arrow; others item by item, missing values as None."""
        from .tables import keys

        series = self.table[name]
        if _holds_text(series.dtype) and hasattr(series, "__arrow_c_stream__"):
            return series
        return keys(series)

    def joined(self, right, plan, suffixes, field_scores=()):
        from .tables import assemble

        pc = need("pyarrow.compute", "join")
        rows = plan_table(plan)
        return assemble(self.table, right.table, rows.column("query").to_numpy(),
                        pc.fill_null(rows.column("position"), -1).to_numpy(),
                        rows.column("score").to_numpy(), suffixes,
                        [(name, arrow_column(values).to_numpy(zero_copy_only=False)) for name, values in field_scores])

    def labelled(self, labels):
        pd = need("pandas", "join")
        return pd.Series(labels, index=self.table.index, name="cluster", dtype="int64")


def _holds_text(dtype):
    """A pandas dtype whose values are all text or missing: string, str, or a category of strings."""
    pd = sys.modules["pandas"]
    if isinstance(dtype, pd.StringDtype):
        return True
    return isinstance(dtype, pd.CategoricalDtype) and dtype.categories.inferred_type in ("string", "empty")


class PolarsFrame:
    kind = "polars"

    def __init__(self, table):
        self.table = table
        self.columns = list(table.columns)

    @classmethod
    def adopt(cls, table):
        pl = sys.modules["polars"]
        return cls(table if isinstance(table, pl.DataFrame) else pl.from_arrow(arrow_table(table)))

    def texts(self, name):
        series = self.table.get_column(name)
        return series if hasattr(series, "__arrow_c_stream__") else series.to_arrow()

    def joined(self, right, plan, suffixes, field_scores=()):
        from .tables import result_names

        pl = sys.modules["polars"]
        rows = _polars_plan(plan)
        left_names, right_names = result_names(self.columns, right.columns, suffixes,
                                               [name for name, _ in field_scores])
        left_part = self.table.select(pl.all().gather(rows.get_column("query")))
        right_part = right.table.select(pl.all().gather(rows.get_column("position")))
        left_part.columns = left_names
        right_part.columns = right_names
        parts = [left_part, right_part, rows.select("score")]
        if field_scores:
            parts.append(pl.DataFrame([pl.from_arrow(arrow_column(values)).alias(name) for name, values in field_scores]))
        return pl.concat(parts, how="horizontal")

    def labelled(self, labels):
        return sys.modules["polars"].Series("cluster", labels, dtype=sys.modules["polars"].Int64)


def _polars_plan(plan):
    pl = sys.modules["polars"]
    try:
        return pl.DataFrame(plan)
    except (TypeError, ValueError):  # a polars that does not read the Arrow PyCapsule interface
        return pl.from_arrow(plan_table(plan))


class ArrowFrame:
    kind = "pyarrow"

    def __init__(self, table):
        self.table = arrow_table(table)
        self.columns = list(self.table.column_names)

    @classmethod
    def adopt(cls, table):
        return cls(table)

    def texts(self, name):
        return self.table.column(name)

    def joined(self, right, plan, suffixes, field_scores=()):
        from .tables import result_names

        pa = need("pyarrow", "join")
        rows = plan_table(plan)
        score_names = [name for name, _ in field_scores]
        left_names, right_names = result_names(self.columns, right.columns, suffixes, score_names)
        left_part = self.table.take(rows.column("query"))
        right_part = right.table.take(rows.column("position"))
        scores = [arrow_column(values) for _, values in field_scores]
        return pa.Table.from_arrays([*left_part.columns, *right_part.columns, rows.column("score"), *scores],
                                    names=[*left_names, *right_names, "score", *score_names])

    def labelled(self, labels):
        pa = need("pyarrow", "join")
        return pa.array(labels, type=pa.int64())


def frame_of(table, role):
    """The face of `table`, by its kind; TypeError for something that is not a table."""
    if _instance(table, "pandas", "DataFrame"):
        return PandasFrame(table)
    if _instance(table, "polars", "DataFrame"):
        return PolarsFrame(table)
    if (_instance(table, "pyarrow", "Table") or _instance(table, "pyarrow", "RecordBatch")
            or hasattr(table, "__arrow_c_stream__")):
        return ArrowFrame(table)
    need("pandas", "join")  # without any table library, name the extra that brings one
    raise TypeError(f"{role} must be a pandas, polars or pyarrow table, or export an Arrow stream "
                    f"(__arrow_c_stream__), not {type(table).__name__}")
