"""Shared fixtures: the C++ test programs, built on demand with CMake."""

import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


def _build_cpp_tests(build_dir: pathlib.Path, sanitize: str = "") -> pathlib.Path:
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator,
         "-DPELGAR_BUILD_MODULE=OFF", "-DPELGAR_BUILD_TESTS=ON",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DPELGAR_SANITIZE={sanitize}"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)],
                   check=True, stdout=subprocess.DEVNULL)
    return build_dir / "tests" / "cpp"


@pytest.fixture(scope="session")
def cpp_tests() -> pathlib.Path:
    """Folder of the C++ test programs, plain build."""
    return _build_cpp_tests(ROOT / "build" / "cpp-tests")


@pytest.fixture(scope="session")
def cpp_tests_tsan() -> pathlib.Path:
    """Folder of the C++ test programs, built with ThreadSanitizer."""
    return _build_cpp_tests(ROOT / "build" / "cpp-tsan", "thread")
