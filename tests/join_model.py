"""Brute-force answers for pelgar_join, from the nine functions of pelgar, and
hypothesis strategies for candidate lists that stress its pruning."""

import math
import random
import struct

import pelgar
from hypothesis import strategies as st

import model

SCORE = {
    "combined": pelgar.combined_score,
    "token_sort": pelgar.token_sort_ratio,
    "token_set": pelgar.token_set_ratio,
}
SCORERS = tuple(SCORE)


def is_missing(value):
    return value is None or (isinstance(value, float) and math.isnan(value))


def next_double(x, direction):
    """math.nextafter(x, +-inf) for Python 3.8: the neighbouring double of a finite x."""
    if x == 0.0:
        tiny = struct.unpack("<d", struct.pack("<q", 1))[0]
        return tiny if direction > 0 else -tiny
    bits = struct.unpack("<q", struct.pack("<d", x))[0]
    bits += 1 if (x > 0) == (direction > 0) else -1
    return struct.unpack("<d", struct.pack("<q", bits))[0]


def top_k_brute(candidates, queries, k, threshold, scorer="combined"):
    score = SCORE[scorer]
    answers = []
    for query in queries:
        if is_missing(query):
            answers.append([])
            continue
        found = [(i, score(query, c)) for i, c in enumerate(candidates) if not is_missing(c)]
        found = [(i, s) for i, s in found if s >= threshold]
        found.sort(key=lambda item: (-item[1], item[0]))
        answers.append(found if k is None else found[:k])
    return answers


def self_join_brute(texts, threshold, scorer="combined"):
    score = SCORE[scorer]
    pairs = []
    for i, a in enumerate(texts):
        if is_missing(a):
            continue
        for j in range(i + 1, len(texts)):
            if not is_missing(texts[j]):
                s = score(a, texts[j])
                if s >= threshold:
                    pairs.append((i, j, s))
    return pairs


def clusters_of_pairs(count, pairs):
    labels = list(range(count))
    changed = True
    while changed:
        changed = False
        for i, j, _ in pairs:
            low = min(labels[i], labels[j])
            if labels[i] != low or labels[j] != low:
                labels[i] = labels[j] = low
                changed = True
    return labels


def interesting_thresholds(scores):
    """Actual scores and the doubles just above and below them, and a few fixed ones."""
    chosen = {0.0, 0.5, 0.75, 0.8, 0.85, 0.9, 1.0, next_double(0.75, 1)}
    for s in sorted(set(scores))[-6:]:
        chosen.update({s, next_double(s, 1), next_double(s, -1)})
    return sorted(chosen)


# ---- strategies ---------------------------------------------------------------

_SEEDS = ["Jonathan Smith", "Jon Smyth", "Zoë Ångström", "New York City", "city new york",
          "abc", "abd", "ab", "a", "Müller", "muller", "MÜLLER", "aaaa", "aaa", "the the the"]


@st.composite
def _variant(draw):
    """A seed with a few edits, a case change or accents stripped."""
    base = draw(st.sampled_from(_SEEDS))
    how = draw(st.sampled_from("same upper lower edit strip pad"))
    if how == "upper":
        return base.upper()
    if how == "lower":
        return base.lower()
    if how == "strip":
        return base.replace("ë", "e").replace("Å", "A").replace("ö", "o").replace("ü", "u").replace("Ü", "U")
    if how == "pad":
        return "  " + base + "\t"
    if how == "edit":
        chars = list(base)
        for _ in range(draw(st.integers(1, 3))):
            pos = draw(st.integers(0, len(chars)))
            chars.insert(pos, draw(st.sampled_from("aeiou xyz")))
        return "".join(chars)
    return base


ITEMS = st.one_of(
    _variant(), _variant(), _variant(),
    model.texts(max_size=10),
    st.sampled_from(["", " ", "\t\u3000", "x", "xy", "Ab", "aB"]),
    st.text(st.sampled_from("ab "), min_size=40, max_size=90),
    st.just(None), st.just(float("nan")),
)


def text_lists(min_size=0, max_size=25):
    return st.lists(ITEMS, min_size=min_size, max_size=max_size)


def tie_heavy_texts(count, seed):
    """Short texts over a small alphabet, so ties at the k-th place are common; an eighth missing."""
    chooser = random.Random(seed)
    made = ["".join(chooser.choice("abc ") for _ in range(chooser.randint(0, 5))) for _ in range(count)]
    for slot in chooser.sample(range(count), count // 8):
        made[slot] = None
    return made
