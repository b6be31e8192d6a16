"""pelgar-join run as a user runs it: in a subprocess, on real files."""

import fcntl
import io
import os
import pathlib
import pty
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time

import pytest

pd = pytest.importorskip("pandas")
pytest.importorskip("pyarrow")

import pelgar  # noqa: E402
from join_model import top_k_brute  # noqa: E402

COMMAND = [sys.executable, "-m", "pelgar_join"]


def run(*args, cwd, **options):
    return subprocess.run([*COMMAND, *map(str, args)], cwd=cwd, capture_output=True, text=True,
                          timeout=120, **options)


@pytest.fixture
def files(tmp_path):
    left = pd.DataFrame({"name": ["Jon Smith", "Mary", "", "Zoë"], "code": ["007", "NA", "1", "2"]})
    right = pd.DataFrame({"name": ["John Smith", "Marie", "Zoe"], "code": ["10", "20", "30"]})
    left.to_csv(tmp_path / "left.csv", index=False)
    right.to_csv(tmp_path / "right.tsv", sep="\t", index=False)
    right.to_parquet(tmp_path / "right.parquet", index=False)
    return tmp_path


def expected_join(k=1):
    left = [("Jon Smith", "007"), ("Mary", "NA"), ("Zoë", "2")]
    right = [("John Smith", "10"), ("Marie", "20"), ("Zoe", "30")]
    found = top_k_brute([name for name, _ in right], [name for name, _ in left], k, 0.0)
    return [row + right[position] + (score,) for row, matches in zip(left, found) for position, score in matches]


# Older pandas reads some CSV floats a unit off unless asked; pandas 3 reads them exactly anyway.
EXACT_FLOATS = {"float_precision": "round_trip"} if int(pd.__version__.split(".")[0]) < 3 else {}


def read_rows(path, **options):
    frame = pd.read_csv(path, dtype={"code_left": str, "code_right": str, "code": str},
                        keep_default_na=False, na_values=[""], **EXACT_FLOATS, **options) \
        if path.suffix != ".parquet" else pd.read_parquet(path)
    return [tuple(row) for row in frame.itertuples(index=False)]


@pytest.mark.parametrize("right_name", ["right.tsv", "right.parquet"])
@pytest.mark.parametrize("out_name", ["out.csv", "out.tsv", "out.parquet"])
def test_each_format_in_and_out(files, right_name, out_name):
    done = run("left.csv", right_name, "--left-on", "name", "-k", "2", "-o", out_name, cwd=files)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "" and done.stderr == ""
    options = {"sep": "\t"} if out_name.endswith(".tsv") else {}
    # text cells come back as written ("007", "NA"), scores to the last bit
    assert read_rows(files / out_name, **options) == expected_join(k=2)
    assert sorted(p.name for p in files.iterdir()) == sorted(["left.csv", "right.tsv", "right.parquet", out_name])


def test_standard_output_left_join_and_right_on(files):
    (files / "other.csv").write_text("full\nMarie\n", encoding="utf-8")
    done = run("left.csv", "other.csv", "--left-on", "name", "--right-on", "full", "--how", "left",
               "--threshold", "0.6", "--scorer", "token_set", "--no-progress", cwd=files)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "name,code,full,score",
        "Jon Smith,007,,",
        f"Mary,NA,Marie,{pelgar.token_set_ratio('Mary', 'Marie')!r}",
        ",1,,",
        "Zoë,2,,",
    ]


def test_dedupe(files):
    (files / "names.csv").write_text("name,n\nAnn Lee,1\nann lee,2\nBob,3\n,4\nAnn Leé,5\n", encoding="utf-8")
    done = run("--dedupe", "names.csv", "--on", "name", "--threshold", "0.9", "-o", "out.csv", cwd=files)
    assert done.returncode == 0, done.stderr
    assert (files / "out.csv").read_text(encoding="utf-8").splitlines() == [
        "name,n,cluster", "Ann Lee,1,0", "ann lee,2,0", "Bob,3,2", ",4,3", "Ann Leé,5,0"]


