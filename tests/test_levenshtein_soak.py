"""Short run of the bit-parallel edit distance soak (tools/soak.py runs it long)."""

import subprocess

import pytest


@pytest.mark.parametrize("seed", [1, 2])
def test_edit_distance_matches_table(cpp_tests, seed):
    # A timeout, so that a probe loop that never ends fails instead of hanging the suite.
    result = subprocess.run([str(cpp_tests / "levenshtein_soak"), "15000", str(seed)],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert f"seed {seed}, 187582 fixed and 15000 random pairs, all equal" in result.stdout
