"""Short run of the Jaro-Winkler and trigram kernel soak (tools/soak.py runs it long)."""

import pytest

from conftest import ctest_result


@pytest.mark.parametrize("seed", [1, 2])
def test_jaro_trigram_kernels_match_references(ctest_results, seed):
    result = ctest_result(ctest_results, f"jaro_trigram_soak_{seed}")
    assert result.passed, result.output
    assert f"seed {seed}, 15000 random pairs" in result.output
