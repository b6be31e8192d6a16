"""pelgar_join as a caller sees it: inputs, messages, pickling, threads, signals, progress."""

import math
import pickle
import subprocess
import sys
import textwrap
import threading
import time

import pelgar
import pelgar_join as pj
import pytest

from join_model import clusters_of_pairs, self_join_brute, top_k_brute

NAMES = ["Anna Smith", None, "anna smith", "Ånna Smíth", "Bob", float("nan"), "", "  ", "ab", "Anne Smyth"]


def slow_texts(count):
    """Texts that no bound can rule out at 0.74 but that never reach it: every pair is scored."""
    import random
    rng = random.Random(1)
    return ["".join(rng.choice("abcdefgh") for _ in range(24)) for _ in range(count)]


def test_namespaces():
    assert pj.__all__ == ["Index", "self_join", "clusters", "fuzzy_join", "dedupe"]
    assert len(pelgar.__all__) == 9 and not any("join" in name or name == "Index" for name in dir(pelgar))


@pytest.mark.parametrize("make", [
    list, tuple, lambda xs: (x for x in xs), lambda xs: dict.fromkeys(xs).keys(),
], ids=["list", "tuple", "generator", "dict_keys"])
def test_any_iterable_of_text(make):
    texts = ["Anna Smith", "anna smith", "Bob", "Anne Smyth"]
    index = pj.Index(make(texts))
    assert index.top_k(make(["ANNA SMITH"]), k=2) == top_k_brute(texts, ["ANNA SMITH"], 2, 0.0)
    assert pj.self_join(make(texts), 0.8) == self_join_brute(texts, 0.8)
    assert pj.clusters(make(texts), 0.8) == clusters_of_pairs(4, self_join_brute(texts, 0.8))


def test_pandas_and_numpy_inputs():
    pd = pytest.importorskip("pandas")
    np = pytest.importorskip("numpy")
    series = pd.Series(NAMES)  # object dtype: None and NaN stay as they are
    assert pj.Index(series).top_k(["anna smith"], k=None) == top_k_brute(NAMES, ["anna smith"], None, 0.0)
    assert pj.self_join(series, 0.9) == self_join_brute(NAMES, 0.9)
    present = [n for n in NAMES if isinstance(n, str)]
    for array in (np.array(present), np.array(NAMES, dtype=object)):
        expected = self_join_brute(list(array), 0.8)
        assert pj.self_join(array, 0.8) == expected
    assert pj.Index(pd.Series(present, dtype="string")).top_k(["bob"]) == [[(present.index("Bob"), 1.0)]]


def test_missing_values():
    index = pj.Index(NAMES)
    assert len(index) == len(NAMES)
    answers = index.top_k(["anna smith", None, float("nan"), "zzz"], k=None)
    assert answers[1] == answers[2] == []
    assert all(NAMES[i] is not None and NAMES[i] == NAMES[i] for row in answers for i, _ in row)
    labels = pj.clusters(NAMES, 0.0)
    assert labels[1] == 1 and labels[5] == 5
    assert {labels[i] for i in range(len(NAMES)) if i not in (1, 5)} == {0}


@pytest.mark.parametrize("call, message", [
    (lambda: pj.Index(["a"] * 12 + [3]), "candidates[12]: expected str or None, got int"),
    (lambda: pj.Index([b"x"]), "candidates[0]: expected str or None, got bytes"),
    (lambda: pj.Index("abc"), "candidates: expected an iterable of str, got a single str"),
    (lambda: pj.Index(5), "candidates: expected an iterable of str, got int"),
    (lambda: pj.Index(["a"]).top_k(["b", 1.5]), "queries[1]: expected str or None, got float"),
    (lambda: pj.self_join(["a", ["b"]], 0.5), "texts[1]: expected str or None, got list"),
    (lambda: pj.clusters(["a", object()], 0.5), "texts[1]: expected str or None, got object"),
    (lambda: pj.Index(["a"]).top_k(["a"], k=1.0), "k must be an int >= 1 or None, got float"),
    (lambda: pj.Index(["a"]).top_k(["a"], k=True), "k must be an int >= 1 or None, got bool"),
    (lambda: pj.Index(["a"]).top_k(["a"], threshold="0.5"), "threshold must be a real number, got str"),
    (lambda: pj.self_join(["a"], None), "threshold must be a real number, got NoneType"),
    (lambda: pj.self_join(["a"], 0.5, workers=2.0), "workers must be an int >= 1 or None, got float"),
    (lambda: pj.clusters(["a"], 0.5, progress=3), "progress must be callable or None, got int"),
])
def test_type_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize("call, message", [
    (lambda: pj.Index(["a"], scorer="jaro"),
     "scorer must be one of 'combined', 'token_sort' or 'token_set', got 'jaro'"),
    (lambda: pj.self_join(["a"], 0.5, scorer=None),
     "scorer must be one of 'combined', 'token_sort' or 'token_set', got None"),
    (lambda: pj.Index(["a"]).top_k(["a"], k=0), "k must be >= 1, got 0"),
    (lambda: pj.clusters(["a"], 0.5, workers=0), "workers must be >= 1, got 0"),
])
def test_value_errors(call, message):
    with pytest.raises(ValueError) as raised:
        call()
    assert str(raised.value) == message


