"""Runs the C++ checks of the four similarity measures and of their shared kernel layer."""

import shutil
import subprocess

import pytest

from conftest import ctest_result, require_tool


def test_measures_cpp(ctest_results):
    result = ctest_result(ctest_results, "measures_test")
    assert result.passed, result.output


def test_kernel_support_cpp(ctest_results):
    result = ctest_result(ctest_results, "kernel_support_test")
    assert result.passed, result.output
    assert "all checks passed" in result.output


@pytest.mark.parametrize("source", ["kernel_avx2", "kernel_avx512"])
def test_wide_kernel_files_share_no_code(cpp_tests, source):
    """The files built for AVX2 and AVX-512 define no code that another file can reach (no
    global, weak or unique function): only their table of kernels, data that the dispatch
    reads before it knows that the processor runs them."""
    require_tool(shutil.which("nm") is not None, "nm is not installed", "binutils")
    objects = cpp_tests.parent.parent / "CMakeFiles" / "pelgar_core.dir" / "src" / "measures" / "lanes"
    listing = subprocess.run(["nm", "-C", "--defined-only", str(objects / f"{source}.cpp.o")],
                             capture_output=True, text=True, check=True).stdout
    # Functions listed as global, weak, indirect or unique ("u" also marks shared data).
    code = [line for line in listing.splitlines()
            if line.split()[1] in "TWVi" or (line.split()[1] == "u" and "(" in line)]
    assert code == [], listing
    table = f"pelgar::measures::lanes::k{'Avx2' if source == 'kernel_avx2' else 'Avx512'}LaneKernels"
    assert any(line.split()[1] == "D" and line.split(maxsplit=2)[2] == table for line in listing.splitlines()), listing
