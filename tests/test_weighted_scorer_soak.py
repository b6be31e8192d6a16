"""The prepared combined score agrees bit for bit with the plain measures, pair by pair."""

import subprocess

import pytest


@pytest.mark.parametrize("seed", [1, 2])
def test_prepared_score_matches_plain_measures(cpp_tests, seed):
    result = subprocess.run([str(cpp_tests / "weighted_scorer_soak"), "5000", str(seed)],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "pairs agree" in result.stdout
