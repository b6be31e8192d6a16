"""The peak resident memory of a pelgar-join run, as the process itself saw it (VmHWM): the
rusage of a forked child would count the parent's pages too. Linux only."""

import subprocess
import sys

# Runs the command line with the arguments given after -c, then prints VmHWM (KiB) to stderr.
_RUN_AND_REPORT = (
    "import re, runpy, sys\n"
    "sys.argv[0] = 'pelgar-join'\n"
    "try:\n"
    "    runpy.run_module('pelgar_join', run_name='__main__')\n"
    "finally:\n"
    "    print(re.search(r'VmHWM:\\s+(\\d+)', open('/proc/self/status').read()).group(1), file=sys.stderr)\n")


def pelgar_join_peak_kib(args, cwd, timeout=None):
    """(peak resident KiB, the finished process) of `pelgar-join *args` run in `cwd`."""
    done = subprocess.run([sys.executable, "-c", _RUN_AND_REPORT, *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        raise RuntimeError(f"pelgar-join {' '.join(map(str, args))} failed: {done.stderr}")
    return int(done.stderr.split()[-1]), done
