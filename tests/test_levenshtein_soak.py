"""Short run of the bit-parallel edit distance soak (tools/soak.py runs it long)."""

import pytest

from conftest import ctest_result


@pytest.mark.parametrize("seed", [1, 2])
def test_edit_distance_matches_table(ctest_results, seed):
    # CTest's timeout makes a probe loop that never ends fail instead of hanging the suite.
    result = ctest_result(ctest_results, f"levenshtein_soak_{seed}")
    assert result.passed, result.output
    assert f"seed {seed}, 187582 fixed and 15000 random pairs, all equal" in result.output
