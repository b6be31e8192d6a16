"""Arrow data in and out of pelgar_join: every string layout against the same texts as a list,
UTF-8 checks against Python's decoder, the release of every exported struct, and Columns read
by pyarrow, polars and DuckDB without a copy."""

import gc
import os
import sys
import tracemalloc

import pytest

pa = pytest.importorskip("pyarrow")
from hypothesis import given, settings, strategies as st  # noqa: E402

import pelgar_join as pj  # noqa: E402
from pelgar_join import _native  # noqa: E402
from join_model import is_missing, self_join_brute, text_lists  # noqa: E402

INDEX_TYPES = [pa.int8(), pa.uint8(), pa.int16(), pa.uint16(), pa.int32(), pa.uint32(), pa.int64(), pa.uint64()]
STRING_TYPES = [pa.string(), pa.large_string(), pa.string_view()]


def polars_version(pl):
    return tuple(int(part) for part in pl.__version__.split(".")[:2])


def keys_of(texts):
    """What the index holds: each row's prepared key, None where missing."""
    return _native.index_keys(pj.Index(texts)._capsule)


def dictionary_of(texts, index_type, value_type):
    values = sorted({t for t in texts if t is not None}) + ["unused"]
    indices = pa.array([None if t is None else values.index(t) for t in texts], type=index_type)
    return pa.DictionaryArray.from_arrays(indices, pa.array(values, type=value_type))


def layouts(texts, cuts, draw_index):
    """The texts in every Arrow form the intake reads, cut into chunks at `cuts`."""
    made = []
    for value_type in STRING_TYPES:
        whole = pa.array(texts, type=value_type)
        made.append(whole)
        made.append(pa.chunked_array([whole.slice(a, b - a) for a, b in zip(cuts, cuts[1:])], type=value_type))
        made.append(dictionary_of(texts, INDEX_TYPES[draw_index % 8], value_type))
        made.append(dictionary_of(["pad"] + texts, INDEX_TYPES[(draw_index + 3) % 8], value_type).slice(1))
        # a slice of a longer array: offsets into validity, offsets and views
        padded = pa.array(["pad", None] + texts + ["tail"], type=value_type)
        made.append(padded.slice(2, len(texts)))
    made.append(pa.table({"only": texts}))  # a one-column table, as a query result gives
    return made


@settings(max_examples=40, deadline=None)
@given(texts=text_lists(max_size=30), data=st.data())
def test_every_layout_reads_as_the_list_does(texts, data):
    texts = [None if is_missing(t) else t for t in texts]
    cuts = sorted({0, len(texts), *data.draw(st.lists(st.integers(0, len(texts)), max_size=3))})
    expected = keys_of(texts)
    for arrow in layouts(texts, cuts, data.draw(st.integers(0, 7))):
        assert keys_of(arrow) == expected, arrow.type
    arrow = pa.chunked_array([pa.array(texts[a:b], type=pa.string()) for a, b in zip(cuts, cuts[1:])],
                             type=pa.string())
    assert pj.self_join(arrow, 0.6) == self_join_brute(texts, 0.6)
    assert pj.clusters(arrow, 0.6) == pj.clusters(texts, 0.6)
    index = pj.Index(texts[::-1])
    assert index.top_k(arrow, k=2) == index.top_k(texts, k=2)


def test_polars_and_duckdb_columns():
    pl = pytest.importorskip("polars")
    duckdb = pytest.importorskip("duckdb")
    texts = ["Anna Smith", None, "Bob", "anna smith", "", "Bob"]
    expected = keys_of(texts)
    dtypes = [pl.String, pl.Categorical, pl.Enum(["", "Anna Smith", "Bob", "anna smith"])]
    if polars_version(pl) < (1, 9):  # the last polars for Python 3.8 exports categories as a broken stream
        dtypes = dtypes[:1]
    for dtype in dtypes:
        assert keys_of(pl.Series(texts, dtype=dtype)) == expected, dtype
    chunked = pl.concat([pl.Series(texts[:2]), pl.Series(texts[2:])], rechunk=False)
    assert keys_of(chunked) == expected
    frame = pa.table({"name": texts})  # noqa: F841 (read by name by DuckDB)
    assert keys_of(duckdb.sql("select name from frame")) == expected
    assert keys_of(pl.Series([None, None])) == [None, None]  # polars' Null type: all missing


@settings(max_examples=200, deadline=None)
@given(rows=st.lists(st.binary(max_size=8) | st.sampled_from([b"\xed\xa0\x80", b"\xf4\x90\x80\x80",
                                                             b"\xe0\x80", b"\xc3", b"ok"]), max_size=5))
def test_utf8_is_checked_as_python_decodes(rows):
    offsets = [0]
    for row in rows:
        offsets.append(offsets[-1] + len(row))
    unchecked = pa.Array.from_buffers(pa.string(), len(rows), [
        None, pa.py_buffer(pa.array(offsets, type=pa.int32()).buffers()[1]), pa.py_buffer(b"".join(rows))])
    first_bad = None
    for position, row in enumerate(rows):
        try:
            row.decode("utf-8")
        except UnicodeDecodeError as error:
            first_bad = (position, error)
            break
    if first_bad is None:
        assert keys_of(unchecked) == keys_of([row.decode("utf-8") for row in rows])
        return
    with pytest.raises(UnicodeDecodeError) as raised:
        pj.Index(unchecked)
    position, error = first_bad
    got = raised.value
    assert (got.object, got.start, got.end) == (error.object, error.start, error.end)
    assert got.reason == f"candidates[{position}]: {error.reason}"


