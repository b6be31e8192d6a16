"""Runs the C++ checks of the four similarity measures."""

import subprocess

import pytest


def test_measures_cpp(cpp_tests):
    result = subprocess.run([str(cpp_tests / "measures_test")], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.cpp
def test_kernel_support_cpp(cpp_tests):
    result = subprocess.run([str(cpp_tests / "kernel_support_test")], capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "all checks passed" in result.stdout
