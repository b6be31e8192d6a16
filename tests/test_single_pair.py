"""A single pair is scored without the preparation for many candidates: it must give the
very bits that the prepared search gives, and that the plain model gives, on both sides of
every length where the scoring changes strategy."""

import random

from hypothesis import given, settings
from hypothesis import strategies as st

import pelgar
from model import normalize_model, weighted_model

# Normalised lengths around the 16-character chunk and the 64-character word.
BOUNDARY_LENGTHS = [0, 1, 2, 3, 4, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129]

ALPHABETS = [
    "ab",                                    # repeated trigrams everywhere
    "abcdefghijklmnopqrstuvwxyz ",
    "aB \u00e9\u00df\u00ff\u00c5",           # Latin-1 with case and accents
    "\u65e5\u672c\u8a9ea\u0153\u0100",       # wider than Latin-1
    "a\U0001F600b\u00ff\u0100",              # astral
]


def _edited(rng, text, alphabet):
    chars = list(text)
    for _ in range(rng.randrange(4)):
        op = rng.randrange(3)
        if op == 0 or not chars:
            chars.insert(rng.randrange(len(chars) + 1), rng.choice(alphabet))
        elif op == 1:
            del chars[rng.randrange(len(chars))]
        else:
            chars[rng.randrange(len(chars))] = rng.choice(alphabet)
    return "".join(chars)


@settings(max_examples=400, deadline=None)
@given(st.sampled_from(BOUNDARY_LENGTHS), st.sampled_from(BOUNDARY_LENGTHS), st.sampled_from(ALPHABETS),
       st.randoms(use_true_random=False), st.booleans())
def test_one_pair_equals_prepared_search_and_model(n, m, alphabet, rng, related):
    a = "".join(rng.choice(alphabet) for _ in range(n))
    b = _edited(rng, a, alphabet)[:m] if related else "".join(rng.choice(alphabet) for _ in range(m))
    one_pair = pelgar.combined_score(a, b)
    assert one_pair == weighted_model(normalize_model(a), normalize_model(b))
    # The search prepares the query for many candidates; the pair must agree bit for bit.
    assert pelgar.best_match(a, [b]) == (b, one_pair)
    assert pelgar.rank_matches(a, [b, b]) == [(b, one_pair), (b, one_pair)]
    assert pelgar.batch_best_match([a], [b]) == [(b, one_pair)]


def test_repeated_trigram_queries_score_alike_alone_and_in_a_list():
    # A query with repeated trigrams pairs them off one by one; one without takes a shortcut
    # when prepared for many candidates. Both ways must give the single pair's score.
    rng = random.Random(12)
    for query in ["abababab", "aaaaaa", "abcabcabc", "abcdefgh", "xyzxyz" * 10, "q" * 64]:
        candidates = [_edited(rng, query, "abcxyzq") for _ in range(200)]
        ranked = pelgar.rank_matches(query, candidates)
        expected = sorted(((c, pelgar.combined_score(query, c)) for c in candidates), key=lambda m: -m[1])
        assert ranked == expected