@pytest.mark.parametrize("args, message", [
    (["nope.csv", "right.tsv", "--left-on", "name"], "nope.csv: no such file"),
    (["left.csv", "right.tsv", "--left-on", "nom"], "left.csv: no column 'nom'"),
    (["left.csv", "right.tsv", "--left-on", "name", "--right-on", "x"], "right.tsv: no column 'x'"),
    (["left.csv", "right.xlsx", "--left-on", "name"], "right.xlsx: unknown format '.xlsx'"),
    (["left.csv", "right.tsv", "--left-on", "name", "-o", "out.json"], "out.json: unknown format '.json'"),
    (["left.csv", "right.tsv", "--left-on", "name", "--scorer", "cosine"], "argument --scorer: invalid choice: 'cosine'"),
    (["left.csv", "right.tsv", "--left-on", "name", "-k", "two"], "argument -k: expected a whole number of 1 or more, not 'two'"),
    (["left.csv", "right.tsv", "--left-on", "name", "-k", "0"], "argument -k: expected a whole number"),
    (["left.csv", "right.tsv", "--left-on", "name", "--threshold", "1.5"], "argument --threshold: expected a number from 0 to 1, not '1.5'"),
    (["left.csv", "right.tsv", "--left-on", "name", "--workers", "-1"], "argument --workers: expected a whole number"),
    (["left.csv", "right.tsv", "--left-on", "name", "--how", "outer"], "argument --how: invalid choice: 'outer'"),
    (["left.csv", "right.tsv"], "--left-on COL is needed"),
    (["left.csv"], "two files are needed"),
    (["--dedupe", "left.csv", "--on", "name"], "--dedupe needs --threshold T"),
    (["--dedupe", "left.csv", "--threshold", "0.5"], "--dedupe needs --on COL"),
    (["latin1.csv", "right.tsv", "--left-on", "name"], "latin1.csv: not UTF-8 text"),
    (["empty.csv", "right.tsv", "--left-on", "name"], "empty.csv: empty file"),
    (["left.csv", "fake.parquet", "--left-on", "name"], "fake.parquet: not readable as Parquet"),
    (["left.csv", "numbers.parquet", "--left-on", "name"], "numbers.parquet: column 'name' holds int"),
    (["left.csv", "right.tsv", "--left-on", "name", "-o", "no/such/dir/out.csv"], "no/such/dir/out.csv: cannot write"),
    (["left.csv", "right.tsv", "--on", "name=0.4,code=x"],
     "argument --on: the weight of 'code' must be a positive number, not 'x'"),
    (["left.csv", "right.tsv", "--on", "name=inf"], "argument --on: the weight of 'name' must be a positive number"),
    (["left.csv", "right.tsv", "--on", "name=1,code"], "argument --on: expected COL=WEIGHT,COL=WEIGHT..., not 'code'"),
    (["left.csv", "right.tsv", "--on", "name=1,name=2"], "argument --on: 'name' is given twice"),
    (["left.csv", "right.tsv", "--on", "name=1,nom=1"], "left.csv: no column 'nom'"),
    (["left.csv", "right.tsv", "--on", "name=1", "--right-on", "name=full"], "right.tsv: no column 'full'"),
    (["left.csv", "right.tsv", "--on", "name=1", "--right-on", "code=x"],
     "argument --right-on: 'code' is not a column of --on"),
    (["left.csv", "right.tsv", "--on", "name"], "in a join, --on takes columns with weights, such as name=0.6"),
    (["left.csv", "right.tsv", "--left-on", "name", "--on", "name=1"], "--left-on and --on: give one"),
    (["left.csv", "right.tsv", "--left-on", "name", "--field-scores"], "--field-scores needs several columns"),
    (["--dedupe", "left.csv", "--on", "name=1,nom=1", "--threshold", "0.5"], "left.csv: no column 'nom'"),
])
def test_user_errors_say_one_line_and_exit_2(files, args, message):
    (files / "latin1.csv").write_bytes("name\nZo\u00eb\n".encode("latin-1"))
    (files / "empty.csv").write_bytes(b"")
    (files / "fake.parquet").write_text("name\nx\n")
    pd.DataFrame({"name": [1, 2]}).to_parquet(files / "numbers.parquet")
    done = run(*args, cwd=files)
    assert done.returncode == 2
    assert done.stdout == ""
    assert done.stderr.startswith(f"pelgar-join: error: {message}"), done.stderr
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr


