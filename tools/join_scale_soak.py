"""Soak of pelgar_join over large indexes against brute force over the whole index.

usage: python tools/join_scale_soak.py [--rows N] [--rounds R] [--queries Q] [--seed S] [--quick]

Each round builds an index of N rows or more: register names (bench/register.py) with
typos, case and accent variants, many copies of placeholders ("N/A", "unknown", "-"),
texts under three characters, long texts and missing values. For every scorer, a sample
of queries (listed texts, typos of them, short and long texts) is searched with top_k at
thresholds equal to actual scores of the query and to their neighbouring doubles, for k of
1, 3 and None, and compared with brute force over every row (pelgar.rank_matches for
"combined", the token ratios one row at a time otherwise). Then self_join and clusters at
such a threshold, checked on a sample of rows against brute force over every other row.
Stops at the first difference and prints it. Needs the package installed.
"""

import argparse
import os
import random
import sys

import pelgar
import pelgar_join as pj
from join_soak import SCORE, components, missing, neighbour

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import register  # noqa: E402


def make_texts(rows, rng):
    names = register.register(rows, seed=rng.randrange(10**9))
    texts = list(names)
    for _ in range(rows // 20):
        texts[rng.randrange(rows)] = rng.choice(["N/A", "unknown", "-", "n/a", "UNKNOWN", None, float("nan")])
    for _ in range(rows // 100):
        texts[rng.randrange(rows)] = rng.choice(["", "a", "ab", "é", "x y", "Ab", "  "])
    for _ in range(rows // 1000):
        texts[rng.randrange(rows)] = " ".join(rng.choice(names) for _ in range(rng.randint(5, 60)))
    texts.extend(register.typo_queries(names, rows // 10, seed=rng.randrange(10**9)))
    return texts


def brute_scores(query, texts, scorer):
    """Every present row's score, by position."""
    if scorer == "combined":
        present = [t for t in texts if not missing(t)]
        positions = [i for i, t in enumerate(texts) if not missing(t)]
        ranked = pelgar.rank_matches(query, present, -1.0)
        # rank_matches keeps the input order of equal scores: rebuild positions from texts.
        by_text = {}
        for i, t in zip(positions, present):
            by_text.setdefault(t, []).append(i)
        cursor = {t: 0 for t in by_text}
        scores = {}
        for text, score in ranked:
            scores[by_text[text][cursor[text]]] = score
            cursor[text] += 1
        return scores
    score = SCORE[scorer]
    return {i: score(query, t) for i, t in enumerate(texts) if not missing(t)}


def expected_top_k(scores, k, threshold):
    found = sorted(((i, s) for i, s in scores.items() if s >= threshold), key=lambda item: (-item[1], item[0]))
    return found if k is None else found[:k]


def thresholds_of(scores, rng):
    best = sorted(set(scores.values()), reverse=True)[:5]
    chosen = [rng.choice(best), rng.choice([0.0, 0.5, 0.8, 0.85, 0.9, 1.0])]
    return [t for c in chosen for t in (c, neighbour(c, 1), neighbour(c, -1))]


def check_queries(texts, scorer, queries, rng):
    index = pj.Index(texts, scorer=scorer)
    for query in queries:
        scores = brute_scores(query, texts, scorer)
        for threshold in thresholds_of(scores, rng):
            for k in (1, 3, None):
                if k is None and threshold < 0.8:
                    continue  # every row may qualify: a long list to compare, nothing new to learn
                got = index.top_k([query], k=k, threshold=threshold, workers=2)[0]
                expected = expected_top_k(scores, k, threshold)
                if got != expected:
                    return "top_k %s query=%r k=%s threshold=%r\n got      %r\n expected %r" % (
                        scorer, query, k, threshold, got[:10], expected[:10])
    return None


def check_self_join(texts, scorer, rng, samples):
    score = SCORE[scorer]
    present = [i for i, t in enumerate(texts) if not missing(t)]
    rows = rng.sample(present, samples)
    pair_scores = [score(texts[rows[0]], texts[j]) for j in present if j > rows[0]]
    threshold = rng.choice([s for s in pair_scores if s >= 0.85] or [0.9])
    threshold = rng.choice([threshold, neighbour(threshold, 1), neighbour(threshold, -1), 0.9])
    pairs = pj.self_join(texts, threshold, scorer=scorer, workers=2)
    by_first = {}
    for i, j, s in pairs:
        by_first.setdefault(i, []).append((j, s))
    for i in rows:
        expected = [(j, score(texts[i], texts[j])) for j in present if j > i]
        expected = [(j, s) for j, s in expected if s >= threshold]
        if by_first.get(i, []) != expected:
            return "self_join %s row %d threshold=%r\n got      %r\n expected %r" % (
                scorer, i, threshold, by_first.get(i, [])[:10], expected[:10])
    expected_labels = components(len(texts), pairs)
    if pj.clusters(texts, threshold, scorer=scorer, workers=2) != expected_labels:
        return "clusters %s threshold=%r differ from the components of self_join" % (scorer, threshold)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--queries", type=int, default=12)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--quick", action="store_true", help="one round, a few queries, one token scorer")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    rounds, queries, scorers = args.rounds, args.queries, list(SCORE)
    if args.quick:
        rounds, queries, scorers = 1, 3, ["combined", rng.choice(["token_sort", "token_set"])]
    for number in range(rounds):
        texts = make_texts(args.rows, rng)
        listed = [t for t in texts if not missing(t)]
        for scorer in scorers:
            sample = [rng.choice(listed) for _ in range(queries)]
            sample += register.typo_queries(listed, queries, seed=rng.randrange(10**9))
            sample += [rng.choice(["a", "ab", "", "N/A"]), " ".join(rng.choice(listed) for _ in range(20))]
            failure = check_queries(texts, scorer, sample, rng) or check_self_join(
                texts, scorer, rng, 2 if args.quick else 5)
            if failure:
                print("DIFFERENCE in round %d (%d rows): %s" % (number, len(texts), failure))
                return 1
        print("round %d: %d rows agree" % (number, len(texts)), flush=True)
    print("%d rounds agree" % rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
