"""Runs the C++ checks of the four similarity measures and of their shared kernel layer."""

from conftest import ctest_result


def test_measures_cpp(ctest_results):
    result = ctest_result(ctest_results, "measures_test")
    assert result.passed, result.output


def test_kernel_support_cpp(ctest_results):
    result = ctest_result(ctest_results, "kernel_support_test")
    assert result.passed, result.output
    assert "all checks passed" in result.output
