"""The worker pool's C++ test program, plain and under ThreadSanitizer."""

from conftest import ctest_result


def test_pool_program(ctest_results):
    result = ctest_result(ctest_results, "pool_test")
    assert result.passed, result.output
    assert "pool_test: all checks passed" in result.output


def test_pool_program_under_thread_sanitizer(ctest_results_tsan):
    assert list(ctest_results_tsan) == ["pool_test"], "the ThreadSanitizer build runs only the pool's program"
    result = ctest_result(ctest_results_tsan, "pool_test")
    assert "WARNING: ThreadSanitizer" not in result.output, result.output
    assert result.passed, result.output
    assert "pool_test: all checks passed" in result.output
