"""Runs the C++ checks of the join core: exhaustive bounds, top-k and self-join soaks."""

import pytest

from conftest import ctest_result


@pytest.mark.parametrize("seed", [1, 2])
def test_join_core(ctest_results, seed):
    result = ctest_result(ctest_results, f"join_test_{seed}")
    assert result.passed, result.output
    assert "join core agrees" in result.output
