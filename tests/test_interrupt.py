"""Ctrl-C during long calls: SIGINT from another process reaches the caller as the
signal handler's exception within a fraction of a second, with no result and no
PanicException, and the module keeps giving right answers afterwards."""

import subprocess
import sys
import textwrap

import pytest

# Work that runs for seconds even on a fast machine, so the signal lands mid-call.
SETUP = textwrap.dedent(
    """
    import os, random, signal, subprocess, sys, time
    import pelgar

    # A parent started in the background without job control leaves SIGINT ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)

    rnd = random.Random(7)
    def word(size):
        return "".join(rnd.choices("abcdefghijklmnopqrstuvwxyz", k=size))

    names = [word(30 + i % 20) for i in range(100000)]
    many = names * 60
    LONG = {
        "batch_best_match": lambda: pelgar.batch_best_match(names[:20000], names),
        # its bounds pass over most of `many` in under half a second: five times as many
        "best_match": lambda: pelgar.best_match("abcdefghijklmnop", many * 5),
        "rank_matches": lambda: pelgar.rank_matches("abcdefghijklmnop", many),
        "combined_score": lambda: pelgar.combined_score("ab" * 400000, "ba" * 400000),
        "levenshtein": lambda: pelgar.levenshtein("ab" * 400000, "ba" * 400000),
        "token_sort_ratio": lambda: pelgar.token_sort_ratio("ab " * 300000, "ba " * 300000),
    }

    def probe():
        # A little of everything, to compare before and after an interruption.
        few = names[:300]
        return (pelgar.batch_best_match(few[:40], few), pelgar.best_match(few[5], few),
                pelgar.rank_matches(few[9], few)[:5], pelgar.combined_score(few[1], few[2]),
                pelgar.levenshtein(few[3], few[4]))

    def send_sigint(delay):
        # Prints the wall-clock time at which it sends the signal.
        return subprocess.Popen(["sh", "-c", f"sleep {delay}; date +%s.%N; kill -INT {os.getpid()}"],
                                stdout=subprocess.PIPE, text=True)
    """
)


def _run(body: str, timeout: float = 120) -> str:
    script = SETUP + textwrap.dedent(body)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, f"exit {result.returncode}\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"
    assert "PanicException" not in result.stderr, result.stderr
    return result.stdout


@pytest.mark.parametrize(
    "function", ["batch_best_match", "best_match", "rank_matches", "combined_score", "levenshtein", "token_sort_ratio"]
)
def test_sigint_interrupts_long_call(function):
    out = _run(
        f"""
        before = probe()
        sender = send_sigint(0.5)
        started = time.time()
        try:
            LONG[{function!r}]()
            outcome = "returned"
        except KeyboardInterrupt:
            outcome = "interrupted"
        caught = time.time()
        sent = float(sender.communicate(timeout=10)[0])
        print(outcome, round(caught - sent, 4), round(sent - started, 4))
        assert probe() == before
        print("probe ok")
        """
    )
    outcome, latency, sent_after = out.split("\n")[0].split()
    print(f"{function}: SIGINT -> KeyboardInterrupt {float(latency) * 1000:.1f} ms")
    assert outcome == "interrupted", out
    assert 0.0 <= float(latency) < 0.5, out
    assert "probe ok" in out


def test_handler_that_does_not_raise_leaves_result_unchanged():
    out = _run(
        """
        queries, candidates = names[:1500], names[:20000]
        calls = []
        signal.signal(signal.SIGINT, lambda number, frame: calls.append(number))
        started = time.time()
        expected = pelgar.batch_best_match(queries, candidates)
        took = time.time() - started
        for delay in (took / 4, took / 2):
            sender = send_sigint(delay)
            assert pelgar.batch_best_match(queries, candidates) == expected
            sender.wait(timeout=10)
        expected_rank = pelgar.rank_matches(queries[0], candidates * 10)
        sender = send_sigint(0.05)
        assert pelgar.rank_matches(queries[0], candidates * 10) == expected_rank
        sender.wait(timeout=10)
        time.sleep(0.2)  # a signal that arrived after a call ended still reaches the handler
        print("handled", len(calls))
        """
    )
    assert "handled 3" in out, out


def test_exception_of_a_custom_handler_passes_through():
    out = _run(
        """
        class Stop(Exception):
            pass

        def handler(number, frame):
            raise Stop("from the handler")

        signal.signal(signal.SIGINT, handler)
        for name in ("batch_best_match", "best_match", "levenshtein"):
            sender = send_sigint(0.3)
            try:
                LONG[name]()
                print(name, "returned")
            except Stop as error:
                print(name, "raised", error)
            sender.wait(timeout=10)
        print(pelgar.batch_best_match(["abc", "xyz"], ["abd", "xyy"], threshold=0.5))
        """
    )
    for name in ("batch_best_match", "best_match", "levenshtein"):
        assert f"{name} raised from the handler" in out, out
    assert "[('abd', " in out and "('xyy', " in out, out


@pytest.mark.parametrize("threads", ["1", "2", "5"])
def test_interrupted_batch_leaves_pool_usable(threads, monkeypatch):
    monkeypatch.setenv("RAYON_NUM_THREADS", threads)
    out = _run(
        """
        expected = probe()
        for round in range(3):
            sender = send_sigint(0.2 + 0.1 * round)
            try:
                LONG["batch_best_match"]()
            except KeyboardInterrupt:
                pass
            sender.wait(timeout=10)
            assert probe() == expected
        tasks = len(os.listdir("/proc/self/task"))
        print("tasks", tasks)
        """
    )
    # The caller's thread and the pool's; no worker was lost or added by stopping.
    assert f"tasks {int(threads) + 1}" in out, out
