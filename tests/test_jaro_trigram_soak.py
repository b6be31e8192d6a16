"""Short run of the Jaro-Winkler and trigram kernel soak (tools/soak.py runs it long)."""

import subprocess

import pytest


@pytest.mark.parametrize("seed", [1, 2])
def test_jaro_trigram_kernels_match_references(cpp_tests, seed):
    result = subprocess.run([str(cpp_tests / "jaro_trigram_soak"), "15000", str(seed)],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert f"seed {seed}, 15000 random pairs" in result.stdout
