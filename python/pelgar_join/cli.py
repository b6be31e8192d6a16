"""pelgar-join: fuzzy joins and deduplication of CSV, TSV and Parquet files from the command line."""

import argparse
import math
import os
import signal
import sys
import tempfile
import threading
from typing import Optional, Sequence

from .tables import HOWS

PROGRAM = "pelgar-join"
SCORERS = ("combined", "token_sort", "token_set")
FORMATS = {".csv": ",", ".tsv": "\t", ".parquet": None}
# exit statuses: a user error, and death by SIGINT as shells report it
USER_ERROR = 2
INTERRUPTED = 130
# a Ctrl-C that the running code does not answer by then ends the process outright
HARD_STOP_SECONDS = 0.8

EXAMPLES = """\
examples:
  pelgar-join people.csv customers.parquet --left-on name --right-on full_name -k 3 \\
      --threshold 0.8 -o matches.parquet
  pelgar-join orders.tsv companies.csv --left-on company --how left > joined.csv
  pelgar-join --dedupe contacts.csv --on name --threshold 0.9 -o contacts-clustered.csv

Formats follow the file extension: .csv, .tsv (UTF-8 text) or .parquet. Without -o the
result goes to standard output as CSV. Exit status: 0 done, 2 a user error, 130 Ctrl-C.
"""


