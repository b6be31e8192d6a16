"""Runs the C++ checks of the join core: exhaustive bounds, top-k and self-join soaks."""

import subprocess

import pytest


@pytest.mark.cpp
@pytest.mark.parametrize("seed", [1, 2])
def test_join_core(cpp_tests, seed):
    result = subprocess.run([str(cpp_tests / "join_test"), "3000", str(seed)],
                            capture_output=True, text=True, timeout=900)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "join core agrees" in result.stdout
