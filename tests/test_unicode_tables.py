"""The committed Unicode tables are exactly what the generator writes from the UCD files."""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
GENERATOR = ROOT / "tools" / "unicode" / "gen_unicode_tables.py"


def test_generated_tables_are_current():
    result = subprocess.run([sys.executable, str(GENERATOR), "--check"], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr


def test_check_reports_a_stale_file(tmp_path):
    stale = tmp_path / "unicode_tables.cpp"
    stale.write_text((ROOT / "src" / "text" / "unicode_tables.cpp").read_text().replace("0x", "0X", 1))
    result = subprocess.run([sys.executable, str(GENERATOR), "--check", "--output", str(stale)],
                            capture_output=True, text=True)
    assert result.returncode == 1
    assert "out of date" in result.stderr
