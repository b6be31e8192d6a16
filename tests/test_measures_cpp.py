"""Runs the C++ checks of the four similarity measures."""

from conftest import ctest_result


def test_measures_cpp(ctest_results):
    result = ctest_result(ctest_results, "measures_test")
    assert result.passed, result.output