class UserError(Exception):
    """A mistake of the caller's, reported in one line with exit status 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UserError(message)


def _positive_int(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of 1 or more, not {text!r}")
    return value


def _threshold(text):
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not 0.0 <= value <= 1.0:
        raise argparse.ArgumentTypeError(f"expected a number from 0 to 1, not {text!r}")
    return value


def build_parser():
    parser = _Parser(
        prog=PROGRAM,
        usage=(f"{PROGRAM} LEFT RIGHT --left-on COL [--right-on COL] [options]\n"
               f"       {PROGRAM} --dedupe FILE --on COL --threshold T [options]"),
        description="Join the rows of LEFT to the rows of RIGHT whose text is most alike, "
                    "or group the rows of one file whose texts are alike.",
        epilog=EXAMPLES, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("left", nargs="?", metavar="LEFT",
                        help="file whose rows look for matches (.csv, .tsv or .parquet)")
    parser.add_argument("right", nargs="?", metavar="RIGHT",
                        help="file whose rows are the candidates (.csv, .tsv or .parquet)")
    parser.add_argument("--left-on", metavar="COL", help="column of LEFT holding the texts to match")
    parser.add_argument("--right-on", metavar="COL",
                        help="column of RIGHT holding the candidate texts (default: the --left-on name)")
    parser.add_argument("-k", type=_positive_int, default=1, metavar="N",
                        help="matches kept per LEFT row, best first (default: 1)")
    parser.add_argument("--threshold", type=_threshold, metavar="T",
                        help="lowest score, 0 to 1, of a match or of a pair in one cluster "
                             "(default 0 for a join; required with --dedupe)")
    parser.add_argument("--scorer", choices=SCORERS, default="combined",
                        help="score of two texts: combined (default), token_sort or token_set")
    parser.add_argument("--how", choices=HOWS, default="inner",
                        help="inner (default): matched rows only; left: also every LEFT row "
                             "without a match, once, with empty RIGHT columns")
    parser.add_argument("--workers", type=_positive_int, metavar="N",
                        help="worker threads (default: one per processor)")
    parser.add_argument("-o", "--output", metavar="OUT",
                        help="file to write (.csv, .tsv or .parquet); standard output as CSV if absent")
    parser.add_argument("--no-progress", action="store_true",
                        help="no progress bar (there is none either when standard error is not a terminal)")
    parser.add_argument("--dedupe", metavar="FILE",
                        help="write the rows of FILE with a 'cluster' column: the number (from 0) "
                             "of the first row of the group of alike texts it belongs to")
    parser.add_argument("--on", metavar="COL", help="with --dedupe: the column holding the texts")
    return parser


def _check_arguments(parser, args):
    if args.dedupe is not None:
        if args.left is not None:
            parser.error("--dedupe takes one FILE and no LEFT or RIGHT")
        if args.on is None:
            parser.error("--dedupe needs --on COL")
        if args.threshold is None:
            parser.error("--dedupe needs --threshold T")
    else:
        if args.right is None:
            parser.error("two files are needed: LEFT RIGHT (or --dedupe FILE)")
        if args.left_on is None:
            parser.error("--left-on COL is needed")
    if args.output is not None:
        _format(args.output)


def _format(path):
    extension = os.path.splitext(path)[1].lower()
    if extension not in FORMATS:
        raise UserError(f"{path}: unknown format {extension or '(no extension)'!r}; "
                        "use .csv, .tsv or .parquet")
    return extension


def read_table(path):
    """The table in `path`; CSV and TSV cells are read as text, empty ones as missing."""
    from ._extras import need

    pd = need("pandas", "join")
    extension = _format(path)
    try:
        if FORMATS[extension] is None:
            return pd.read_parquet(path)
        # text stays text: "007" and "NA" come back as written
        return pd.read_csv(path, sep=FORMATS[extension], dtype=str, keep_default_na=False,
                           na_values=[""], encoding="utf-8", encoding_errors="strict")
    except FileNotFoundError:
        raise UserError(f"{path}: no such file") from None
    except IsADirectoryError:
        raise UserError(f"{path}: is a directory") from None
    except PermissionError:
        raise UserError(f"{path}: permission denied") from None
    except UnicodeDecodeError:
        raise UserError(f"{path}: not UTF-8 text") from None
    except pd.errors.EmptyDataError:
        raise UserError(f"{path}: empty file") from None
    except pd.errors.ParserError as error:
        raise UserError(f"{path}: not readable as {extension[1:].upper()}: {_first_line(error)}") from None
    except Exception as error:  # pyarrow's errors for a file that is not Parquet
        if extension == ".parquet":
            raise UserError(f"{path}: not readable as Parquet: {_first_line(error)}") from None
        raise


def _first_line(error):
    return str(error).strip().splitlines()[0] if str(error).strip() else type(error).__name__


def _key_column(frame, name, path):
    """Check that `name` is a column of `frame` holding texts or missing values."""
    if name not in frame.columns:
        raise UserError(f"{path}: no column {name!r}")
    present = frame[name].dropna()
    wrong = present[[not isinstance(value, str) for value in present.tolist()]]
    if len(wrong):
        raise UserError(f"{path}: column {name!r} holds {type(wrong.iloc[0]).__name__} values, not text")


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


class Output:
    """Where the result goes: standard output, or a temporary file beside the target renamed at the end."""

    def __init__(self, target):
        self.target = target
        self.temporary = None

    def write(self, frame):
        if self.target is None:
            frame.to_csv(sys.stdout, index=False)
            sys.stdout.flush()
            return
        directory = os.path.dirname(os.path.abspath(self.target))
        try:
            handle, self.temporary = tempfile.mkstemp(
                dir=directory, prefix=f".{os.path.basename(self.target)}.", suffix=".part")
            os.close(handle)
            extension = _format(self.target)
            if FORMATS[extension] is None:
                frame.to_parquet(self.temporary, index=False)
            else:
                frame.to_csv(self.temporary, sep=FORMATS[extension], index=False, encoding="utf-8")
            os.chmod(self.temporary, 0o666 & ~_umask())  # as if written in place, not mkstemp's 0600
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


def _run(args):
    from . import tables

    progress = not args.no_progress and sys.stderr.isatty()
    if args.dedupe is not None:
        frame = read_table(args.dedupe)
        _key_column(frame, args.on, args.dedupe)
        if "cluster" in frame.columns:
            raise UserError(f"{args.dedupe}: already has a column 'cluster'")
        clusters = tables.dedupe(frame, args.on, args.threshold, scorer=args.scorer,
                                 workers=args.workers, progress=progress)
        return frame.assign(cluster=clusters)
    left, right = read_table(args.left), read_table(args.right)
    right_on = args.right_on if args.right_on is not None else args.left_on
    _key_column(left, args.left_on, args.left)
    _key_column(right, right_on, args.right)
    try:
        return tables.fuzzy_join(left, right, args.left_on, right_on, k=args.k,
                                 threshold=args.threshold or 0.0, scorer=args.scorer, how=args.how,
                                 workers=args.workers, progress=progress)
    except ValueError as error:  # a clash of column names
        raise UserError(str(error)) from None


def _stop_on_interrupt(output):
    """On Ctrl-C raise KeyboardInterrupt, and end the process if it is not answered in time."""
    def hard_stop():
        output.discard()
        os._exit(INTERRUPTED)

    def interrupted(signum, frame):
        timer = threading.Timer(HARD_STOP_SECONDS, hard_stop)
        timer.daemon = True
        timer.start()
        raise KeyboardInterrupt

    signal.signal(signal.SIGINT, interrupted)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Run the command line; returns the exit status."""
    output = Output(None)
    try:
        _stop_on_interrupt(output)
        parser = build_parser()
        args = parser.parse_args(argv)
        _check_arguments(parser, args)
        output.target = args.output
        output.write(_run(args))
        return 0
    except UserError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return USER_ERROR
    except KeyboardInterrupt:
        output.discard()
        print(f"{PROGRAM}: interrupted", file=sys.stderr)
        return INTERRUPTED
    except BrokenPipeError:
        # the reader of standard output went away (| head): say nothing, and flush nothing more
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except ImportError as error:
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return USER_ERROR