def test_help_explains_every_option_with_examples(files):
    done = run("--help", cwd=files)
    assert done.returncode == 0 and done.stderr == ""
    for option in ["--left-on", "--right-on", "-k", "--threshold", "--scorer", "--how", "--workers",
                   "-o", "--no-progress", "--dedupe", "--on", "--field-scores"]:
        # a whole option (argparse writes "-o OUT" or, from 3.13, "-o, --output OUT")
        assert re.search(rf"(?<![\w-]){option}\b", done.stdout), option
    assert "examples:" in done.stdout and "pelgar-join --dedupe contacts.csv" in done.stdout


def test_console_script_and_module_are_the_same_program(files):
    script = shutil.which("pelgar-join", path=os.path.dirname(sys.executable))
    assert script is not None
    by_script = subprocess.run([script, "--help"], capture_output=True, text=True, timeout=60)
    by_module = subprocess.run([sys.executable, "-m", "pelgar_join", "--help"], capture_output=True,
                               text=True, timeout=60)
    assert by_script.returncode == by_module.returncode == 0
    assert by_script.stdout == by_module.stdout


def big_files(folder):
    """Inputs whose matching takes far longer than the test waits, on any machine."""
    # Random texts over four letters: every candidate shares trigrams with every query and the
    # best scores stay low, so no filter can cut the work down (about 100 s on two cores here).
    rng = random.Random(7)

    def texts(count):
        return ["".join(rng.choices("abcd", k=12)) for _ in range(count)]

    pd.DataFrame({"name": texts(200_000)}).to_csv(folder / "left.csv", index=False)
    pd.DataFrame({"name": texts(200_000)}).to_csv(folder / "right.csv", index=False)


def test_ctrl_c_stops_within_a_second_and_leaves_no_file(tmp_path):
    big_files(tmp_path)
    process = subprocess.Popen([*COMMAND, "left.csv", "right.csv", "--left-on", "name", "-o", "out.csv"],
                               cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4)
    assert process.poll() is None, process.communicate()
    sent = time.monotonic()
    process.send_signal(signal.SIGINT)
    try:
        _, err = process.communicate(timeout=30)
    finally:
        process.kill()
    assert time.monotonic() - sent < 1.5  # a second, with room for a loaded machine
    assert process.returncode == 130
    assert err.strip().splitlines()[-1] == "pelgar-join: interrupted" and "Traceback" not in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["left.csv", "right.csv"]


def test_interrupt_while_writing_removes_the_temporary_file(tmp_path, monkeypatch):
    from pelgar_join import cli

    pd.DataFrame({"name": ["a", "b"]}).to_csv(tmp_path / "in.csv", index=False)

    def half_written(self, path, *args, **kwargs):
        pathlib.Path(path).write_text("name,n")
        raise KeyboardInterrupt

    monkeypatch.setattr(pd.DataFrame, "to_csv", half_written)
    monkeypatch.chdir(tmp_path)
    try:
        status = cli.main(["in.csv", "in.csv", "--left-on", "name", "-o", "out.csv"])
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    assert status == 130
    assert [p.name for p in tmp_path.iterdir()] == ["in.csv"]


