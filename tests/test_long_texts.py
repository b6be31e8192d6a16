"""Long texts of many distinct characters: Jaro-Winkler keeps to memory linear in the
texts and to the plain model's exact values."""

import os
import random
import subprocess
import sys
import textwrap

import pytest

import pelgar
from model import jaro_winkler_model, weighted_model

PEAK_RSS = textwrap.dedent(
    """
    import resource, sys, time
    import pelgar
    n = int(sys.argv[1])
    # n distinct unassigned code points, which normalisation leaves as they are.
    a = "".join(chr(0x40000 + i) for i in range(n))
    b = a[::-1]
    for name in sys.argv[2:]:
        started = time.monotonic()
        value = getattr(pelgar, name)(a, b)
        print(name, repr(value), round(time.monotonic() - started, 3))
    print("peak_kib", resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
    """
)


def _distinct(rnd: random.Random, size: int) -> str:
    return "".join(chr(c) for c in rnd.sample(range(0x4E00, 0x9FFF), size))


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="AddressSanitizer keeps freed memory")
def test_jaro_winkler_of_long_distinct_texts_uses_linear_memory():
    result = subprocess.run([sys.executable, "-c", PEAK_RSS, "200000", "jaro_winkler", "combined_score"],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    lines = dict(line.split(" ", 1) for line in result.stdout.splitlines())
    print(result.stdout)
    # The middle half is matched, every pair out of order: (0.5 + 0.5 + 0.5) / 3.
    assert lines["jaro_winkler"].split()[0] == "0.5"
    peak_mib = int(lines["peak_kib"]) / 1024
    assert peak_mib < 100, result.stdout


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_long_distinct_texts_match_the_model(seed):
    rnd = random.Random(seed)
    a = _distinct(rnd, 2000 + rnd.randrange(500))
    rotated = a[700:] + a[:700]
    shuffled = list(a)
    for _ in range(300):
        i, k = rnd.randrange(len(a)), rnd.randrange(len(a))
        shuffled[i], shuffled[k] = shuffled[k], shuffled[i]
    # Repeats and letters among the distinct characters: rows of several positions.
    mixed = "".join(c if rnd.random() < 0.7 else rnd.choice("abc" + a[:50]) for c in a)
    for b in (a[::-1], rotated, "".join(shuffled), mixed):
        assert pelgar.jaro_winkler(a, b) == jaro_winkler_model(a, b)
        assert pelgar.jaro_winkler(b, a) == jaro_winkler_model(b, a)
    assert pelgar.combined_score(a, mixed) == weighted_model(a, mixed)
