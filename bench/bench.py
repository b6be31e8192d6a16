#!/usr/bin/env python3
"""pelgar side by side with rapidfuzz, jellyfish and Levenshtein.

    pip install . rapidfuzz jellyfish Levenshtein
    python bench/bench.py [--quick] [--output FILE] [--repeat N]

Prints a table of medians, pelgar/peer ratios and targets, and writes the
figures with the machine facts to bench/results.json (or FILE). See
bench/README.md for what each workload measures.
"""

import argparse
import datetime
import gc
import importlib
import importlib.metadata
import json
import os
import platform
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import names  # noqa: E402

# Sizes of the full run and of the --quick smoke run.
SIZES = {
    "full": {
        "w1_pairs": 5000, "w1_passes": 4, "w1_repeat": 7,
        "w2_candidates": 100_000, "w2_queries": 3, "w2_repeat": 5,
        "w3_candidates": 100_000, "w3_queries": 3, "w3_repeat": 5,
        "w4_queries": 1000, "w4_candidates": 20_000, "w4_repeat": 3,
        "w5_chars": 5000, "w5_repeat": 7,
        "w6_queries": 2000, "w6_candidates": 20_000, "w6_repeat": 3,
        "pp_queries": 200, "pp_candidates": 5000, "pp_small_queries": 2,
        "pp_small_candidates": 10, "pp_length": 12, "pp_repeat": 5,
        "s_pairs": 20_000, "s_pair_repeat": 7, "s_search_candidates": 100_000, "s_search_repeat": 5,
        "s_batch_queries": 1000, "s_batch_near_queries": 200, "s_batch_candidates": 20_000, "s_batch_repeat": 3,
        "l_batch_queries": 200, "l_batch_candidates": 20_000, "l_batch_repeat": 5,
        "l_search_candidates": 100_000, "l_search_repeat": 5,
    },
    "quick": {
        "w1_pairs": 1000, "w1_passes": 2, "w1_repeat": 3,
        "w2_candidates": 10_000, "w2_queries": 2, "w2_repeat": 3,
        "w3_candidates": 10_000, "w3_queries": 2, "w3_repeat": 3,
        "w4_queries": 100, "w4_candidates": 2000, "w4_repeat": 3,
        "w5_chars": 1000, "w5_repeat": 3,
        "w6_queries": 200, "w6_candidates": 2000, "w6_repeat": 3,
        "pp_queries": 40, "pp_candidates": 1000, "pp_small_queries": 2,
        "pp_small_candidates": 10, "pp_length": 12, "pp_repeat": 3,
        "s_pairs": 2000, "s_pair_repeat": 3, "s_search_candidates": 10_000, "s_search_repeat": 3,
        "s_batch_queries": 100, "s_batch_near_queries": 20, "s_batch_candidates": 2000, "s_batch_repeat": 3,
        "l_batch_queries": 20, "l_batch_candidates": 2000, "l_batch_repeat": 3,
        "l_search_candidates": 10_000, "l_search_repeat": 3,
    },
}

# Targets: ratio pelgar/peer (lower is better), or an absolute figure.
TARGETS = {
    "W1": 1.2, "W2": 0.5, "W3": 0.7, "W4": 0.5, "W5": 2.0,
    "pp_ascii_ns": 150.0, "pp_non_ascii_factor": 3.0, "W6": 0.55,
    # Against the peer's fastest single measure for the same job (S workloads).
    "S1": 0.9, "S2": 0.9, "S3": 0.9, "S4": 0.7, "S5": 1.0, "S6": 1.0, "S7": 0.5, "S8": 1.0,
    # Scores at the machine's width: no-prune batches and near-duplicates (L workloads).
    "L1": 0.4, "L2": 0.4, "L3": 0.6, "L4": 0.5, "L5": 0.5,
}

# The no-prune batches: (id, length of the names, accented letters).
LANE_BATCHES = (("L1", 10, False), ("L2", 17, False), ("L3", 38, False), ("L4", 17, True))

# Seeds of the data sets; the subprocesses rebuild the same data from them.
SEED_CANDIDATES = 11
SEED_QUERIES = 12


