"""Soak of pelgar_join's records of several fields, at a million rows, against brute force.

usage: python tools/record_scale_soak.py [--rows N] [--queries Q] [--samples S] [--seed S]

Builds N person records (bench/register.py: name, address, city, date of birth, some
fields missing) with weights four orders of magnitude apart in one round and close in
the other, and a token scorer on one field. For each of Q typo queries, every row's
record score is worked out by brute force from each field's single-field scores over the
whole column, combined in field order as the record score is defined; top_k must equal
it at thresholds equal to actual scores and their neighbouring doubles, for k of 1, 3
and None. Then self_join at such a threshold is checked on S sample rows against brute
force over every later row, and clusters against the components of the self_join's
pairs. Stops at the first difference and prints it. Needs the package and numpy.
"""

import argparse
import os
import random
import sys
import time

import numpy as np

import pelgar_join as pj
from join_soak import components, neighbour

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import register  # noqa: E402

FIELDS = ("name", "address", "city", "dob")
ROUNDS = ({"name": 0.4, "address": 0.3, "city": 0.1, "dob": 0.2},
          {"name": 1000.0, "address": 0.1, "city": 3.0, "dob": 0.5})
SCORERS = {"address": "token_sort"}


def field_scores(single, text, rows):
    """Every row's score with `text` in one field; NaN where either is missing."""
    scores = np.full(rows, np.nan)
    if text is not None:
        for row, score in single.top_k([text], k=None, threshold=-1.0)[0]:
            scores[row] = score
    return scores


def record_scores(singles, weights, record, rows):
    """Every row's record score with `record`, NaN where they share no field, summed as defined."""
    total, weight_sum = np.zeros(rows), np.zeros(rows)
    for field in FIELDS:
        scores = field_scores(singles[field], record[field], rows)
        present = ~np.isnan(scores)
        total = np.where(present, total + weights[field] * scores, total)
        weight_sum = np.where(present, weight_sum + weights[field], weight_sum)
    with np.errstate(invalid="ignore", divide="ignore"):
        return np.where(weight_sum > 0, total / weight_sum, np.nan)


def expected(scores, k, threshold, after=-1):
    rows = np.nonzero(scores >= threshold)[0]
    rows = rows[rows > after]
    found = sorted(((int(r), float(scores[r])) for r in rows), key=lambda item: (-item[1], item[0]))
    return found if k is None else found[:k]


def check_top_k(index, singles, weights, queries, rows, rng):
    for query in queries:
        scores = record_scores(singles, weights, query, rows)
        best = sorted(set(scores[~np.isnan(scores)].tolist()), reverse=True)[:4]
        for chosen in (rng.choice(best), 0.85, 0.9):
            for threshold in (chosen, neighbour(chosen, 1), neighbour(chosen, -1)):
                for k in (1, 3, None):
                    got = index.top_k({f: [query[f]] for f in FIELDS}, k=k, threshold=threshold, workers=2)[0]
                    if got != expected(scores, k, threshold):
                        return f"top_k k={k} threshold={threshold!r} query={query}\n got {got[:5]}\n expected " \
                               f"{expected(scores, k, threshold)[:5]}"
    return None


def check_self_join(columns, singles, weights, people, samples, rng):
    rows = len(people)
    found = pj.self_join(columns, 0.85, weights=weights, scorers=SCORERS, workers=2)
    chosen = rng.choice([s for _, _, s in found] or [0.9])
    threshold = rng.choice([chosen, neighbour(chosen, 1), neighbour(chosen, -1)])
    # rows with partners near the threshold, and rows at random
    sample = rng.sample([i for i, _, _ in found], min(samples // 2, len(found))) + rng.sample(range(rows), samples)
    scores = {row: record_scores(singles, weights, people[row], rows) for row in sample}
    pairs = pj.self_join(columns, threshold, weights=weights, scorers=SCORERS, workers=2)
    by_first = {}
    for i, j, score in pairs:
        by_first.setdefault(i, []).append((j, score))
    for row in sample:
        want = sorted(expected(scores[row], None, threshold, after=row))
        if by_first.get(row, []) != want:
            return f"self_join row {row} threshold={threshold!r}\n got {by_first.get(row, [])[:5]}\n expected {want[:5]}"
    if pj.clusters(columns, threshold, weights=weights, scorers=SCORERS, workers=2) != components(rows, pairs):
        return f"clusters at threshold={threshold!r} differ from the components of self_join"
    print(f"  self_join at {threshold!r}: {len(pairs)} pairs, {len(sample)} rows checked", flush=True)
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--queries", type=int, default=12)
    parser.add_argument("--samples", type=int, default=8)
    parser.add_argument("--seed", type=int, default=21)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    people = register.people(args.rows, seed=args.seed)
    columns = {field: [person[field] for person in people] for field in FIELDS}
    queries = [register.typo_record(rng.choice(people), rng) for _ in range(args.queries)]
    for weights in ROUNDS:
        start = time.monotonic()
        index = pj.Index(columns, weights=weights, scorers=SCORERS)
        singles = {f: pj.Index(columns[f], scorer=index.scorers[f]) for f in FIELDS}
        problem = (check_top_k(index, singles, weights, queries, args.rows, rng)
                   or check_self_join(columns, singles, weights, people, args.samples, rng))
        if problem:
            print("DIFFERENCE (weights %s)\n%s" % (weights, problem))
            return 1
        print(f"weights {weights}: {args.queries} queries and {args.samples} rows agree "
              f"({time.monotonic() - start:.0f} s)", flush=True)
    print(f"ok: {args.rows} records")
    return 0


if __name__ == "__main__":
    sys.exit(main())
