"""Plain Python model of normalisation and of the four similarity measures.

Written straight from the algorithms, for differential tests of the native module.
Python floats are IEEE doubles, so with the same order of operations the model gives
the same bits. The hypothesis strategies at the end generate text for which the
model's normalisation is valid (characters whose Unicode data has not changed since
Unicode 13, so the interpreter's older unicodedata tables agree with Unicode 17).
"""

import struct
import unicodedata

from hypothesis import strategies as st

WHITE_SPACE = frozenset(
    chr(cp)
    for cp in (*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
               0x2028, 0x2029, 0x202F, 0x205F, 0x3000)
)
assert len(WHITE_SPACE) == 25

_MARKS = ("Mn", "Mc", "Me")


def normalize_model(text):
    """Trim White_Space, full lowercase (str.lower applies Final_Sigma), NFD, drop marks, NFC.

    Valid only for the alphabet of texts(): str.strip() would also trim U+001C..U+001F.
    """
    start, end = 0, len(text)
    while start < end and text[start] in WHITE_SPACE:
        start += 1
    while end > start and text[end - 1] in WHITE_SPACE:
        end -= 1
    decomposed = unicodedata.normalize("NFD", text[start:end].lower())
    kept = "".join(c for c in decomposed if unicodedata.category(c) not in _MARKS)
    return unicodedata.normalize("NFC", kept)


def edit_distance_model(a, b):
    """Levenshtein distance from the full (len(a) + 1) x (len(b) + 1) table."""
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        d[i][0] = i
    for j in range(len(b) + 1):
        d[0][j] = j
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            if a[i - 1] == b[j - 1]:
                d[i][j] = d[i - 1][j - 1]
            else:
                d[i][j] = 1 + min(d[i - 1][j - 1], d[i - 1][j], d[i][j - 1])
    return d[len(a)][len(b)]


def _double(hex_bits):
    return struct.unpack(">d", bytes.fromhex(hex_bits))[0]


# Boost by common-prefix length 0..4; the entry for 3 is 3 * 0.1, one ulp above 0.3.
PREFIX_BOOST = tuple(_double(h) for h in (
    "0000000000000000", "3FB999999999999A", "3FC999999999999A", "3FD3333333333334", "3FD999999999999A"))
assert PREFIX_BOOST == (0.0, 0.1, 0.2, 3 * 0.1, 0.4) and PREFIX_BOOST[3] != 0.3


def jaro_winkler_model(a, b):
    """Jaro-Winkler: greedy first-fit matching from a, fractional half-transpositions, boost at any J."""
    n, m = len(a), len(b)
    if n == 0:
        return 1.0 if m == 0 else 0.0
    if m == 0:
        return 0.0
    half = max(n, m) // 2
    window = half - 1 if half >= 1 else 0
    a_matched = [False] * n
    b_matched = [False] * m
    matches = 0
    for j in range(n):
        for k in range(max(0, j - window), min(m, j + window + 1)):
            if not b_matched[k] and a[j] == b[k]:
                a_matched[j] = b_matched[k] = True
                matches += 1
                break
    if matches == 0:
        return 0.0
    a_order = [c for c, f in zip(a, a_matched) if f]
    b_order = [c for c, f in zip(b, b_matched) if f]
    mismatched = sum(x != y for x, y in zip(a_order, b_order))

    md = float(matches)
    t = float(mismatched) * -0.5
    u = (t + md) / md
    r1 = md / float(n)
    r2 = md / float(m)
    s = r2 + r1
    jaro = (u + s) / 3.0

    prefix = 0
    while prefix < min(4, n, m) and a[prefix] == b[prefix]:
        prefix += 1
    return ((1.0 - jaro) * PREFIX_BOOST[prefix]) + jaro


def trigrams_model(text):
    """The runs of three consecutive characters, in order, duplicates kept."""
    return [text[i:i + 3] for i in range(len(text) - 2)]


def trigram_model(a, b):
    """Dice coefficient over trigram multisets, matched through a count table filled from a."""
    left, right = trigrams_model(a), trigrams_model(b)
    if not left and not right:
        return 1.0
    if not left or not right:
        return 0.0
    counts = {}
    for gram in left:
        counts[gram] = counts.get(gram, 0) + 1
    common = 0
    for gram in right:
        if counts.get(gram, 0) > 0:
            counts[gram] -= 1
            common += 1
    return (float(common) + float(common)) / float(len(left) + len(right))


