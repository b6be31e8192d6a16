"""The installed type stubs, as type checkers see them: mypy --strict and basedpyright (strict).

Each example file under type_examples/ is checked as a user's code would be, outside the
source tree; lines marked "# error" must be reported, and nothing else.
"""

import json
import pathlib
import re
import shutil
import subprocess
import sys
from typing import Set

import pytest

from conftest import program_environment, require_tool

EXAMPLES_DIR = pathlib.Path(__file__).resolve().parent / "type_examples"
EXAMPLES = ["pelgar_calls.py", "pelgar_mistakes.py", "pelgar_join_calls.py"]
CHECKERS = ["mypy", "basedpyright"]


def marked_lines(path: pathlib.Path) -> Set[int]:
    lines = path.read_text(encoding="utf-8").splitlines()
    return {number for number, line in enumerate(lines, 1) if line.rstrip().endswith("# error")}


def mypy_errors(example: pathlib.Path, workdir: pathlib.Path) -> Set[int]:
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(workdir / "cache"),
         str(example)], cwd=workdir, capture_output=True, text=True, env=program_environment(), timeout=600)
    assert result.returncode in (0, 1), result.stdout + result.stderr
    pattern = re.compile(rf"^{re.escape(str(example))}:(\d+): error: ", re.MULTILINE)
    return {int(number) for number in pattern.findall(result.stdout)}


def basedpyright_errors(example: pathlib.Path, workdir: pathlib.Path) -> Set[int]:
    executable = shutil.which("basedpyright", path=str(pathlib.Path(sys.executable).parent))
    require_tool(executable is not None, "basedpyright is not installed", "the test extra (pip install \".[test]\")")
    config = workdir / "pyrightconfig.json"
    config.write_text(json.dumps({"typeCheckingMode": "strict"}), encoding="utf-8")
    result = subprocess.run(
        [str(executable), "--outputjson", "--project", str(config), "--pythonpath", sys.executable, str(example)],
        cwd=workdir, capture_output=True, text=True, env=program_environment(), timeout=600)
    report = json.loads(result.stdout)
    return {d["range"]["start"]["line"] + 1 for d in report["generalDiagnostics"] if d["severity"] == "error"}


@pytest.mark.parametrize("checker", CHECKERS)
@pytest.mark.parametrize("example", EXAMPLES)
def test_checker_reports_exactly_the_marked_lines(checker, example, tmp_path):
    if checker == "mypy":
        try:
            import mypy  # noqa: F401
        except ImportError:
            require_tool(False, "mypy is not installed", "the test extra (pip install \".[test]\")")
    path = EXAMPLES_DIR / example
    errors = (mypy_errors if checker == "mypy" else basedpyright_errors)(path, tmp_path)
    assert errors == marked_lines(path)


def test_stub_is_a_package_beside_the_module():
    import pelgar
    stubs = pathlib.Path(pelgar.__file__).parent / "pelgar-stubs" / "__init__.pyi"
    assert stubs.is_file()
    defined = set(re.findall(r"^def (\w+)\(", stubs.read_text(encoding="utf-8"), re.MULTILINE))
    assert defined == {name for name in dir(pelgar) if not name.startswith("_")}
