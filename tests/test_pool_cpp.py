"""The worker pool's C++ test program, plain and under ThreadSanitizer."""

import os
import platform
import shutil
import subprocess

import pytest

pytestmark = pytest.mark.cpp

TSAN_EXIT_CODE = 66


def _environment(**extra: str) -> dict:
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(extra)
    return env


def _run(command: list, env: dict) -> subprocess.CompletedProcess:
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=300)


def _report(result: subprocess.CompletedProcess) -> str:
    return f"exit status {result.returncode}\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"


def test_pool_program(cpp_tests):
    result = _run([str(cpp_tests / "pool_test")], _environment())
    assert result.returncode == 0, _report(result)
    assert "pool_test: all checks passed" in result.stdout


def test_pool_program_under_thread_sanitizer(cpp_tests_tsan):
    env = _environment(TSAN_OPTIONS=f"halt_on_error=1 exitcode={TSAN_EXIT_CODE} second_deadlock_stack=1")
    # A suite run under AddressSanitizer preloads its runtime, which cannot share a
    # process with ThreadSanitizer's.
    env.pop("LD_PRELOAD", None)
    command = [str(cpp_tests_tsan / "pool_test")]
    result = _run(command, env)
    # ThreadSanitizer refuses to start on some kernels' address-space layouts;
    # running without address randomisation gets past that.
    if "FATAL: ThreadSanitizer" in result.stderr and shutil.which("setarch"):
        result = _run(["setarch", platform.machine(), "-R", *command], env)
    assert "WARNING: ThreadSanitizer" not in result.stderr, _report(result)
    assert result.returncode == 0, _report(result)
    assert "pool_test: all checks passed" in result.stdout