def weighted_model(a, b):
    """Combined score t*0.25 + (j*0.4 + Levenshtein part) of two normalised strings."""
    distance = edit_distance_model(a, b)
    longer = max(len(a), len(b))
    part = 0.35 if longer == 0 else (1.0 - float(distance) / float(longer)) * 0.35
    j = jaro_winkler_model(a, b)
    t = trigram_model(a, b)
    s = j * 0.4
    s = s + part
    return t * 0.25 + s


# ---- hypothesis strategies -------------------------------------------------------


def _ranges(*ranges):
    return st.one_of(*(st.integers(lo, hi).map(chr) for lo, hi in ranges))


# A few letters, drawn often, so that generated strings share characters.
_FEW = st.sampled_from("abcAB")
_ASCII = _ranges((0x20, 0x7E))
_NON_ASCII = _ranges(
    (0xC0, 0xFF), (0x100, 0x17F),                                   # Latin-1, Latin Extended-A
    (0x386, 0x38A), (0x38C, 0x38C), (0x38E, 0x3A1), (0x3A3, 0x3CE),  # Greek
    (0x400, 0x45F),                                                 # Cyrillic
    (0x4E00, 0x4E0F), (0x65E5, 0x65E5), (0x672C, 0x672C),           # CJK
    (0xAC00, 0xAC0F), (0xD55C, 0xD55C),                             # Hangul syllables
    (0x1100, 0x1112), (0x1161, 0x1175), (0x11A8, 0x11C2),           # conjoining jamo
)
# Sigma in every context: after and before cased letters, apostrophes, marks.
_GREEK_CASE = st.sampled_from("\u03a3\u03c3\u03c2\u039f\u0394\u0391'.\u0130")
_ASTRAL = _ranges((0x1F600, 0x1F64F))
# U+0345 is left out: it is both Cased and Case_Ignorable, where Final_Sigma readings differ.
_COMBINING = st.integers(0x300, 0x36F).filter(lambda cp: cp != 0x345).map(chr)
WHITE = st.sampled_from(sorted(WHITE_SPACE))
# Look like whitespace but are not White_Space, so they are never trimmed.
_NOT_WHITE = st.sampled_from(["\x1c", "\x1d", "\x1e", "\x1f", "\u180e", "\u200b", "\ufeff"])

CHARACTERS = st.one_of(_FEW, _FEW, _FEW, _FEW, _ASCII, _NON_ASCII, _NON_ASCII, _GREEK_CASE,
                       _ASTRAL, _COMBINING, WHITE, _NOT_WHITE)


def texts(max_size=12):
    """Raw text: empty, one to three characters, a repeated character, mixed, or wrapped in whitespace."""
    body = st.text(CHARACTERS, max_size=max_size)
    return st.one_of(
        st.just(""),
        st.text(CHARACTERS, min_size=1, max_size=3),
        st.builds(lambda c, k: c * k, CHARACTERS, st.integers(1, 8)),
        body,
        st.builds(lambda left, s, right: left + s + right,
                  st.text(WHITE, min_size=1, max_size=3), body, st.text(WHITE, max_size=3)),
    )


@st.composite
def text_pairs(draw, max_size=12):
    """Two raw texts, either unrelated or the second a few edits away from the first."""
    a = draw(texts(max_size))
    if draw(st.booleans()):
        return a, draw(texts(max_size))
    b = list(a)
    for _ in range(draw(st.integers(0, 3))):
        op = draw(st.sampled_from("isdtc"))
        pos = draw(st.integers(0, len(b)))
        if op == "i":
            b.insert(pos, draw(CHARACTERS))
        elif b:
            pos = min(pos, len(b) - 1)
            if op == "s":
                b[pos] = draw(CHARACTERS)
            elif op == "d":
                del b[pos]
            elif op == "t" and pos + 1 < len(b):
                b[pos], b[pos + 1] = b[pos + 1], b[pos]
            elif op == "c":
                b[pos] = b[pos].swapcase()
    b = "".join(b)
    return (b, a) if draw(st.booleans()) else (a, b)
