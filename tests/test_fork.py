"""Processes forked after the worker pool exists get a pool of their own: every function
works there with the parent's answers, and the parent's pool is left as it was. Each
case runs in a subprocess with a hard timeout, since the fault shows as a hang."""

import os
import subprocess
import sys
import textwrap

import pytest

SETUP = textwrap.dedent(
    """
    import os, pickle, sys
    import pelgar

    QUERIES = ["Cafe", "tea", "Crème brûlée", "coffee", "", "naïve"]
    CANDIDATES = ["CAFE", "Tee", "creme brulee", "cofee", "naive", "the"]

    def answers():
        return (
            pelgar.batch_best_match(QUERIES, CANDIDATES),
            pelgar.batch_best_match(QUERIES, CANDIDATES, threshold=0.8),
            pelgar.batch_best_match(QUERIES[:1], CANDIDATES),
            pelgar.best_match("cofe", CANDIDATES),
            pelgar.rank_matches("cafe", CANDIDATES, threshold=0.3),
            [f(a, b) for a, b in zip(QUERIES, CANDIDATES)
             for f in (pelgar.levenshtein, pelgar.jaro_winkler, pelgar.trigram_similarity,
                       pelgar.combined_score, pelgar.token_sort_ratio, pelgar.token_set_ratio)],
        )

    def tasks():
        return len(os.listdir("/proc/self/task"))

    def in_child(body):
        # Runs body in a forked child and returns what it returned, pickled through a pipe.
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read)
            try:
                data = pickle.dumps(("ok", body()))
            except BaseException as error:
                data = pickle.dumps(("error", repr(error)))
            with os.fdopen(write, "wb") as pipe:
                pipe.write(data)
            os._exit(0)
        os.close(write)
        with os.fdopen(read, "rb") as pipe:
            status, value = pickle.loads(pipe.read())
        os.waitpid(pid, 0)
        assert status == "ok", value
        return value
    """
)


def _run(body: str, **env: str) -> str:
    environment = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    environment.update(env)
    result = subprocess.run([sys.executable, "-c", SETUP + textwrap.dedent(body)], capture_output=True,
                            text=True, timeout=60, env=environment)
    assert result.returncode == 0, f"exit {result.returncode}\nstdout:\n{result.stdout}\nstderr:\n{result.stderr}"
    return result.stdout


def test_os_fork_after_a_batch():
    out = _run(
        """
        expected = answers()
        parent_tasks = tasks()
        assert in_child(answers) == expected
        # Twice in a row, and in a grandchild of a child that made its own pool.
        assert in_child(lambda: (answers(), answers(), in_child(answers))) == (expected, expected, expected)
        assert tasks() == parent_tasks and answers() == expected
        print("ok", parent_tasks)
        """,
        RAYON_NUM_THREADS="3",
    )
    assert "ok 4" in out, out


def test_child_sizes_its_pool_from_its_environment():
    out = _run(
        """
        answers()
        def child():
            os.environ["RAYON_NUM_THREADS"] = "5"
            before = tasks()
            result = answers()
            return before, tasks(), result
        before, after, result = in_child(child)
        assert result == answers()
        print("child", before, after, "parent", tasks())
        """,
        RAYON_NUM_THREADS="2",
    )
    # The child starts with only the forking thread, then makes five workers.
    assert "child 1 6 parent 3" in out, out


def test_fork_before_any_pool():
    out = _run(
        """
        def child():
            before = tasks()
            return before, answers(), tasks()
        before, result, after = in_child(child)
        assert tasks() == 1  # the parent still has no pool
        assert answers() == result
        print("child", before, after, "parent", tasks())
        """,
        RAYON_NUM_THREADS="2",
    )
    assert "child 1 3 parent 3" in out, out


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's shadow memory defeats an address-space limit")
def test_child_of_a_parent_whose_pool_failed_tries_again():
    # A small address-space limit lets only a few worker stacks be mapped.
    out = _run(
        """
        import resource
        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        with open("/proc/self/statm") as statm:
            pages = int(statm.read().split()[0])
        resource.setrlimit(resource.RLIMIT_AS, (pages * os.sysconf("SC_PAGE_SIZE") + (24 << 20), hard))
        try:
            pelgar.batch_best_match(["a", "b"], ["a"])
            print("parent started")
        except BaseException as error:
            first = f"{type(error).__name__}: {error}"
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        def child():
            return answers()
        result = in_child(child)
        try:
            pelgar.batch_best_match(["a", "b"], ["a"])
        except BaseException as error:
            assert f"{type(error).__name__}: {error}" == first
        print(first.split(":")[0], "|", result[0])
        """,
        RAYON_NUM_THREADS="64",
    )
    assert out.startswith("PanicException | [('CAFE', 1.0), ('Tee', "), out


def test_multiprocessing_fork_pool():
    out = _run(
        """
        import multiprocessing
        def work(chunk):
            return pelgar.batch_best_match(chunk, CANDIDATES)
        expected = [pelgar.batch_best_match(QUERIES[i:i + 2], CANDIDATES) for i in range(0, 6, 2)]
        with multiprocessing.get_context("fork").Pool(2) as pool:
            got = pool.map(work, [QUERIES[i:i + 2] for i in range(0, 6, 2)])
        assert got == expected, (got, expected)
        print("ok")
        """
    )
    assert "ok" in out


def test_process_pool_executor():
    out = _run(
        """
        import concurrent.futures, multiprocessing
        expected = answers()
        context = multiprocessing.get_context("fork")
        with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=context) as executor:
            got = [future.result(timeout=30) for future in [executor.submit(answers) for _ in range(4)]]
        assert got == [expected] * 4
        print("ok")
        """
    )
    assert "ok" in out
