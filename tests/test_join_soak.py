"""A short run of the pelgar_join soak script."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_join_soak_short_run():
    result = subprocess.run([sys.executable, str(ROOT / "tools" / "join_soak.py"), "--lists", "400", "--seed", "5"],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "400 lists agree" in result.stdout


@pytest.mark.slow
def test_join_scale_soak_short_run():
    result = subprocess.run([sys.executable, str(ROOT / "tools" / "join_scale_soak.py"), "--quick", "--seed", "3"],
                            capture_output=True, text=True, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "1 rounds agree" in result.stdout
