"""Soak of pelgar_join against brute force over pelgar's own functions.

usage: python tools/join_soak.py [--lists N] [--seed S] [--max-size M]

Random lists of near-duplicates, case and accent variants, empty and whitespace-only
texts, one- and two-character strings, long texts and missing values; for each, a random
scorer, k and threshold (often an actual score or its neighbouring doubles): top_k,
self_join and clusters must equal brute force, bit for bit, on one and on two workers.
Stops at the first difference and prints it. Needs the package installed.
"""

import argparse
import math
import random
import struct
import sys

import pelgar
import pelgar_join as pj

SCORE = {"combined": pelgar.combined_score, "token_sort": pelgar.token_sort_ratio,
         "token_set": pelgar.token_set_ratio}
WORDS = ["anna", "Anna", "ÅNNA", "smith", "smyth", "de", "la", "x", "ab", "müller", "muller", "jo"]


def missing(x):
    return x is None or (isinstance(x, float) and math.isnan(x))


def neighbour(x, direction):
    bits = struct.unpack("<q", struct.pack("<d", x))[0]
    if x == 0.0:
        return 5e-324 * direction
    bits += 1 if (x > 0) == (direction > 0) else -1
    return struct.unpack("<d", struct.pack("<q", bits))[0]


def random_text(rng):
    kind = rng.randrange(10)
    if kind == 0:
        return rng.choice([None, float("nan"), "", " ", "\t\u3000"])
    if kind == 1:
        return "".join(rng.choice("abé") for _ in range(rng.randint(1, 2)))
    if kind == 2:
        return "".join(rng.choice("ab ") for _ in range(rng.randint(30, 80)))
    text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 3)))
    if rng.random() < 0.3:
        pos = rng.randrange(len(text) + 1)
        text = text[:pos] + rng.choice("aeiouxz") + text[pos:]
    return rng.choice([text, text.upper(), "  " + text])


def brute(texts, scorer):
    score = SCORE[scorer]
    return {(i, j): score(texts[i], texts[j]) for i in range(len(texts)) for j in range(len(texts))
            if not missing(texts[i]) and not missing(texts[j])}


def labels_of(count, pairs):
    labels = list(range(count))
    for _ in range(count):
        for i, j, _s in pairs:
            labels[i] = labels[j] = min(labels[i], labels[j])
    return labels


def components(count, pairs):
    """Per row, the smallest row joined to it through the pairs; for lists too long for labels_of."""
    labels = list(range(count))

    def root(x):
        while labels[x] != x:
            labels[x] = labels[labels[x]]
            x = labels[x]
        return x

    for i, j, _ in pairs:
        a, b = root(i), root(j)
        labels[max(a, b)] = min(a, b)
    return [root(x) for x in range(count)]


def check(texts, scorer, k, threshold, workers):
    scores = brute(texts, scorer)
    pairs = [(i, j, s) for (i, j), s in sorted(scores.items()) if i < j and s >= threshold]
    got = pj.self_join(texts, threshold, scorer=scorer, workers=workers)
    if got != pairs or [s.hex() for *_, s in got] != [s.hex() for *_, s in pairs]:
        return "self_join", got, pairs
    if pj.clusters(texts, threshold, scorer=scorer, workers=workers) != labels_of(len(texts), pairs):
        return "clusters", None, None
    expected = []
    for q in range(len(texts)):
        found = sorted(((c, scores[q, c]) for c in range(len(texts)) if (q, c) in scores
                        and scores[q, c] >= threshold), key=lambda item: (-item[1], item[0]))
        expected.append([] if missing(texts[q]) else (found if k is None else found[:k]))
    got = pj.Index(texts, scorer=scorer).top_k(texts, k=k, threshold=threshold, workers=workers)
    if got != expected:
        return "top_k", got, expected
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lists", type=int, default=10000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--max-size", type=int, default=14)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    for number in range(args.lists):
        texts = [random_text(rng) for _ in range(rng.randint(0, args.max_size))]
        scorer = rng.choice(list(SCORE))
        present = [t for t in texts if not missing(t)]
        scores = [SCORE[scorer](a, b) for a in present[:4] for b in present]
        threshold = rng.choice([0.0, 0.5, 0.75, 0.8, 0.85, 0.9, 1.0, math.nan] + scores * 2)
        if rng.random() < 0.4 and not math.isnan(threshold):
            threshold = neighbour(threshold, rng.choice((-1, 1)))
        k = rng.choice([1, 2, 3, 5, None])
        failure = check(texts, scorer, k, threshold, rng.choice((1, 2)))
        if failure:
            print("DIFFERENCE in %s for list %d: texts=%r scorer=%s k=%s threshold=%r\n got      %r\n expected %r"
                  % (failure[0], number, texts, scorer, k, threshold, failure[1], failure[2]))
            return 1
    print("%d lists agree" % args.lists)
    return 0


if __name__ == "__main__":
    sys.exit(main())
