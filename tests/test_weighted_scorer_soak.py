"""The prepared combined score agrees bit for bit with the plain measures, pair by pair."""

import pytest

from conftest import ctest_result


@pytest.mark.parametrize("seed", [1, 2])
def test_prepared_score_matches_plain_measures(ctest_results, seed):
    result = ctest_result(ctest_results, f"weighted_scorer_soak_{seed}")
    assert result.passed, result.output
    assert "pairs agree" in result.output
