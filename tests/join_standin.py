"""A plain, brute-force stand-in for pelgar_join's Index, self_join and clusters.

Every score comes from pelgar's own pair functions, query first. It is slow and
obviously right: tests compare the table, file and engine layers with it.
"""

import math

import pelgar

SCORERS = {
    "combined": pelgar.combined_score,
    "token_sort": pelgar.token_sort_ratio,
    "token_set": pelgar.token_set_ratio,
}


def is_missing(value):
    return value is None or (isinstance(value, float) and math.isnan(value))


class Index:
    def __init__(self, candidates, *, scorer="combined"):
        if scorer not in SCORERS:
            raise ValueError(f"unknown scorer {scorer!r}")
        self.candidates = list(candidates)
        self.scorer = scorer

    def __len__(self):
        return len(self.candidates)

    def __reduce__(self):
        return (_rebuild, (self.candidates, self.scorer))

    def top_k(self, queries, k=1, *, threshold=0.0, workers=None, progress=None):
        score = SCORERS[self.scorer]
        queries = list(queries)
        answers = []
        for done, query in enumerate(queries, 1):
            found = []
            if not is_missing(query):
                for position, candidate in enumerate(self.candidates):
                    if is_missing(candidate):
                        continue
                    value = score(query, candidate)
                    if value >= threshold:
                        found.append((position, value))
            found.sort(key=lambda pair: (-pair[1], pair[0]))
            answers.append(found[:k])
            if progress is not None:
                progress(done, len(queries))
        if progress is not None and not queries:
            progress(0, 0)
        return answers


def _rebuild(candidates, scorer):
    return Index(candidates, scorer=scorer)


def self_join(texts, threshold, *, scorer="combined", workers=None, progress=None):
    texts = list(texts)
    score = SCORERS[scorer]
    pairs = []
    for i, a in enumerate(texts):
        for j in range(i + 1, len(texts)):
            b = texts[j]
            if is_missing(a) or is_missing(b):
                continue
            value = score(a, b)
            if value >= threshold:
                pairs.append((i, j, value))
        if progress is not None:
            progress(i + 1, len(texts))
    return sorted(pairs)


def clusters(texts, threshold, *, scorer="combined", workers=None, progress=None):
    texts = list(texts)
    parent = list(range(len(texts)))

    def root(i):
        while parent[i] != i:
            i = parent[i]
        return i

    for i, j, _ in self_join(texts, threshold, scorer=scorer, workers=workers, progress=progress):
        a, b = root(i), root(j)
        parent[max(a, b)] = min(a, b)
    return [root(i) for i in range(len(texts))]


def install_if_absent(module):
    """Give `module` the model's functions where the native ones are not there yet."""
    for name, value in (("Index", Index), ("self_join", self_join), ("clusters", clusters)):
        if not hasattr(module, name):
            setattr(module, name, value)
