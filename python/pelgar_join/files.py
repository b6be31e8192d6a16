"""The files of the pelgar-join command: CSV, TSV and Parquet tables read as Arrow, whole or in
record batches, and results written batch by batch to a temporary file renamed at the end.

A CSV or TSV file is first checked line by line (UTF-8, no NUL byte, every quote closed, as many
fields in every row as in the header) and refused with the line of its first fault; pyarrow's
streaming reader then reads the checked file. Cells are text, an empty cell missing."""

import codecs
import csv
import os
import sys
import tempfile

from ._extras import need

FORMATS = {".csv": ",", ".tsv": "\t", ".parquet": None}
# rows of a Parquet record batch; a CSV batch is a block of this many bytes
BATCH_ROWS = 16_384
CSV_BLOCK_BYTES = 1 << 20
# the longest CSV field the check accepts: far beyond any text worth matching
FIELD_LIMIT = 1 << 30


class UserError(Exception):
    """A mistake of the caller's, reported in one line with exit status 2."""


def format_of(path):
    """The extension of `path`, one of FORMATS, or UserError."""
    extension = os.path.splitext(path)[1].lower()
    if extension not in FORMATS:
        raise UserError(f"{path}: unknown format {extension or '(no extension)'!r}; use .csv, .tsv or .parquet")
    return extension


class _CheckedLines:
    """The lines of a file as text, counted; UserError at the first that is not UTF-8 or holds a NUL."""

    def __init__(self, handle, path):
        self.handle = handle
        self.path = path
        self.number = 0

    def __iter__(self):
        for raw in self.handle:
            self.number += 1
            if self.number == 1 and raw.startswith(codecs.BOM_UTF8):
                raw = raw[len(codecs.BOM_UTF8):]
            if b"\0" in raw:
                raise UserError(f"{self.path}: line {self.number}: a NUL byte")
            try:
                yield raw.decode("utf-8")
            except UnicodeDecodeError:
                raise UserError(f"{self.path}: not UTF-8 text at line {self.number}") from None


def _unique(names):
    """Header names with repeats numbered as pandas numbers them: a, a.1, a.2."""
    seen, unique = {}, []
    for name in names:
        count = seen.get(name, 0)
        seen[name] = count + 1
        unique.append(name if count == 0 else f"{name}.{count}")
    return unique


def check_csv(path, delimiter):
    """(column names, rows) of a well-formed CSV or TSV file, or UserError naming its first bad line."""
    limit = csv.field_size_limit(FIELD_LIMIT)
    try:
        with _open(path, "rb") as handle:
            lines = _CheckedLines(handle, path)
            reader = csv.reader(lines, delimiter=delimiter, strict=True)
            header = next(reader, None)
            if header is None:
                raise UserError(f"{path}: empty file")
            rows = 0
            while True:
                start = lines.number + 1
                try:
                    record = next(reader, None)
                except csv.Error as error:
                    raise UserError(f"{path}: line {start}: {_csv_fault(error)}") from None
                if record is None:
                    return _unique(header), rows
                if record and len(record) != len(header):
                    raise UserError(f"{path}: line {start}: {len(record)} fields where the header has "
                                    f"{len(header)}")
                rows += bool(record)  # a blank line is no row
    finally:
        csv.field_size_limit(limit)


def _csv_fault(error):
    text = str(error)
    if "unexpected end of data" in text:
        return "a quote opened in this row is never closed"
    if "expected after '\"'" in text:
        return "text after the closing quote of a field"
    return text


def _open(path, mode):
    try:
        return open(path, mode)
    except FileNotFoundError:
        raise UserError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise UserError(f"{path}: is a directory") from None
    except PermissionError:
        raise UserError(f"{path}: permission denied") from None