def read_terminal(command, cwd):
    """Run `command` with standard error on a pseudo-terminal; returns (status, what it showed)."""
    leader, follower = pty.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=follower)
    os.close(follower)
    shown = b""
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline:
        ready, _, _ = select.select([leader], [], [], 1)
        if ready:
            try:
                chunk = os.read(leader, 4096)
            except OSError:
                break
            if not chunk:
                break
            shown += chunk
        elif process.poll() is not None:
            break
    os.close(leader)
    return process.wait(timeout=30), shown.decode("utf-8", "replace")


def test_progress_bar_on_a_terminal_only(files):
    status, shown = read_terminal([*COMMAND, "left.csv", "right.tsv", "--left-on", "name", "-o", "out.csv"], files)
    assert status == 0
    assert "4/4" in shown and "queries/s" in shown and "100%" in shown
    status, shown = read_terminal([*COMMAND, "left.csv", "right.tsv", "--left-on", "name", "-o", "out.csv",
                                   "--no-progress"], files)
    assert status == 0 and shown == ""
    # not a terminal: nothing on standard error
    assert run("left.csv", "right.tsv", "--left-on", "name", "-o", "out.csv", cwd=files).stderr == ""


@pytest.mark.parametrize("content, message", [
    (b"name,id\na,1,2\nb,2\n", "left.csv: line 2: 3 fields where the header has 2"),
    (b"name,id\na,1\nb\n", "left.csv: line 3: 1 fields where the header has 2"),
    (b"name,id\na,1\n\"b,2\nc,3\n", "left.csv: line 3: a quote opened in this row is never closed"),
    (b"name,id\na,\"1\nb,2\n", "left.csv: line 2: a quote opened in this row is never closed"),
    (b"name,id\r\n\"a\"x,1\r\n", "left.csv: line 2: text after the closing quote of a field"),
    (b"name,id\na,1\nb\0c,2\n", "left.csv: line 3: a NUL byte"),
    (b"name,id\na,1\n\"multi\nline\",2\nZo\xeb,3\n", "left.csv: not UTF-8 text at line 5"),
])
def test_malformed_csv_is_refused_with_its_line(files, content, message):
    (files / "left.csv").write_bytes(content)
    for args in (["left.csv", "right.tsv", "--left-on", "name"], ["--dedupe", "left.csv", "--on", "name",
                                                                   "--threshold", "0.5"]):
        done = run(*args, "-o", "out.csv", cwd=files)
        assert (done.returncode, done.stdout, done.stderr) == (2, "", f"pelgar-join: error: {message}\n")
        assert not (files / "out.csv").exists()


def test_left_is_joined_batch_by_batch_in_its_order(files, monkeypatch):
    from pelgar_join import cli, files as file_tables

    names = [f"{first} {last}" if i % 7 else None for i, (first, last) in
             enumerate((f, la) for f in ["Ann", "Bob", "Zoë", "Li"] for la in ["Lee", "Smith", "Ngo", "Berg"])]
    left = pd.DataFrame({"name": pd.Series(names * 3, dtype=object), "code": [str(i) for i in range(48)]})
    left.to_csv(files / "many.csv", index=False)
    left.to_parquet(files / "many.parquet", index=False, row_group_size=10)
    right = pd.read_csv(files / "right.tsv", sep="\t", dtype=str)
    want = tables_join(left, right)
    assert any(row[2] is None for row in want) and len(want) > 60
    monkeypatch.setattr(file_tables, "BATCH_ROWS", 7)
    monkeypatch.setattr(file_tables, "CSV_BLOCK_BYTES", 64)
    monkeypatch.chdir(files)
    terminal = Terminal()
    monkeypatch.setattr(sys, "stderr", terminal)
    try:
        for name, out in [("many.csv", "out.csv"), ("many.parquet", "out.parquet"), ("many.csv", "out.tsv")]:
            assert cli.main([name, "right.tsv", "--left-on", "name", "-k", "2", "--how", "left",
                             "-o", out]) == 0
            # one bar over every row of LEFT, whatever the batches
            assert "48/48" in terminal.getvalue() and "/7 " not in terminal.getvalue()
            terminal.truncate(0)
            options = {"sep": "\t"} if out.endswith(".tsv") else {}
            got = [tuple(None if pd.isna(v) else v for v in row) for row in read_rows(files / out, **options)]
            assert got == want, (name, out)
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)


