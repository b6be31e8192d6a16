"""The portable paths of the merged kernel and the code-point scans, which processors without
SSE2 take, built on purpose and soaked against the plain models like the vector paths."""

import os
import shutil
import subprocess

import pytest

from conftest import ROOT


@pytest.fixture(scope="module")
def scalar_tests():
    build_dir = ROOT / "build" / "cpp-scalar"
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator, "-DPELGAR_BUILD_MODULE=OFF",
                    "-DPELGAR_BUILD_TESTS=ON", "-DPELGAR_SCALAR_KERNELS=ON", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2), "--target",
                    "weighted_scorer_soak", "--target", "best_of_soak", "--target", "measures_test",
                    "--target", "code_points_soak"],
                   check=True, stdout=subprocess.DEVNULL)
    return build_dir / "tests" / "cpp"


@pytest.mark.cpp
@pytest.mark.parametrize("program, args, marker", [
    ("weighted_scorer_soak", ["5000", "3"], "pairs agree"),
    ("best_of_soak", ["5000", "3"], "agree"),
    ("measures_test", [], "all checks passed"),
    ("code_points_soak", ["5000", "3"], "texts, seed 3: ok"),
])
def test_scalar_kernels_agree(scalar_tests, program, args, marker):
    result = subprocess.run([str(scalar_tests / program), *args], capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    assert marker in result.stdout
