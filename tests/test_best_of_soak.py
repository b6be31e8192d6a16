"""The pruned best-of search agrees with a plain loop over the plain measures."""

import pytest

from conftest import ctest_result


@pytest.mark.parametrize("seed", [1, 2])
def test_pruned_search_matches_plain_search(ctest_results, seed):
    result = ctest_result(ctest_results, f"best_of_soak_{seed}")
    assert result.passed, result.output
    assert "20000 lists" in result.output and "agree" in result.output
