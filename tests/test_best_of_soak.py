"""The pruned best-of search agrees with a plain loop over the plain measures."""

import subprocess

import pytest


@pytest.mark.parametrize("seed", [1, 2])
def test_pruned_search_matches_plain_search(cpp_tests, seed):
    result = subprocess.run([str(cpp_tests / "best_of_soak"), "20000", str(seed)],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "agree" in result.stdout