def test_pickled_index_answers_alike():
    import random
    rng = random.Random(3)
    texts = ["".join(rng.choice("abc d") for _ in range(rng.randint(0, 9))) for _ in range(200)] + [None]
    for scorer in ("combined", "token_sort", "token_set"):
        index = pj.Index(texts, scorer=scorer)
        copy = pickle.loads(pickle.dumps(index))
        assert (len(copy), copy.scorer) == (len(index), scorer)
        assert copy.top_k(texts[:30], k=4) == index.top_k(texts[:30], k=4)
        assert index.top_k(texts[:30], k=4) == top_k_brute(texts, texts[:30], 4, 0.0, scorer)


def test_index_image_is_copied_back_whole_and_checked():
    from pelgar_join import _native
    from pelgar_join._join import _from_keys

    texts = ["Ann Lee", "ann lee", None, "Bo", "Bob Ng", "Zoë Ångström"] * 3
    index = pj.Index(texts, scorer="token_sort")
    image = _native.index_image(index._capsule)
    copy = pickle.loads(pickle.dumps(index))
    assert _native.index_image(copy._capsule) == image and copy.scorer == "token_sort"
    # the form that earlier versions pickled still loads
    earlier = _from_keys(_native.index_keys(index._capsule), "token_sort")
    assert _native.index_image(earlier._capsule) == image
    for broken in (image[:-1], image[:20], b"", image.replace(b"pelgar-index-1", b"pelgar-index-0"), image + b"\0"):
        with pytest.raises(ValueError) as raised:
            _native.index_from_image(broken)
        assert str(raised.value) == ("not an index image of this pelgar build (another version or platform, "
                                     "or cut short)")


def test_index_memory_is_reported():
    texts = ["name number %d" % i for i in range(5000)]
    size = sys.getsizeof(pj.Index(texts))
    characters = sum(map(len, texts))
    assert characters < size <= 4 * characters + 32 * len(texts)


def test_one_worker_agrees_with_two():
    texts = slow_texts(300) + ["abcdefgh" * 3] * 3
    assert pj.self_join(texts, 0.7, workers=1) == pj.self_join(texts, 0.7, workers=2)
    index = pj.Index(texts)
    assert index.top_k(texts[:50], k=3, workers=1) == index.top_k(texts[:50], k=3, workers=2)


def test_progress_reports_until_the_end():
    calls = []
    texts = slow_texts(1500)
    pj.self_join(texts, 0.74, progress=lambda done, total: calls.append((done, total)))
    assert calls and calls[-1] == (1500, 1500)
    assert all(total == 1500 for _, total in calls)
    assert [done for done, _ in calls] == sorted(done for done, _ in calls)
    calls.clear()
    pj.Index(["a"]).top_k([], progress=lambda done, total: calls.append((done, total)))
    assert calls == [(0, 0)]


def test_a_raising_progress_cancels_the_work():
    seen = []

    def progress(done, total):
        seen.append(done)
        raise LookupError("stop here")

    # Enough work that the first report comes well before the end on the fastest host.
    with pytest.raises(LookupError, match="stop here"):
        pj.self_join(slow_texts(8000), 0.74, progress=progress)
    assert len(seen) == 1 and seen[0] < 8000


def test_other_threads_run_during_a_call():
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    thread = threading.Thread(target=count)
    thread.start()
    try:
        started = len(ticks)
        pj.self_join(slow_texts(2500), 0.74, workers=1)
        during = len(ticks) - started
    finally:
        stop.set()
        thread.join()
    assert during > 20


