"""Under CI=true a test whose tool is missing, or that skips for any reason, fails instead."""

import os
import pathlib
import subprocess
import sys

import pytest

TESTS = pathlib.Path(__file__).resolve().parent

EXAMPLE = '''
import pytest
from conftest import require_tool

def test_tool_missing():
    require_tool(False, "frobnicator is not installed", "Debian's frobnicator")

def test_tool_present():
    require_tool(True, "frobnicator is not installed", "Debian's frobnicator")

def test_other_skip():
    pytest.skip("no network")
'''


def run_example(tmp_path: pathlib.Path, ci: str) -> str:
    (tmp_path / "test_example.py").write_text(EXAMPLE, encoding="utf-8")
    env = {**os.environ, "CI": ci, "PYTHONPATH": str(TESTS)}
    result = subprocess.run(
        [sys.executable, "-m", "pytest", "-p", "conftest", "-p", "no:cacheprovider", "-rA", "-q",
         "--rootdir", str(tmp_path), "-c", os.devnull, str(tmp_path)],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    return result.stdout + result.stderr


@pytest.mark.parametrize("ci", ["true", "false"])
def test_skips_fail_only_in_ci(tmp_path, ci):
    output = run_example(tmp_path, ci)
    if ci == "true":
        assert "1 failed" not in output and "2 failed, 1 passed" in output, output
        assert "frobnicator is not installed; CI needs it: install Debian's frobnicator" in output
        assert "skipped under CI=true: Skipped: no network" in output
    else:
        assert "1 passed, 2 skipped" in output, output
