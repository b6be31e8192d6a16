"""Runs the C++ checks of the four similarity measures."""

import subprocess


def test_measures_cpp(cpp_tests):
    result = subprocess.run([str(cpp_tests / "measures_test")], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