def test_ctrl_c_interrupts_promptly():
    script = textwrap.dedent("""
        import os, random, signal, threading, time
        import pelgar_join as pj
        # A parent that ignores SIGINT passes that on; this test needs Python's handler.
        signal.signal(signal.SIGINT, signal.default_int_handler)
        rng = random.Random(1)
        texts = ["".join(rng.choice("abcdefgh") for _ in range(24)) for _ in range(20000)]
        sent = []
        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(0.5, interrupt).start()
        try:
            pj.self_join(texts, 0.74)
        except KeyboardInterrupt:
            print("interrupted after %.3f" % (time.monotonic() - sent[0]))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith("interrupted after ")
    # About 100 ms in normal conditions; generous for a loaded machine.
    assert float(done.stdout.split()[-1]) < 2.0


def test_thresholds_outside_the_scores():
    texts = ["abc", "abd", "x", None]
    assert pj.self_join(texts, -math.inf) == self_join_brute(texts, -1.0)
    assert pj.self_join(texts, 1.5) == []
    assert pj.Index(texts).top_k(["abc"], k=None, threshold=math.inf) == [[]]
    assert pj.Index([]).top_k(["abc", None], k=3) == [[], []]
    assert pj.self_join([], 0.5) == [] and pj.clusters([], 0.5) == []


def test_a_forked_child_searches_with_its_own_pool():
    script = textwrap.dedent("""
        import os, sys
        import pelgar_join as pj
        index = pj.Index(["anna smith", "bob", "anne smyth"] * 50)
        before = index.top_k(["anna smith", "bob"], k=3, workers=2)
        pid = os.fork()
        if pid == 0:
            ok = index.top_k(["anna smith", "bob"], k=3, workers=2) == before
            ok = ok and pj.self_join(["ab c", "ab c", "x"], 0.9, workers=2) == [(0, 1, 1.0)]
            os._exit(0 if ok else 1)
        _, status = os.waitpid(pid, 0)
        sys.exit(os.WEXITSTATUS(status))
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr


def test_threads_share_an_index():
    texts = slow_texts(400)
    index = pj.Index(texts)
    expected = index.top_k(texts[:100], k=3)
    results = [None] * 4

    def search(slot):
        results[slot] = index.top_k(texts[:100], k=3, workers=1 + slot % 2)

    threads = [threading.Thread(target=search, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert results == [expected] * 4


def test_pairs_that_cannot_qualify_are_not_scored():
    from pelgar_join import _native
    import random
    rng = random.Random(11)
    first = ["anna", "maria", "jon", "li", "pedro", "sofia", "ivan", "mei", "omar", "lena"]
    last = ["smith", "garcia", "müller", "rossi", "novak", "kim", "silva", "berg", "ito", "khan"]
    texts = ["%s %s%d" % (rng.choice(first), rng.choice(last), rng.randrange(100)) for _ in range(3000)]
    pairs, scored = _native.self_join(texts, 0.9, 0, 2, None)
    assert [p for p in pairs if p[1] < 300] == self_join_brute(texts[:300], 0.9)
    assert len(pairs) <= scored < 0.02 * len(texts) * (len(texts) - 1) / 2


def test_engine_index_cache_gives_back_memory_least_recently_used_first(monkeypatch):
    from collections import OrderedDict

    from pelgar_join import _index_cache, _native

    room = _native.memory_room()
    assert room is None or room > 0
    monkeypatch.setattr(_index_cache, "_indexes", OrderedDict())
    first, second, third = pj.Index(["alpha", "beta"]), pj.Index(["gamma"]), pj.Index(["delta"])
    assert _index_cache.index_for("first", lambda: first) is first
    assert _index_cache.index_for("second", lambda: second) is second
    assert _index_cache.index_for("first", lambda: None) is first  # reused, and now the most recent
    monkeypatch.setattr(_native, "memory_room", lambda: 0)  # no room: only the newest stays
    assert _index_cache.index_for("third", lambda: third) is third
    assert list(_index_cache._indexes) == ["third"]
    monkeypatch.setattr(_native, "memory_room", lambda: sys.getsizeof(third) * 3)  # room for the two newest
    _index_cache.index_for("second", lambda: second)
    _index_cache.index_for("first", lambda: first)
    assert list(_index_cache._indexes) == ["second", "first"]
