"""pelgar-join: fuzzy joins and deduplication of CSV, TSV and Parquet files from the command line."""

import argparse
import math
import os
import signal
import sys
import threading
from typing import Optional, Sequence

from .files import Output, Source, UserError, format_of
from .tables import HOWS

PROGRAM = "pelgar-join"
SCORERS = ("combined", "token_sort", "token_set")
SUFFIXES = ("_left", "_right")
# exit statuses: a user error, and death by SIGINT as shells report it
USER_ERROR = 2
INTERRUPTED = 130
# a Ctrl-C that the running code does not answer by then ends the process outright
HARD_STOP_SECONDS = 0.8

EXAMPLES = """\
examples:
  pelgar-join people.csv customers.parquet --left-on name --right-on full_name -k 3 \\
      --threshold 0.8 -o matches.parquet
  pelgar-join people.csv customers.parquet --on name=0.4,address=0.3,dob=0.3 \\
      --right-on name=full_name --field-scores -o matches.parquet
  pelgar-join orders.tsv companies.csv --left-on company --how left > joined.csv
  pelgar-join --dedupe contacts.csv --on name --threshold 0.9 -o contacts-clustered.csv

Formats follow the file extension: .csv, .tsv (UTF-8 text) or .parquet. LEFT is read and
joined a batch of rows at a time, and the result written as it comes, so LEFT may be larger
than memory; RIGHT and its index are held whole. A CSV file with a row of more or fewer fields
than its header, a quote left open or a NUL byte is refused, naming the line. Without -o the
result goes to standard output as CSV. Exit status: 0 done, 2 a user error, 130 Ctrl-C.
"""


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


def _fields(text):
    """A column name, or weighted columns COL=W,COL=W as a dict."""
    if "=" not in text:
        return text
    fields = _pairs(text, "COL=WEIGHT")
    for name, weight in fields.items():
        try:
            value = float(weight)
        except ValueError:
            value = math.nan
        if not (value > 0.0 and math.isfinite(value)):
            raise argparse.ArgumentTypeError(f"the weight of {name!r} must be a positive number, not {weight!r}")
        fields[name] = value
    return fields


def _pairs(text, form):
    """NAME=VALUE,NAME=VALUE as a dict of texts."""
    pairs = {}
    for item in text.split(","):
        name, equals, value = item.partition("=")
        if not name or not equals or not value:
            raise argparse.ArgumentTypeError(f"expected {form},{form}..., not {item!r}")
        if name in pairs:
            raise argparse.ArgumentTypeError(f"{name!r} is given twice")
        pairs[name] = value
    return pairs


def build_parser():
    parser = _Parser(
        prog=PROGRAM,
        usage=(f"{PROGRAM} LEFT RIGHT --left-on COL [--right-on COL] [options]\n"
               f"       {PROGRAM} LEFT RIGHT --on COL=W,COL=W [--right-on FIELD=COL,...] [options]\n"
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
                        help="column of RIGHT holding the candidate texts (default: the --left-on name); "
                             "with --on: FIELD=COL,... for the fields named otherwise in RIGHT")
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
                             "of the first row of the group of alike texts it belongs to (FILE is read "
                             "whole: grouping needs the whole column)")
    parser.add_argument("--on", metavar="COL=W,...", type=_fields,
                        help="several key columns with their weights, such as name=0.4,address=0.3,dob=0.3: "
                             "rows score the weighted mean of their fields' scores, over the fields present "
                             "in both; with --dedupe, also one column COL")
    parser.add_argument("--field-scores", action="store_true",
                        help="with --on: add a column score_FIELD per field, empty where the field was missing")
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
        if args.left_on is None and args.on is None:
            parser.error("--left-on COL is needed (or --on COL=W,COL=W for several columns)")
        if args.left_on is not None and args.on is not None:
            parser.error("--left-on and --on: give one (--on for several columns with weights)")
        if isinstance(args.on, str):
            parser.error(f"in a join, --on takes columns with weights, such as {args.on}=0.6,city=0.4 "
                         "(or --left-on COL)")
    if args.field_scores and not isinstance(args.on, dict):
        parser.error("--field-scores needs several columns: --on COL=W,COL=W")
    if isinstance(args.on, dict) and args.right_on is not None:
        args.right_on = _right_columns(parser, args.right_on, args.on)
    if args.output is not None:
        format_of(args.output)


def _right_columns(parser, text, fields):
    """--right-on FIELD=COL,... as a dict, every FIELD one of --on's."""
    try:
        columns = _pairs(text, "FIELD=COL")
    except argparse.ArgumentTypeError as error:
        parser.error(f"argument --right-on: {error}")
    for field in columns:
        if field not in fields:
            parser.error(f"argument --right-on: {field!r} is not a column of --on")
    return columns


def _key_columns(args):
    """The key columns of the join as the table layer takes them."""
    from .tables import Keys

    if isinstance(args.on, dict):
        return Keys(None, args.right_on, args.on, args.scorer, None, args.field_scores)
    return Keys(args.left_on, args.right_on, scorer=args.scorer)


def _dedupe(args, output, progress):
    from . import tables

    source = Source(args.dedupe)
    for name in args.on if isinstance(args.on, dict) else [args.on]:
        source.key_type(name)
    if "cluster" in source.columns:
        raise UserError(f"{args.dedupe}: already has a column 'cluster'")
    table = source.whole()
    clusters = tables.dedupe(table, args.on, args.threshold, scorer=args.scorer, workers=args.workers,
                             progress=progress)
    output.write(table.append_column("cluster", clusters))


def _steady_allocator():
    """pyarrow's jemalloc pool where it has one: its default, mimalloc, holds on to more memory the
    more batches pass through it."""
    try:
        import pyarrow

        pyarrow.set_memory_pool(pyarrow.jemalloc_memory_pool())
    except (ImportError, NotImplementedError):
        pass


def _join(args, output, progress):
    """Index RIGHT once, then match and write LEFT a batch at a time, in LEFT's order."""
    from . import tables
    from ._progress import progress_callback
    from .frames import ArrowFrame

    _steady_allocator()

    left, right = Source(args.left), Source(args.right)
    key_columns = _key_columns(args)
    for field in key_columns.fields:
        left.key_type(field)
        right.key_type(key_columns.right[field])
    try:
        tables.result_names(left.columns, right.columns, SUFFIXES, key_columns.score_names)
    except ValueError as error:  # a clash of column names
        raise UserError(str(error)) from None
    right_frame = ArrowFrame(right.whole())
    index = key_columns.index(right_frame.texts)
    done = 0
    with progress_callback(progress) as report:
        for batch in left.batches():
            output.write(tables.join_frames(ArrowFrame(batch), right_frame, key_columns, index, args.k, args.how,
                                            args.threshold or 0.0, args.workers,
                                            _rows_from(done, left.rows, report), SUFFIXES))
            done += batch.num_rows


def _rows_from(offset, total, report):
    """The progress callback of one batch, counting the rows of LEFT before it."""
    if report is None:
        return None
    return lambda done, _batch_total: report(offset + done, total)


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
        progress = not args.no_progress and sys.stderr.isatty()
        (_dedupe if args.dedupe is not None else _join)(args, output, progress)
        output.finish()
        return 0
    except UserError as error:
        output.discard()
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
        output.discard()
        print(f"{PROGRAM}: error: {error}", file=sys.stderr)
        return USER_ERROR
    except BaseException:
        output.discard()
        raise