class Source:
    """A table file opened for reading: its column names, its row count and its record batches."""

    def __init__(self, path):
        self.path = path
        self.extension = format_of(path)
        if FORMATS[self.extension] is None:
            self._parquet = self._open_parquet()
            metadata = self._parquet.metadata
            self.rows = metadata.num_rows
            self.columns = [name for name in self._parquet.schema_arrow.names if name not in _index_columns(metadata)]
            self.schema = self._parquet.schema_arrow
        else:
            self.columns, self.rows = check_csv(path, FORMATS[self.extension])
            self.schema = None

    def _open_parquet(self):
        pq = need("pyarrow.parquet", "join")
        _open(self.path, "rb").close()
        try:
            return pq.ParquetFile(self.path)
        except Exception as error:  # pyarrow's errors for a file that is not Parquet
            raise UserError(f"{self.path}: not readable as Parquet: {_first_line(error)}") from None

    def key_type(self, name):
        """UserError unless `name` is a column of text."""
        if name not in self.columns:
            raise UserError(f"{self.path}: no column {name!r}")
        if self.schema is None:
            return
        pa = need("pyarrow", "join")
        kind = self.schema.field(name).type
        if pa.types.is_dictionary(kind):
            kind = kind.value_type
        if not (pa.types.is_string(kind) or pa.types.is_large_string(kind) or pa.types.is_null(kind)
                or str(kind) == "string_view"):
            raise UserError(f"{self.path}: column {name!r} holds {kind} values, not text")

    def batches(self):
        """The table's record batches in order; at least one, empty for a table of no rows."""
        pa = need("pyarrow", "join")
        empty = True
        for batch in self._read_batches():
            empty = False
            yield batch
        if empty:
            yield pa.RecordBatch.from_pylist([], schema=self._empty_schema())

    def whole(self):
        pa = need("pyarrow", "join")
        return pa.Table.from_batches(list(self.batches()))

    def _read_batches(self):
        try:
            if self.schema is not None:
                yield from self._parquet.iter_batches(batch_size=BATCH_ROWS, columns=self.columns)
            else:
                yield from self._csv_reader()
        except OSError as error:  # pyarrow's ArrowInvalid and ArrowIOError are not all OSErrors
            raise UserError(f"{self.path}: not readable: {_first_line(error)}") from None
        except ValueError as error:
            raise UserError(f"{self.path}: not readable as {self.extension[1:].upper()}: "
                            f"{_first_line(error)}") from None

    def _csv_reader(self):
        pa = need("pyarrow", "join")
        pacsv = need("pyarrow.csv", "join")
        return pacsv.open_csv(
            self.path,
            read_options=pacsv.ReadOptions(column_names=self.columns, skip_rows=1, block_size=CSV_BLOCK_BYTES),
            parse_options=pacsv.ParseOptions(delimiter=FORMATS[self.extension], newlines_in_values=True),
            convert_options=pacsv.ConvertOptions(column_types={name: pa.string() for name in self.columns},
                                                 null_values=[""], strings_can_be_null=True))

    def _empty_schema(self):
        pa = need("pyarrow", "join")
        if self.schema is not None:
            return pa.schema([self.schema.field(name) for name in self.columns])
        return pa.schema([(name, pa.string()) for name in self.columns])


def _index_columns(metadata):
    """Names of the columns that hold a pandas index, which pandas read back as the index."""
    import json

    pandas = (metadata.metadata or {}).get(b"pandas")
    if not pandas:
        return set()
    return {name for name in json.loads(pandas).get("index_columns", []) if isinstance(name, str)}


def _first_line(error):
    return str(error).strip().splitlines()[0] if str(error).strip() else type(error).__name__


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class Output:
    """Where the result goes, a table at a time: standard output as CSV, or a temporary file beside
    the target, renamed to it by finish()."""

    def __init__(self, target):
        self.target = target
        self.temporary = None
        self._writer = None
        self._started = False

    def write(self, table):
        """Append a pyarrow Table of result rows; the first one also gives the header or the schema."""
        try:
            if self.target is None:
                self._write_csv(table, sys.stdout, ",")
                sys.stdout.flush()
            else:
                self._write_file(table)
        except OSError as error:
            if self.target is None:
                raise
            raise UserError(f"{self.target}: cannot write: {error.strerror or error}") from None
        self._started = True

    def _write_file(self, table):
        if self.temporary is None:
            directory = os.path.dirname(os.path.abspath(self.target))
            handle, self.temporary = tempfile.mkstemp(
                dir=directory, prefix=f".{os.path.basename(self.target)}.", suffix=".part")
            os.close(handle)
        delimiter = FORMATS[format_of(self.target)]
        if delimiter is None:
            if self._writer is None:
                self._writer = need("pyarrow.parquet", "join").ParquetWriter(self.temporary, table.schema)
            self._writer.write_table(table)
        else:
            self._write_csv(table, self.temporary, delimiter, mode="a", encoding="utf-8")

    def _write_csv(self, table, destination, delimiter, **options):
        # pandas writes the cells as ever: text as read, floats exactly, missing values empty
        frame = table.to_pandas()
        frame.to_csv(destination, sep=delimiter, index=False, header=not self._started, **options)

    def finish(self):
        """Close the file and put it in place of the target, as if written there."""
        if self.target is None:
            return
        try:
            if self._writer is not None:
                self._writer.close()
            os.chmod(self.temporary, 0o666 & ~_umask())  # not mkstemp's 0600
            os.replace(self.temporary, self.target)
            self.temporary = None
        except OSError as error:
            raise UserError(f"{self.target}: cannot write: {error.strerror or error}") from None

    def discard(self):
        """Remove the temporary file, if one is being written."""
        temporary, self.temporary = self.temporary, None
        if temporary is not None:
            try:
                os.unlink(temporary)
            except OSError:
                pass
