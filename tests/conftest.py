"""Shared fixtures: the C++ test programs, built on demand with CMake and run through CTest."""

import dataclasses
import os
import pathlib
import platform
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree
from typing import Dict, Optional, Sequence

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Fixtures that build C++: a test that uses one is marked "cpp".
CPP_FIXTURES = {"cpp_tests", "ctest_results", "ctest_results_tsan"}
# Sanitizers for the C++ programs of the plain build, set by the sanitizer run of the suite.
CPP_SANITIZE = os.environ.get("PELGAR_TEST_SANITIZE", "")
TSAN_EXIT_CODE = 66


def in_ci() -> bool:
    return os.environ.get("CI", "").lower() == "true"


def require_tool(available: bool, missing: str, install: str) -> None:
    """Skips a test whose tool is missing; in CI, fails it with what to install."""
    if available:
        return
    if in_ci():
        pytest.fail(f"{missing}; CI needs it: install {install}", pytrace=False)
    pytest.skip(missing)


def program_environment(**extra: str) -> Dict[str, str]:
    """The environment for a C++ program: no sanitizer runtime preloaded for the interpreter
    (the programs link their own) and no worker-pool size from the caller."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD" and not k.startswith("RAYON_")}
    env.update(extra)
    return env


@dataclasses.dataclass
class CTestResult:
    name: str
    passed: bool
    output: str


def _build_cpp_tests(build_dir: pathlib.Path, sanitize: str = "", programs: Sequence[str] = ()) -> pathlib.Path:
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build_dir), *generator,
         "-DPELGAR_BUILD_MODULE=OFF", "-DPELGAR_BUILD_TESTS=ON",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DPELGAR_SANITIZE={sanitize}",
         f"-DPELGAR_CPP_TESTS={';'.join(programs)}"],
        check=True, stdout=subprocess.DEVNULL, env=program_environment())
    subprocess.run(["cmake", "--build", str(build_dir), "-j", str(os.cpu_count() or 2)],
                   check=True, stdout=subprocess.DEVNULL, env=program_environment())
    return build_dir


def _parse_junit(path: pathlib.Path) -> Dict[str, CTestResult]:
    results = {}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        failed = case.find("failure") is not None or case.find("error") is not None
        skipped = case.find("skipped") is not None
        output = case.findtext("system-out") or ""
        results[case.get("name", "")] = CTestResult(case.get("name", ""), not failed and not skipped, output)
    return results


def run_ctest(build_dir: pathlib.Path, env: Dict[str, str],
              prefix: Sequence[str] = ()) -> Dict[str, CTestResult]:
    """Runs every registered program once; results by test name, with their whole output."""
    junit = build_dir / "ctest-results.xml"
    junit.unlink(missing_ok=True)
    command = [*prefix, "ctest", "--test-dir", str(build_dir), "--output-on-failure", "-j", "2",
               "--output-junit", str(junit), "--no-tests=error",
               "--test-output-size-passed", "1000000", "--test-output-size-failed", "1000000"]
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=1800)
    return _parse_junit(junit) if junit.exists() else {}


def _cpp_build_dir(name: str, sanitize: str) -> pathlib.Path:
    suffix = "-" + sanitize.replace(",", "-") if sanitize else ""
    return ROOT / "build" / f"{name}{suffix}"


@pytest.fixture(scope="session")
def cpp_tests() -> pathlib.Path:
    """Folder of the C++ test programs, plain build (sanitized in the sanitizer run)."""
    return _build_cpp_tests(_cpp_build_dir("cpp-tests", CPP_SANITIZE), CPP_SANITIZE) / "tests" / "cpp"


@pytest.fixture(scope="session")
def ctest_results(cpp_tests: pathlib.Path) -> Dict[str, CTestResult]:
    """One CTest run of every program of the plain build."""
    return run_ctest(cpp_tests.parent.parent, program_environment())


@pytest.fixture(scope="session")
def ctest_results_tsan() -> Dict[str, CTestResult]:
    """One CTest run of the worker pool's program built with ThreadSanitizer (only it is built)."""
    build_dir = _build_cpp_tests(ROOT / "build" / "cpp-tsan", "thread", ["pool_test"])
    env = program_environment(
        TSAN_OPTIONS=f"halt_on_error=1 exitcode={TSAN_EXIT_CODE} second_deadlock_stack=1")
    results = run_ctest(build_dir, env)
    # ThreadSanitizer refuses to start on some kernels' address-space layouts;
    # running without address randomisation gets past that.
    if any("FATAL: ThreadSanitizer" in r.output for r in results.values()) and shutil.which("setarch"):
        results = run_ctest(build_dir, env, ["setarch", platform.machine(), "-R"])
    return results


def ctest_result(results: Dict[str, CTestResult], name: str) -> CTestResult:
    found: Optional[CTestResult] = results.get(name)
    assert found is not None, f"CTest ran no test named {name}; it ran {sorted(results)}"
    return found


def pytest_collection_modifyitems(items):
    for item in items:
        if CPP_FIXTURES.intersection(getattr(item, "fixturenames", ())):
            item.add_marker(pytest.mark.cpp)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # In CI a skipped test is a check that did not run: it fails, with the skip's reason.
    outcome = yield
    report = outcome.get_result()
    if in_ci() and report.skipped and not hasattr(report, "wasxfail"):
        reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
        report.outcome = "failed"
        report.longrepr = f"skipped under CI=true: {reason}"