def optional_import(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def version_of(dist):
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return None


# ---------------------------------------------------------------- timing

def time_once(fn):
    """Wall time of one call of fn in seconds, with the collector held off."""
    gc.collect()
    gc.disable()
    try:
        t0 = time.perf_counter_ns()
        fn()
        t1 = time.perf_counter_ns()
    finally:
        gc.enable()
    return (t1 - t0) / 1e9


def measure_group(fns, repeat, warmup=True):
    """Samples (seconds) of each named callable, the callables taking turns so
    that a change of machine load hits them all alike."""
    if warmup:
        for fn in fns.values():
            fn()
    samples = {name: [] for name in fns}
    for _ in range(repeat):
        for name, fn in fns.items():
            samples[name].append(time_once(fn))
    return samples


def stats(samples, scale=1.0):
    """Median, minimum, maximum (each times scale) and the raw samples."""
    values = [s * scale for s in samples]
    med = statistics.median(values)
    return {
        "median": med,
        "min": min(values),
        "max": max(values),
        "spread": (max(values) - min(values)) / med if med else 0.0,
        "samples": values,
    }


# ---------------------------------------------------------------- data

def candidate_list(n):
    return names.names(n, seed=SEED_CANDIDATES)


def query_list(candidates, n):
    return names.queries(candidates, n, seed=SEED_QUERIES)


# ---------------------------------------------------------------- children
# Work that needs its own worker pool size runs in a child process, started
# with RAYON_NUM_THREADS set: the pool is sized once, on its first use.

def child_batch(params):
    """One timed batch_best_match of the W6 data, after a small call that
    creates the pool."""
    import pelgar
    candidates = candidate_list(params["candidates"])
    queries = query_list(candidates, params["queries"])
    pelgar.batch_best_match(queries[:4], candidates[:100])
    cpu = time.process_time()
    seconds = time_once(lambda: pelgar.batch_best_match(queries, candidates))
    # Processor time next to wall time shows whether the workers got their cores.
    return {"seconds": seconds, "cpu_seconds": time.process_time() - cpu}


def child_per_pair(params):
    """Per-pair cost of weighted_score inside batch_best_match on one worker.

    T(q, c) = fixed + q * per_query + c * per_candidate + q * c * per_pair, so
    the interaction term T(Q,C) - T(q,C) - T(Q,c) + T(q,c) divided by
    (Q - q)(C - c) is the per-pair cost with the call, conversion and
    normalisation overheads cancelled out.
    """
    import pelgar
    ascii_only = params["kind"] == "ascii"
    length = params["length"]
    big_q, big_c = params["queries"], params["candidates"]
    small_q, small_c = params["small_queries"], params["small_candidates"]
    queries = names.fixed_length_names(big_q, length, seed=1, ascii_only=ascii_only)
    candidates = names.fixed_length_names(big_c, length, seed=2, ascii_only=ascii_only)
    runs = {
        "QC": lambda: pelgar.batch_best_match(queries, candidates),
        "qC": lambda: pelgar.batch_best_match(queries[:small_q], candidates),
        "Qc": lambda: pelgar.batch_best_match(queries, candidates[:small_c]),
        "qc": lambda: pelgar.batch_best_match(queries[:small_q], candidates[:small_c]),
    }
    samples = measure_group(runs, params["repeat"])
    pairs = (big_q - small_q) * (big_c - small_c)
    per_pair = [
        (samples["QC"][i] - samples["qC"][i] - samples["Qc"][i] + samples["qc"][i]) / pairs
        for i in range(params["repeat"])
    ]
    naive = [s / (big_q * big_c) for s in samples["QC"]]
    return {"per_pair_s": per_pair, "naive_per_pair_s": naive, "samples": samples}


CHILD_TASKS = {"batch": child_batch, "per_pair": child_per_pair}


def run_child(task, params, threads):
    env = dict(os.environ)
    env["RAYON_NUM_THREADS"] = str(threads)
    env.pop("RAYON_RS_NUM_CPUS", None)
    out = subprocess.run(
        [sys.executable, os.path.abspath(__file__), "--child", task, json.dumps(params)],
        env=env, check=True, capture_output=True, text=True,
    )
    return json.loads(out.stdout.strip().splitlines()[-1])


# ---------------------------------------------------------------- machine

def cpu_facts():
    """Model, family/model/stepping, clock, cache and vector extensions of the first CPU."""
    fields = {}
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                if not line.strip():
                    break
                key, _, value = line.partition(":")
                fields[key.strip().lower()] = value.strip()
    except OSError:
        pass
    flags = set(fields.get("flags", "").split())
    return {
        "cpu_model": fields.get("model name") or fields.get("hardware") or platform.processor() or None,
        "cpu_vendor": fields.get("vendor_id"),
        "cpu_family_model_stepping": "/".join(fields.get(k, "?") for k in ("cpu family", "model", "stepping")),
        "cpu_mhz": fields.get("cpu mhz"),
        "cpu_cache": fields.get("cache size"),
        "cpu_vector_extensions": sorted(flags & {"sse4_2", "avx", "avx2", "avx512f", "avx512bw", "avx512vl", "bmi2",
                                                 "popcnt"}),
    }


def compiler_of(path):
    """The compiler recorded in the module's binary (.comment section), if any."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except (OSError, TypeError):
        return None
    for marker in (b"GCC: (", b"clang version"):
        i = data.find(marker)
        if i >= 0:
            end = data.find(b"\0", i)
            return data[i:end].decode("ascii", "replace")
    return None


def lane_kernels_of(path, vector_extensions):
    """The build of the grouped kernel that the module picks on this processor: AVX-512 when
    the binary has it (the wheel can be built without it) and the processor runs it, else
    AVX2, else SSE2."""
    try:
        with open(path, "rb") as f:
            has_avx512 = b"pelgar lane kernels: avx512 built" in f.read()
    except (OSError, TypeError):
        return None
    if has_avx512 and {"avx512f", "avx512bw", "avx512vl"} <= set(vector_extensions):
        return "avx512"
    return "avx2" if "avx2" in vector_extensions else "sse2"


def running_processes():
    """Runnable/total scheduling entities from /proc/loadavg: other work on the machine."""
    try:
        with open("/proc/loadavg", encoding="ascii") as f:
            return f.read().split()[3]
    except (OSError, IndexError):
        return None


def machine_facts(pelgar):
    try:
        usable = len(os.sched_getaffinity(0))
    except AttributeError:
        usable = os.cpu_count()
    facts = dict(cpu_facts())
    facts.update({
        "logical_cpus": os.cpu_count(),
        "usable_cpus": usable,
        "platform": platform.platform(),
        "python": f"{platform.python_implementation()} {platform.python_version()}",
        "compiler": compiler_of(getattr(pelgar, "__file__", None)),
        "lane_kernels": lane_kernels_of(getattr(pelgar, "__file__", None), facts["cpu_vector_extensions"]),
        "load_average_start": list(os.getloadavg()) if hasattr(os, "getloadavg") else None,
        "running_processes_start": running_processes(),
        "date_utc": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S"),
    })
    try:
        with open("/proc/meminfo", encoding="utf-8") as f:
            facts["memory"] = f.readline().split(":", 1)[1].strip()
    except OSError:
        pass
    return facts


def versions():
    return {d: version_of(d) for d in ("pelgar", "rapidfuzz", "jellyfish", "Levenshtein", "numpy")}


# ---------------------------------------------------------------- workloads

class Results:
    def __init__(self):
        self.rows = []   # one per (workload, peer)
        self.notes = []

    def add(self, workload, label, unit, pelgar_stats, peer, peer_stats, target, extra=None):
        ratio = pelgar_stats["median"] / peer_stats["median"] if peer_stats else None
        row = {
            "workload": workload, "label": label, "unit": unit,
            "pelgar": pelgar_stats, "peer": peer, "peer_stats": peer_stats,
            "ratio": ratio, "target": target,
            "pass": (ratio <= target) if (ratio is not None and target is not None) else None,
        }
        if extra:
            row.update(extra)
        self.rows.append(row)
        return row

    def skip(self, workload, label, peer, why):
        self.rows.append({"workload": workload, "label": label, "peer": peer, "skipped": why})
        self.notes.append(f"{workload} {label} vs {peer}: skipped ({why})")


def pair_loop(fn, pairs, passes):
    def run():
        for _ in range(passes):
            for a, b in pairs:
                fn(a, b)
    return run


def pair_loop_processed(fn, pairs, passes, processor):
    def run():
        for _ in range(passes):
            for a, b in pairs:
                fn(a, b, processor=processor)
    return run


def w1(res, pelgar, peers, size):
    pairs = names.pairs(size["w1_pairs"], seed=3)
    passes = size["w1_passes"]
    calls = len(pairs) * passes
    rf, jf, lv = peers["rapidfuzz"], peers["jellyfish"], peers["Levenshtein"]
    for measure, mine in (("levenshtein", pelgar.levenshtein), ("jaro_winkler", pelgar.jaro_winkler)):
        fns = {"pelgar": pair_loop(mine, pairs, passes)}
        if rf:
            peer_fn = rf.distance.Levenshtein.distance if measure == "levenshtein" else rf.distance.JaroWinkler.similarity
            name = "rapidfuzz." + ("Levenshtein.distance" if measure == "levenshtein" else "JaroWinkler.similarity") + " +default_process"
            fns[name] = pair_loop_processed(peer_fn, pairs, passes, rf.utils.default_process)
        else:
            res.skip("W1", measure, "rapidfuzz", "not installed")
        if jf:
            name = "jellyfish." + ("levenshtein_distance" if measure == "levenshtein" else "jaro_winkler_similarity")
            fns[name] = pair_loop(getattr(jf, name.split(".")[1]), pairs, passes)
        else:
            res.skip("W1", measure, "jellyfish", "not installed")
        if lv:
            name = "Levenshtein." + ("distance" if measure == "levenshtein" else "jaro_winkler")
            fns[name] = pair_loop(getattr(lv, name.split(".")[1]), pairs, passes)
        else:
            res.skip("W1", measure, "Levenshtein", "not installed")
        samples = measure_group(fns, size["w1_repeat"])
        mine_stats = stats(samples.pop("pelgar"), 1e9 / calls)
        if not samples:
            res.add("W1", f"{measure} (one pair per call)", "ns/call", mine_stats, None, None, TARGETS["W1"])
        for peer, s in samples.items():
            res.add("W1", f"{measure} (one pair per call)", "ns/call", mine_stats, peer, stats(s, 1e9 / calls), TARGETS["W1"])


def w2_w3(res, pelgar, peers, size, workload):
    key = workload.lower()
    candidates = candidate_list(size[f"{key}_candidates"])
    queries = query_list(candidates, size[f"{key}_queries"])
    rf = peers["rapidfuzz"]
    label = f"{'best_match' if workload == 'W2' else 'rank_matches'} over {len(candidates):,} candidates"
    if workload == "W2":
        fns = {"pelgar": lambda: [pelgar.best_match(q, candidates) for q in queries]}
        peer = "rapidfuzz.process.extractOne WRatio"
        if rf:
            fns[peer] = lambda: [rf.process.extractOne(q, candidates, scorer=rf.fuzz.WRatio,
                                                       processor=rf.utils.default_process) for q in queries]
    else:
        fns = {"pelgar": lambda: [pelgar.rank_matches(q, candidates) for q in queries]}
        peer = "rapidfuzz.process.extract WRatio limit=None"
        if rf:
            fns[peer] = lambda: [rf.process.extract(q, candidates, scorer=rf.fuzz.WRatio,
                                                    processor=rf.utils.default_process, limit=None) for q in queries]
    samples = measure_group(fns, size[f"{key}_repeat"], warmup=False)
    per_query = 1e3 / len(queries)
    mine = stats(samples["pelgar"], per_query)
    if rf:
        res.add(workload, label, "ms/query", mine, peer, stats(samples[peer], per_query), TARGETS[workload])
    else:
        res.add(workload, label, "ms/query", mine, None, None, TARGETS[workload])
        res.skip(workload, label, "rapidfuzz", "not installed")


def w4(res, pelgar, peers, size):
    candidates = candidate_list(size["w4_candidates"])
    queries = query_list(candidates, size["w4_queries"])
    rf, np = peers["rapidfuzz"], peers["numpy"]
    label = f"batch_best_match {len(queries):,} x {len(candidates):,}, 2 workers"
    pelgar.batch_best_match(queries[:4], candidates[:100])  # creates the pool
    fns = {"pelgar": lambda: pelgar.batch_best_match(queries, candidates)}
    peer = "rapidfuzz.process.cdist WRatio workers=2 + argmax"
    if rf and np:
        def cdist_best():
            scores = rf.process.cdist(queries, candidates, scorer=rf.fuzz.WRatio,
                                      processor=rf.utils.default_process, workers=2)
            best = np.argmax(scores, axis=1)
            return [(candidates[j], float(scores[i, j])) for i, j in enumerate(best)]
        fns[peer] = cdist_best
    samples = measure_group(fns, size["w4_repeat"], warmup=False)
    mine = stats(samples["pelgar"])
    if peer in samples:
        res.add("W4", label, "s", mine, peer, stats(samples[peer]), TARGETS["W4"])
    else:
        res.add("W4", label, "s", mine, None, None, TARGETS["W4"])
        res.skip("W4", label, "rapidfuzz cdist", "rapidfuzz or numpy not installed")


def w5(res, pelgar, peers, size):
    n = size["w5_chars"]
    a = names.text(n, seed=5)
    b = (names.noisy_text(a, seed=5) + " " + names.text(n, seed=6))[:n]
    lv = peers["Levenshtein"]
    label = f"levenshtein of two {n:,}-character texts"
    fns = {"pelgar": lambda: pelgar.levenshtein(a, b)}
    if lv:
        fns["Levenshtein.distance"] = lambda: lv.distance(a, b)
    samples = measure_group(fns, size["w5_repeat"])
    mine = stats(samples["pelgar"], 1e3)
    if lv:
        res.add("W5", label, "ms", mine, "Levenshtein.distance", stats(samples["Levenshtein.distance"], 1e3), TARGETS["W5"])
    else:
        res.add("W5", label, "ms", mine, None, None, TARGETS["W5"])
        res.skip("W5", label, "Levenshtein", "not installed")


def per_pair(res, size):
    out = {}
    for kind in ("ascii", "non_ascii"):
        params = {
            "kind": kind, "length": size["pp_length"], "queries": size["pp_queries"],
            "candidates": size["pp_candidates"], "small_queries": size["pp_small_queries"],
            "small_candidates": size["pp_small_candidates"], "repeat": size["pp_repeat"],
        }
        child = run_child("per_pair", params, threads=1)
        out[kind] = {
            "per_pair": stats(child["per_pair_s"], 1e9),
            "naive_per_pair": stats(child["naive_per_pair_s"], 1e9),
            "params": params,
        }
    ascii_ns = out["ascii"]["per_pair"]["median"]
    non_ascii_ns = out["non_ascii"]["per_pair"]["median"]
    length = size["pp_length"]
    res.rows.append({
        "workload": "PP", "label": f"weighted_score per pair, {length}-char ASCII, 1 worker", "unit": "ns/pair",
        "pelgar": out["ascii"]["per_pair"], "peer": None, "peer_stats": None, "ratio": None,
        "value": ascii_ns, "target": TARGETS["pp_ascii_ns"], "pass": ascii_ns <= TARGETS["pp_ascii_ns"],
    })
    factor = non_ascii_ns / ascii_ns if ascii_ns > 0 else None
    res.rows.append({
        "workload": "PP", "label": f"weighted_score per pair, {length}-char non-ASCII, 1 worker", "unit": "ns/pair",
        "pelgar": out["non_ascii"]["per_pair"], "peer": "(same, ASCII names)", "peer_stats": out["ascii"]["per_pair"],
        "ratio": factor, "target": TARGETS["pp_non_ascii_factor"],
        "pass": factor is not None and factor <= TARGETS["pp_non_ascii_factor"],
    })
    return out


def w6(res, size):
    params = {"queries": size["w6_queries"], "candidates": size["w6_candidates"]}
    samples = {1: [], 2: []}
    cpu = {1: [], 2: []}
    for _ in range(size["w6_repeat"]):
        for threads in (1, 2):
            child = run_child("batch", params, threads)
            samples[threads].append(child["seconds"])
            cpu[threads].append(child["cpu_seconds"])
    one, two = stats(samples[1]), stats(samples[2])
    res.add("W6", f"batch_best_match {params['queries']:,} x {params['candidates']:,}: 2 workers vs 1",
            "s", two, "(same, 1 worker)", one, TARGETS["W6"])
    return {"one_worker": one, "two_workers": two, "ratio": two["median"] / one["median"],
            "cpu_seconds": {"one_worker": cpu[1], "two_workers": cpu[2]}, "params": params}


# ---------------------------------------------------------------- single-measure peers
# The S workloads pit the module's three-measure score against the peer's fastest single
# measure for the same job, with the peer's own preprocessing.

def near_duplicates(query, n, seed):
    """n noisy variants of one name: candidates the score bound cannot tell apart. None
    equals the query up to case and accents, so no peer can stop at a perfect score."""
    rng = random.Random(f"near-{seed}")
    same = names.strip_accents(query).lower()
    out = []
    while len(out) < n:
        v = names.noisy_variant(query, rng)
        if names.strip_accents(v).lower() != same:
            out.append(v)
    return out


def absent_query(candidates, seed):
    """A noisy variant of a candidate that is not itself in the list."""
    present = set(candidates)
    for q in names.queries(candidates, 50, seed=seed):
        if q not in present:
            return q
    raise RuntimeError("no absent query")


def s_pairs(res, pelgar, rf, size):
    pairs = names.pairs(size["s_pairs"], seed=21)
    proc = rf.utils.default_process
    jobs = (
        ("S1", "combined_score (one pair per call)", pelgar.combined_score,
         "rapidfuzz.JaroWinkler.similarity +default_process", rf.distance.JaroWinkler.similarity),
        ("S2", "token_sort_ratio (one pair per call)", pelgar.token_sort_ratio,
         "rapidfuzz.fuzz.token_sort_ratio +default_process", rf.fuzz.token_sort_ratio),
        ("S3", "token_set_ratio (one pair per call)", pelgar.token_set_ratio,
         "rapidfuzz.fuzz.token_set_ratio +default_process", rf.fuzz.token_set_ratio),
    )
    for workload, label, mine, peer, theirs in jobs:
        fns = {"pelgar": pair_loop(mine, pairs, 1), peer: pair_loop_processed(theirs, pairs, 1, proc)}
        samples = measure_group(fns, size["s_pair_repeat"])
        scale = 1e9 / len(pairs)
        res.add(workload, label, "ns/call", stats(samples["pelgar"], scale), peer,
                stats(samples[peer], scale), TARGETS[workload])


def s_search(res, pelgar, rf, size):
    n = size["s_search_candidates"]
    candidates = candidate_list(n)
    query = absent_query(candidates, seed=22)
    near = near_duplicates(query, n, seed=23)
    jw = rf.distance.JaroWinkler.normalized_similarity
    proc = rf.utils.default_process
    jobs = (
        ("S4", f"best_match 1 x {n:,} names, query absent", candidates,
         lambda c: pelgar.best_match(query, c),
         "rapidfuzz.process.extractOne JaroWinkler", lambda c: rf.process.extractOne(query, c, scorer=jw, processor=proc)),
        ("S5", f"best_match 1 x {n:,} near-duplicates", near,
         lambda c: pelgar.best_match(query, c),
         "rapidfuzz.process.extractOne JaroWinkler", lambda c: rf.process.extractOne(query, c, scorer=jw, processor=proc)),
        ("S6", f"rank_matches 1 x {n:,} names", candidates,
         lambda c: pelgar.rank_matches(query, c),
         "rapidfuzz.process.extract JaroWinkler limit=None",
         lambda c: rf.process.extract(query, c, scorer=jw, processor=proc, limit=None)),
    )
    for workload, label, data, mine, peer, theirs in jobs:
        fns = {"pelgar": (lambda m=mine, d=data: m(d)), peer: (lambda t=theirs, d=data: t(d))}
        samples = measure_group(fns, size["s_search_repeat"])
        res.add(workload, label, "ms", stats(samples["pelgar"], 1e3), peer, stats(samples[peer], 1e3),
                TARGETS[workload])


def s_batch(res, pelgar, rf, np, size):
    n = size["s_batch_candidates"]
    candidates = candidate_list(n)
    queries = query_list(candidates, size["s_batch_queries"])
    near_query = absent_query(candidates, seed=24)
    near = near_duplicates(near_query, n, seed=25)
    near_queries = near_duplicates(near_query, size["s_batch_near_queries"], seed=26)
    jw = rf.distance.JaroWinkler.normalized_similarity
    proc = rf.utils.default_process
    pelgar.batch_best_match(queries[:4], candidates[:100])  # creates the pool

    def cdist_best(qs, cs):
        scores = rf.process.cdist(qs, cs, scorer=jw, processor=proc, workers=2)
        best = np.argmax(scores, axis=1)
        return [(cs[j], float(scores[i, j])) for i, j in enumerate(best)]

    peer = "rapidfuzz.process.cdist JaroWinkler workers=2 + argmax"
    jobs = (
        ("S7", f"batch_best_match {len(queries):,} x {n:,}, 2 workers", queries, candidates),
        ("S8", f"batch_best_match {len(near_queries):,} x {n:,} near-duplicates, 2 workers", near_queries, near),
    )
    for workload, label, qs, cs in jobs:
        fns = {"pelgar": lambda q=qs, c=cs: pelgar.batch_best_match(q, c), peer: lambda q=qs, c=cs: cdist_best(q, c)}
        samples = measure_group(fns, size["s_batch_repeat"], warmup=False)
        res.add(workload, label, "s", stats(samples["pelgar"]), peer, stats(samples[peer]), TARGETS[workload])


# ---------------------------------------------------------------- lane widths
# Texts all alike and of one length, so that nothing is pruned and every pair is scored:
# the floor that the vectorised score sets under every search.

def lane_batches(res, pelgar, rf, np, size):
    queries_n, candidates_n = size["l_batch_queries"], size["l_batch_candidates"]
    jw = rf.distance.JaroWinkler.normalized_similarity
    proc = rf.utils.default_process
    pelgar.batch_best_match(["warm up"], ["the pool"])  # creates the pool
    peer = "rapidfuzz.process.cdist JaroWinkler workers=2 + argmax"

    def cdist_best(qs, cs):
        scores = rf.process.cdist(qs, cs, scorer=jw, processor=proc, workers=2)
        best = np.argmax(scores, axis=1)
        return [(cs[j], float(scores[i, j])) for i, j in enumerate(best)]

    for workload, length, accented in LANE_BATCHES:
        base = names.one_name(length, seed=31, accented=accented)
        queries = names.substitutions(base, queries_n, seed=33)
        # As for the near-duplicates, no candidate equals a query up to case and accents.
        asked = {names.strip_accents(q).lower() for q in queries}
        family = names.substitutions(base, 2 * candidates_n, seed=32)
        candidates = [c for c in family if names.strip_accents(c).lower() not in asked][:candidates_n]
        assert len(candidates) == candidates_n, f"too few candidates for {workload}"
        kind = "accented " if accented else ""
        label = f"no-prune batch {queries_n:,} x {candidates_n:,}, {length}-char {kind}names, 2 workers"
        fns = {"pelgar": lambda q=queries, c=candidates: pelgar.batch_best_match(q, c),
               peer: lambda q=queries, c=candidates: cdist_best(q, c)}
        samples = measure_group(fns, size["l_batch_repeat"])
        mine = stats(samples["pelgar"])
        # Two workers share the pairs: the cost of one pair on one core.
        per_pair = mine["median"] * 2 / (queries_n * candidates_n) * 1e9
        res.add(workload, f"{label} ({per_pair:.1f} ns a pair per core)", "s", mine, peer, stats(samples[peer]),
                TARGETS[workload],
                extra={"ns_per_pair_per_core": per_pair, "name": base})


def lane_search(res, pelgar, rf, size):
    n = size["l_search_candidates"]
    query = absent_query(candidate_list(n), seed=22)
    near = near_duplicates(query, n, seed=23)
    jw = rf.distance.JaroWinkler.normalized_similarity
    proc = rf.utils.default_process
    peer = "rapidfuzz.process.extractOne JaroWinkler"
    fns = {"pelgar": lambda: pelgar.best_match(query, near),
           peer: lambda: rf.process.extractOne(query, near, scorer=jw, processor=proc)}
    samples = measure_group(fns, size["l_search_repeat"])
    res.add("L5", f"best_match 1 x {n:,} near-duplicates", "ms", stats(samples["pelgar"], 1e3), peer,
            stats(samples[peer], 1e3), TARGETS["L5"])


def single_measure_peers(res, pelgar, peers, size, which):
    rf, np = peers["rapidfuzz"], peers["numpy"]
    if not rf or not np:
        res.skip(which, "single-measure workloads", "rapidfuzz", "rapidfuzz or numpy not installed")
        return
    if which == "S1":
        s_pairs(res, pelgar, rf, size)
    elif which == "S4":
        s_search(res, pelgar, rf, size)
    elif which == "L1":
        lane_batches(res, pelgar, rf, np, size)
        lane_search(res, pelgar, rf, size)
    else:
        s_batch(res, pelgar, rf, np, size)


# ---------------------------------------------------------------- report

def fmt_value(v, unit):
    if v is None:
        return "-"
    if unit.startswith("ns"):
        return f"{v:,.0f}"
    if v >= 100:
        return f"{v:,.0f}"
    if v >= 10:
        return f"{v:.1f}"
    return f"{v:.3g}" if v < 1 else f"{v:.2f}"


def fmt_stats(s, unit):
    if not s:
        return "-"
    return f"{fmt_value(s['median'], unit)} ±{100 * s['spread'] / 2:.0f}%"


def table(rows):
    header = ("workload", "unit", "pelgar", "peer", "peer time", "ratio", "target", "")
    lines = []
    for r in rows:
        if "skipped" in r:
            lines.append((f"{r['workload']} {r['label']}", "", "", r["peer"], "skipped: " + r["skipped"], "", "", ""))
            continue
        unit = r["unit"]
        if r["workload"] == "PP" and r["peer"] is None:
            target = f"<= {r['target']:.0f} ns"
            ratio = ""
        else:
            target = f"<= {r['target']:g}" if r["target"] is not None else ""
            ratio = f"{r['ratio']:.2f}" if r["ratio"] is not None else "-"
        mark = {True: "pass", False: "FAIL", None: ""}[r["pass"]]
        lines.append((
            f"{r['workload']} {r['label']}", unit, fmt_stats(r["pelgar"], unit),
            r["peer"] or "", fmt_stats(r["peer_stats"], unit), ratio, target, mark,
        ))
    widths = [max(len(header[i]), *(len(line[i]) for line in lines)) for i in range(len(header))]
    out = [" | ".join(h.ljust(w) for h, w in zip(header, widths)), "-+-".join("-" * w for w in widths)]
    out += [" | ".join(c.ljust(w) for c, w in zip(line, widths)) for line in lines]
    return "\n".join(out)


def markdown_table(rows):
    out = ["| workload | unit | pelgar median | peer | peer median | ratio | target | |",
           "|---|---|---|---|---|---|---|---|"]
    for r in rows:
        if "skipped" in r:
            out.append(f"| {r['workload']} {r['label']} | | | {r['peer']} | skipped: {r['skipped']} | | | |")
            continue
        unit = r["unit"]
        if r["workload"] == "PP" and r["peer"] is None:
            ratio, target = "", f"<= {r['target']:.0f} ns"
        else:
            ratio = f"{r['ratio']:.2f}" if r["ratio"] is not None else "-"
            target = f"<= {r['target']:g}"
        mark = {True: "pass", False: "**FAIL**", None: ""}[r["pass"]]
        out.append(f"| {r['workload']} {r['label']} | {unit} | {fmt_stats(r['pelgar'], unit)} | "
                   f"{r['peer'] or ''} | {fmt_stats(r['peer_stats'], unit)} | {ratio} | {target} | {mark} |")
    return "\n".join(out)


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="small sizes, for a fast smoke run")
    parser.add_argument("--output", default=os.path.join(HERE, "results.json"), help="JSON file to write")
    parser.add_argument("--repeat", type=int, help="repetitions of every workload (default: per workload)")
    parser.add_argument("--only", help="comma-separated workloads to run, of W1,W2,W3,W4,W5,W6,PP,S1,S4,S7,L1 "
                        "(S1 runs S1-S3, S4 runs S4-S6, S7 runs S7-S8, L1 runs L1-L5)")
    parser.add_argument("--markdown", action="store_true", help="also print the table as Markdown")
    parser.add_argument("--child", nargs=2, metavar=("TASK", "PARAMS"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.child:
        task, params = args.child
        print(json.dumps(CHILD_TASKS[task](json.loads(params))))
        return 0

    # W4 is defined on two workers; the pool reads this once, on first use.
    os.environ["RAYON_NUM_THREADS"] = "2"
    os.environ.pop("RAYON_RS_NUM_CPUS", None)
    try:
        import pelgar
    except ImportError as e:
        print(f"pelgar cannot be imported ({e}); run `pip install .` first", file=sys.stderr)
        return 1

    peers = {name: optional_import(name) for name in ("jellyfish", "Levenshtein", "numpy")}
    rf = optional_import("rapidfuzz")
    if rf:
        for sub in ("distance", "utils", "process", "fuzz"):
            importlib.import_module(f"rapidfuzz.{sub}")
    peers["rapidfuzz"] = rf

    size = dict(SIZES["quick" if args.quick else "full"])
    if args.repeat:
        for k in size:
            if k.endswith("_repeat"):
                size[k] = args.repeat
    only = set(args.only.split(",")) if args.only else {"W1", "W2", "W3", "W4", "W5", "W6", "PP", "S1", "S4", "S7", "L1"}

    report = {
        "machine": machine_facts(pelgar),
        "versions": versions(),
        "mode": "quick" if args.quick else "full",
        "sizes": size,
        "targets": TARGETS,
        "data": {
            "candidates_sample": candidate_list(12),
            "queries_sample": query_list(candidate_list(12), 6),
            "names_profile": names.describe(candidate_list(20_000)),
        },
    }
    res = Results()
    started = time.perf_counter()
    steps = [
        ("W1", lambda: w1(res, pelgar, peers, size)),
        ("W2", lambda: w2_w3(res, pelgar, peers, size, "W2")),
        ("W3", lambda: w2_w3(res, pelgar, peers, size, "W3")),
        ("W4", lambda: w4(res, pelgar, peers, size)),
        ("W5", lambda: w5(res, pelgar, peers, size)),
        ("PP", lambda: report.__setitem__("per_pair", per_pair(res, size))),
        ("W6", lambda: report.__setitem__("w6", w6(res, size))),
        ("S1", lambda: single_measure_peers(res, pelgar, peers, size, "S1")),
        ("S4", lambda: single_measure_peers(res, pelgar, peers, size, "S4")),
        ("S7", lambda: single_measure_peers(res, pelgar, peers, size, "S7")),
        ("L1", lambda: single_measure_peers(res, pelgar, peers, size, "L1")),
    ]
    for name, step in steps:
        if name in only:
            t0 = time.perf_counter()
            print(f"running {name} ...", file=sys.stderr, flush=True)
            step()
            print(f"  {name} took {time.perf_counter() - t0:.1f} s", file=sys.stderr, flush=True)

    report["machine"]["load_average_end"] = list(os.getloadavg()) if hasattr(os, "getloadavg") else None
    report["machine"]["running_processes_end"] = running_processes()
    report["machine"]["bench_seconds"] = round(time.perf_counter() - started, 1)
    report["rows"] = res.rows
    report["notes"] = res.notes

    m, v = report["machine"], report["versions"]
    print(f"\n{m['cpu_model']}, {m['usable_cpus']} of {m['logical_cpus']} CPUs usable, {m['python']}, "
          f"{m['compiler'] or 'compiler unknown'}, grouped kernel {m['lane_kernels']}; "
          f"load average {m['load_average_start'][0]:.2f} at start")
    print("versions: " + ", ".join(f"{k} {val or 'missing'}" for k, val in v.items()))
    print(f"medians, ± half the min-max spread; mode {report['mode']}\n")
    print(table(res.rows))
    if args.markdown:
        print("\n" + markdown_table(res.rows))
    for note in res.notes:
        print("note: " + note)

    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as f:
        json.dump(report, f, indent=1, ensure_ascii=False)
    print(f"\nwrote {os.path.relpath(args.output)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