class Terminal(io.StringIO):
    def isatty(self):
        return True


def tables_join(left, right):
    import pelgar_join as pj

    joined = pj.fuzzy_join(left, right, "name", k=2, how="left")
    return [tuple(None if pd.isna(v) else v for v in row) for row in joined.itertuples(index=False)]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
def test_memory_does_not_grow_with_left(tmp_path):
    pytest.importorskip("pyarrow.parquet")
    wide = "x" * 300  # rows that weigh: a whole LEFT of 300,000 would take over 90 MB
    sizes = (30_000, 300_000)  # each several batches: the allocators' working sets are reached at both
    for rows in sizes:
        pd.DataFrame({"name": [f"name {i % 997}" for i in range(rows)], "note": [wide] * rows}) \
            .to_parquet(tmp_path / f"left{rows}.parquet", index=False, row_group_size=25_000)
    pd.DataFrame({"name": [f"name {i}" for i in range(50)]}).to_csv(tmp_path / "right.csv", index=False)
    sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))
    from peak_rss import pelgar_join_peak_kib

    peaks = [pelgar_join_peak_kib([f"left{rows}.parquet", "right.csv", "--left-on", "name", "-o", "out.parquet"],
                                  tmp_path, timeout=300)[0] for rows in sizes]
    assert pd.read_parquet(tmp_path / "out.parquet").shape == (sizes[1], 4)
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):  # its quarantine keeps freed memory
        assert peaks[1] <= 1.3 * peaks[0], peaks


@pytest.mark.parametrize("seed", range(3))
def test_weighted_columns_streamed_match_brute_force(files, monkeypatch, seed):
    from pelgar_join import cli, files as file_tables
    from test_record_tables import FIELDS, RIGHT_ON, model_clusters, model_join, random_records

    chooser = random.Random(seed)
    # an empty CSV cell is missing: no empty texts on the left
    left = [{f: value or None for f, value in record.items()} for record in random_records(chooser, 20)]
    right = random_records(chooser, 12)
    pd.DataFrame({**{f: [r[f] for r in left] for f in FIELDS}, "id": range(20)}).to_csv(files / "l.csv", index=False)
    pd.DataFrame({**{RIGHT_ON.get(f, f): [r[f] for r in right] for f in FIELDS}, "rid": range(100, 112)}) \
        .to_parquet(files / "r.parquet", index=False)
    monkeypatch.setattr(file_tables, "BATCH_ROWS", 3)
    monkeypatch.setattr(file_tables, "CSV_BLOCK_BYTES", 64)
    monkeypatch.chdir(files)
    on = {"name": 0.4, "city": 0.3, "dob": 0.3}
    try:
        assert cli.main(["l.csv", "r.parquet", "--on", "name=0.4,city=0.3,dob=0.3", "--right-on", "name=full_name",
                         "-k", "2", "--how", "left", "--threshold", "0.5", "--field-scores", "-o", "out.parquet"]) == 0
        assert cli.main(["--dedupe", "l.csv", "--on", "city=2,dob=1", "--threshold", "0.6", "-o", "d.csv"]) == 0
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)
    want = [row[:3] + (str(row[3]),) + row[4:] for row in model_join(left, right, on, 2, 0.5, "left")]
    got = [tuple(None if pd.isna(v) else v for v in row) for row in read_rows(files / "out.parquet")]
    assert got == want
    assert pd.read_csv(files / "d.csv")["cluster"].tolist() == model_clusters(left, {"city": 2.0, "dob": 1.0}, 0.6)