@pytest.mark.parametrize("arrow, found", [
    (lambda: pa.array([1, 2]), "'l'"),
    (lambda: pa.array([b"x"]), "'z'"),
    (lambda: pa.array([1.5], type=pa.float32()), "'f'"),
    (lambda: pa.array([["a"]]), "'+l'"),
    (lambda: pa.DictionaryArray.from_arrays(pa.array([0], type=pa.int8()), pa.array([7])),
     "'c' with a dictionary of 'l'"),
    (lambda: pa.table({"a": ["x"], "b": ["y"]}), "'+s' (a table of 2 columns: pass one column)"),
])
def test_other_arrow_types_are_refused_by_format(arrow, found):
    for call, name in ((lambda a: pj.Index(a), "candidates"), (lambda a: pj.Index([]).top_k(a), "queries"),
                       (lambda a: pj.self_join(a, 0.5), "texts")):
        with pytest.raises(TypeError) as raised:
            call(arrow())
        assert str(raised.value) == (f"{name}: expected Arrow strings (string, large_string, string_view or a "
                                     f"dictionary of them), got Arrow format {found}")


def test_every_exported_struct_is_released():
    payload = bytes(b"abcdef" * 1000)
    offsets = pa.array(range(0, 6001, 6), type=pa.int32()).buffers()[1]
    array = pa.Array.from_buffers(pa.string(), 1000, [None, offsets, pa.py_buffer(payload)])
    bad = pa.Array.from_buffers(pa.string(), 2, [None, pa.py_buffer(b"\0\0\0\0\1\0\0\0\2\0\0\0"),
                                                 pa.py_buffer(b"a\xff")])
    for value in (array, pa.chunked_array([array, array]), pa.chunked_array([array, bad]), pa.table({"x": array})):
        gc.collect()
        before = sys.getrefcount(payload)
        for _ in range(50):
            try:
                pj.Index(value)
            except UnicodeDecodeError:
                pass
        gc.collect()
        assert sys.getrefcount(payload) == before


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/statm")
def test_exported_columns_are_freed_by_every_reader():
    pl = pytest.importorskip("polars")
    from test_leaks import resident_kib

    index = pj.Index([f"name {i}" for i in range(300)])
    queries = [f"name {i}" for i in range(30)]

    def export_and_read():
        columns = index.top_k(queries, k=None, columnar=True)
        columns.__arrow_c_stream__()  # a capsule never consumed
        pa.table(columns)
        pl.DataFrame(columns)

    for _ in range(50):
        export_and_read()
    gc.collect()
    before = resident_kib()
    for _ in range(300):  # 9,000 rows, 216 kB, each time
        export_and_read()
    gc.collect()
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):
        assert resident_kib() - before < 4_096


def test_arrow_intake_makes_no_python_object_per_row():
    texts = pa.array([f"name number {i}" for i in range(200_000)] + [None])
    tracemalloc.start()
    try:
        index = pj.Index(texts)
        index.top_k(texts.slice(0, 20), k=1, columnar=True)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert len(index) == 200_001
    assert peak < 200_000  # bytes: about one Python object per thousand rows at most


def test_columns_match_the_lists_and_are_read_without_a_copy():
    pl = pytest.importorskip("polars")
    duckdb = pytest.importorskip("duckdb")
    texts = ["Anna Smith", None, "anna smith", "Ann Smyth", "Bob", "bob", "Anna Smith"]
    index = pj.Index(texts)
    lists = index.top_k(texts, k=3, threshold=0.5)
    columns = index.top_k(texts, k=3, threshold=0.5, columnar=True)
    rows = [(query, position, score) for query, found in enumerate(lists) for position, score in found]
    assert len(columns) == len(rows)
    table = pa.table(columns)
    table.validate(full=True)
    assert table.schema == pa.schema([("query", pa.int64(), False), ("position", pa.int64(), False),
                                      ("score", pa.float64(), False)])
    assert list(zip(*(table.column(name).to_pylist() for name in ("query", "position", "score")))) == rows
    assert pl.DataFrame(columns).rows() == rows
    assert duckdb.sql("select * from columns").fetchall() == rows
    # every reader is handed the same native memory
    assert pa.table(columns).column("score").chunk(0).buffers()[1].address == \
        pa.table(columns).column("score").chunk(0).buffers()[1].address
    assert pl.DataFrame(columns)["score"].to_arrow().buffers()[1].address == \
        table.column("score").chunk(0).buffers()[1].address
    pairs = pj.self_join(texts, 0.5, columnar=True)
    assert pa.table(pairs).column_names == ["left", "right", "score"]
    assert pl.DataFrame(pairs).rows() == pj.self_join(texts, 0.5)
    assert len(pj.self_join([], 0.5, columnar=True)) == 0 == pa.table(pj.Index([]).top_k([], columnar=True)).num_rows
    with pytest.raises(TypeError, match="columnar must be True or False, got int"):
        index.top_k(texts, columnar=1)
    with pytest.raises(TypeError, match="made by top_k and self_join only"):
        type(columns)()
