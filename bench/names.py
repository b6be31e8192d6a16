"""Deterministic generator of realistic person and place names for the benchmarks.

Every function takes a seed (or a random.Random) so that two runs, and the
subprocesses of one run, see exactly the same data.

- names(n, seed): person and place names of 5 to 30 characters; about a third
  carry accented or other non-ASCII letters; most are title-cased, some upper-
  and some lower-cased.
- noisy_variant(name, rng): the kind of query a user types for a name: typos,
  swapped, missing or extra letters, missing accents, another letter case.
- fixed_length_names(n, length, seed, ascii_only): names of exactly `length`
  characters, for the per-pair cost measurement; the non-ASCII ones keep at
  least one non-ASCII letter even after their accents are removed, so the
  non-ASCII path of the kernels is really taken.
- text(n_chars, seed): a long run of names separated by spaces, for W5.
- one_name(length, seed, accented) and substitutions(name, n, seed): one name of
  exactly `length` characters and n variants of it, each one or two letters typed
  on a neighbouring key: texts all of one length and all alike, which no bound can
  tell apart (the no-prune batches).

Run `python bench/names.py` to print a sample, `python bench/names.py --check` to
check the properties above.
"""

import random
import unicodedata

MIN_LEN = 5
MAX_LEN = 30

FIRST_NAMES = [
    "Anna", "Maria", "John", "James", "Robert", "Linda", "Michael", "Sarah",
    "David", "Laura", "Peter", "Emma", "Thomas", "Olivia", "Daniel", "Sophie",
    "Mark", "Julia", "Paul", "Helen", "George", "Alice", "Henry", "Claire",
    "Oliver", "Grace", "William", "Lucy", "Edward", "Hannah", "Martin", "Nina",
    "Carlos", "Lucia", "Pablo", "Elena", "Marco", "Giulia", "Luca", "Chiara",
    "Hans", "Greta", "Klaus", "Ingrid", "Pieter", "Anouk", "Lars", "Karin",
    "Ivan", "Olga", "Dmitri", "Tatiana", "Ahmed", "Fatima", "Omar", "Leila",
    "Kenji", "Yuki", "Wei", "Mei", "Arjun", "Priya", "Samuel", "Rachel",
    "Victor", "Irene", "Felix", "Nora", "Hugo", "Ella", "Oscar", "Ada",
]
FIRST_NAMES_ACCENTED = [
    "José", "Zoë", "Chloé", "Renée", "André", "Björn", "Jürgen", "Søren",
    "François", "Noël", "Inés", "Raúl", "Ángel", "Mónica", "Iñaki", "Begoña",
    "Jérôme", "Hélène", "Çağla", "Şükrü", "Håkon", "Åsa", "Øystein", "Jiří",
    "Tomáš", "Łukasz", "Małgorzata", "Dénes", "Göran", "Eliška", "Joël", "Aurélie",
]
SURNAMES = [
    "Smith", "Johnson", "Brown", "Taylor", "Wilson", "Clark", "Lewis", "Walker",
    "Hall", "Young", "King", "Wright", "Green", "Baker", "Adams", "Nelson",
    "Hill", "Campbell", "Mitchell", "Roberts", "Carter", "Phillips", "Evans",
    "Turner", "Torres", "Garcia", "Martinez", "Lopez", "Rossi", "Russo", "Bianchi",
    "Romano", "Schmidt", "Schneider", "Fischer", "Weber", "Becker", "Wagner",
    "Jansen", "DeVries", "Bakker", "Visser", "Larsen", "Nilsen", "Hansen",
    "Petrov", "Ivanova", "Sokolov", "Haddad", "Nasser", "Tanaka", "Sato",
    "Nakamura", "Chen", "Wang", "Patel", "Sharma", "O'Brien", "MacDonald",
    "Fitzgerald", "Van der Berg", "De la Cruz", "Kowalski", "Novak", "Horvat",
]
SURNAMES_ACCENTED = [
    "Müller", "Schäfer", "Köhler", "Groß", "Peña", "Muñoz", "Ibáñez", "Núñez",
    "Gonçalves", "Conceição", "Lefèvre", "Dupré", "Béranger", "Gauthier-Lemaître",
    "Sørensen", "Jørgensen", "Åberg", "Lindström", "Söderberg", "Nyström",
    "Dvořák", "Novotný", "Wałęsa", "Żukowski", "Öztürk", "Yılmaz", "Çelik",
    "Þórsdóttir", "Guðmundsson", "Ævarsson", "García Márquez", "Fernández",
]
PLACE_STEMS = [
    "York", "Boston", "Denver", "Austin", "Dallas", "Portland", "Lincoln",
    "Bristol", "Leeds", "Oxford", "Cambridge", "Dover", "Chester", "Bath",
    "Madrid", "Toledo", "Sevilla", "Granada", "Valencia", "Porto", "Lisboa",
    "Milano", "Torino", "Napoli", "Verona", "Firenze", "Bologna", "Genova",
    "Hamburg", "Bremen", "Dresden", "Leipzig", "Mainz", "Hannover", "Kassel",
    "Utrecht", "Leiden", "Haarlem", "Delft", "Bergen", "Oslo", "Aarhus",
    "Uppsala", "Lund", "Riga", "Tallinn", "Krakow", "Gdansk", "Brno", "Graz",
    "Lyon", "Nantes", "Rennes", "Dijon", "Nancy", "Metz", "Lille", "Nice",
    "Springfield", "Riverside", "Fairview", "Georgetown", "Greenville",
]
PLACE_STEMS_ACCENTED = [
    "Zürich", "München", "Köln", "Düsseldorf", "Nürnberg", "Göttingen",
    "Münster", "Saarbrücken", "Besançon", "Orléans", "Nîmes", "Angoulême",
    "Béziers", "Évian", "Mâcon", "Córdoba", "Cádiz", "Málaga", "León",
    "Logroño", "A Coruña", "Bogotá", "Medellín", "Asunción", "São Paulo",
    "Brasília", "Maceió", "Göteborg", "Malmö", "Västerås", "Tromsø",
    "Ærøskøbing", "Ålesund", "Kraków", "Łódź", "Poznań", "Plzeň", "České Budějovice",
    "Reykjavík", "Akureyri", "İzmir", "Eskişehir", "Cluj-Napoca", "Brașov",
    "Timișoara", "Pécs", "Győr", "Montréal", "Québec", "Trois-Rivières",
]
PLACE_PREFIXES = ["San", "Santa", "Saint", "Sankt", "New", "Port", "Bad", "Villa", "Fort", "Lake", "North", "South", "East", "West", "Mount", "Porto"]
PLACE_SUFFIXES = ["-sur-Mer", " Heights", " Falls", "-on-Sea", " City", " Springs", " Harbour", "burg", "ville", "dorf", "field", "holm", "by"]

# Accents that a letter can take; used to put accents into otherwise ASCII names.
ACCENTS = {
    "a": "áàâäåã", "e": "éèêë", "i": "íìîï", "o": "óòôöõ", "u": "úùûü",
    "n": "ñń", "c": "çč", "s": "šş", "z": "žż", "y": "ýÿ", "r": "ř", "g": "ğ",
}
# Letters that stay non-ASCII when accents are removed (no canonical decomposition).
NON_DECOMPOSING = "øæłđßðþœ"

# Neighbours on a QWERTY keyboard, for typos.
KEYBOARD_ROWS = ["qwertyuiop", "asdfghjkl", "zxcvbnm"]


def _keyboard_neighbours():
    table = {}
    for r, row in enumerate(KEYBOARD_ROWS):
        for i, ch in enumerate(row):
            near = set()
            for rr in (r - 1, r, r + 1):
                if 0 <= rr < len(KEYBOARD_ROWS):
                    other = KEYBOARD_ROWS[rr]
                    for j in (i - 1, i, i + 1):
                        if 0 <= j < len(other) and other[j] != ch:
                            near.add(other[j])
            table[ch] = "".join(sorted(near))
    return table


NEIGHBOURS = _keyboard_neighbours()


def strip_accents(s):
    """The string without its combining marks (what a user without accent keys types)."""
    decomposed = unicodedata.normalize("NFD", s)
    return unicodedata.normalize("NFC", "".join(c for c in decomposed if not unicodedata.combining(c)))


def is_ascii(s):
    return all(ord(c) < 128 for c in s)


def _inject_accent(s, rng):
    """Put one accent on a letter that can take one, keeping the letter case."""
    spots = [i for i, c in enumerate(s) if c.lower() in ACCENTS]
    if not spots:
        return s
    i = rng.choice(spots)
    accented = rng.choice(ACCENTS[s[i].lower()])
    if s[i].isupper():
        accented = accented.upper()
    return s[:i] + accented + s[i + 1:]


def _person(rng, accented):
    first_pool = FIRST_NAMES_ACCENTED if accented and rng.random() < 0.5 else FIRST_NAMES
    last_pool = SURNAMES_ACCENTED if accented and rng.random() < 0.6 else SURNAMES
    first = rng.choice(first_pool)
    last = rng.choice(last_pool)
    shape = rng.random()
    if shape < 0.55:
        name = f"{first} {last}"
    elif shape < 0.7:
        name = f"{first} {rng.choice(FIRST_NAMES)[0]}. {last}"
    elif shape < 0.82:
        name = f"{last}, {first}"
    elif shape < 0.92:
        name = f"{first}-{rng.choice(first_pool)} {last}"
    else:
        name = f"{first} {last}-{rng.choice(last_pool)}"
    return name


def _place(rng, accented):
    pool = PLACE_STEMS_ACCENTED if accented and rng.random() < 0.7 else PLACE_STEMS
    stem = rng.choice(pool)
    shape = rng.random()
    if shape < 0.4:
        name = stem
    elif shape < 0.65:
        name = f"{rng.choice(PLACE_PREFIXES)} {stem}"
    elif shape < 0.85:
        name = stem + rng.choice(PLACE_SUFFIXES)
    else:
        name = f"{stem} {rng.choice(['am Main', 'an der Elbe', 'de Bretagne', 'del Mar', 'upon Tyne', 'de la Sierra', 'im Tal'])}"
    return name


def _case(name, rng):
    roll = rng.random()
    if roll < 0.6:
        return name  # title case as written
    if roll < 0.8:
        return name.upper()
    return name.lower()


def name(rng, accented=None):
    """One person or place name of MIN_LEN to MAX_LEN characters."""
    if accented is None:
        accented = rng.random() < 1 / 3
    while True:
        raw = _person(rng, accented) if rng.random() < 0.6 else _place(rng, accented)
        if accented and is_ascii(raw):
            raw = _inject_accent(raw, rng)
            if is_ascii(raw):
                continue
        out = _case(raw, rng)  # after which ß may have become SS
        if is_ascii(out) == accented:
            continue
        if MIN_LEN <= len(out) <= MAX_LEN:
            return out


def names(n, seed=0):
    """n names; exactly every third one (in a shuffled order) carries non-ASCII letters."""
    rng = random.Random(f"names-{seed}")
    flags = [i % 3 == 0 for i in range(n)]
    rng.shuffle(flags)
    return [name(rng, accented=f) for f in flags]


def noisy_variant(s, rng, edits=None):
    """A query as a user would type it for the name s."""
    if edits is None:
        edits = rng.choice((1, 1, 2, 2, 3))
    out = s
    for _ in range(edits):
        kind = rng.random()
        letters = [i for i, c in enumerate(out) if c.isalpha()]
        if not letters:
            break
        i = rng.choice(letters)
        if kind < 0.3:  # typo: a neighbouring key
            c = out[i]
            near = NEIGHBOURS.get(c.lower())
            if near:
                r = rng.choice(near)
                out = out[:i] + (r.upper() if c.isupper() else r) + out[i + 1:]
        elif kind < 0.5 and i + 1 < len(out):  # two letters swapped
            out = out[:i] + out[i + 1] + out[i] + out[i + 2:]
        elif kind < 0.65 and len(out) > MIN_LEN:  # a letter missing
            out = out[:i] + out[i + 1:]
        elif kind < 0.75:  # a letter doubled
            out = out[:i] + out[i] + out[i:]
        elif kind < 0.88:  # accents missing
            out = strip_accents(out)
        else:  # another letter case
            out = rng.choice((str.lower, str.upper, str.title))(out)
    return out


def queries(candidates, n, seed=0):
    """n noisy variants of candidates picked at random (with replacement)."""
    rng = random.Random(f"queries-{seed}")
    return [noisy_variant(rng.choice(candidates), rng) for _ in range(n)]


def pairs(n, seed=0):
    """n (name, noisy variant of it) pairs, for the one-pair-per-call workload."""
    base = names(n, seed)
    rng = random.Random(f"pairs-{seed}")
    return [(a, noisy_variant(a, rng)) for a in base]


def _letters_only(s):
    return "".join(c if c.isalpha() else " " for c in s)


def fixed_length_names(n, length=12, seed=0, ascii_only=True):
    """n title-cased names of exactly `length` characters.

    The ASCII ones are plain letters and spaces. The non-ASCII ones are the same
    kind of names with one or two accented letters and one letter
    that has no decomposition (ø, æ, ł, ß, ...), so they stay non-ASCII after
    accent removal.
    """
    rng = random.Random(f"fixed-{length}-{ascii_only}-{seed}")
    out = []
    while len(out) < n:
        raw = _letters_only(strip_accents(_person(rng, False) if rng.random() < 0.6 else _place(rng, False)))
        raw = " ".join(raw.split())
        if not is_ascii(raw):
            continue
        if len(raw) < length:
            raw = (raw + " " + rng.choice(SURNAMES).replace("'", "")).strip()
        if len(raw) < length:
            continue
        raw = raw[:length]
        if raw[-1] == " " or raw[0] == " ":
            continue
        if not ascii_only:
            s = raw
            for _ in range(rng.choice((1, 2))):
                s = _inject_accent(s, rng)
            spots = [i for i, c in enumerate(s) if c.isalpha() and is_ascii(c)]
            if not spots:
                continue
            for i in rng.sample(spots, 1):
                c = rng.choice(NON_DECOMPOSING)
                s = s[:i] + (c.upper() if s[i].isupper() and c != "ß" else c) + s[i + 1:]
            raw = s
            if is_ascii(strip_accents(raw).lower()):
                continue
        assert len(raw) == length
        out.append(raw)
    return out


def one_name(length, seed=0, accented=False):
    """A name of exactly `length` characters: words of person and place names run
    together. An accented one carries two accents and one letter without a
    decomposition, so that it stays non-ASCII once normalised."""
    rng = random.Random(f"one-name-{length}-{accented}-{seed}")
    while True:
        words = []
        while len(" ".join(words)) < length:
            words.append(_letters_only(strip_accents(_person(rng, False) if rng.random() < 0.6 else _place(rng, False))))
        raw = " ".join(" ".join(words).split())[:length]
        if len(raw) != length or raw != raw.strip() or not is_ascii(raw):
            continue
        if not accented:
            return raw
        s = _inject_accent(_inject_accent(raw, rng), rng)
        spots = [i for i, c in enumerate(s) if c.isalpha() and is_ascii(c)]
        i = rng.choice(spots)
        s = s[:i] + rng.choice(NON_DECOMPOSING) + s[i + 1:]
        if not is_ascii(strip_accents(s).lower()) and len(s) == length:
            return s


def substitutions(name, n, seed=0):
    """n variants of name, each with one or two letters replaced by a neighbouring key
    (keeping the letter case); none equal to name up to case and accents."""
    rng = random.Random(f"substitutions-{seed}")
    same = strip_accents(name).lower()
    spots = [i for i, c in enumerate(name) if c.lower() in NEIGHBOURS]
    out = []
    while len(out) < n:
        s = list(name)
        for i in rng.sample(spots, rng.choice((1, 2))):
            r = rng.choice(NEIGHBOURS[s[i].lower()])
            s[i] = r.upper() if s[i].isupper() else r
        v = "".join(s)
        if strip_accents(v).lower() != same:
            out.append(v)
    return out


def text(n_chars, seed=0):
    """About n_chars characters of names separated by spaces, cut to exactly n_chars."""
    rng = random.Random(f"text-{seed}")
    parts = []
    total = 0
    while total < n_chars:
        s = name(rng)
        parts.append(s)
        total += len(s) + 1
    return " ".join(parts)[:n_chars]


def noisy_text(s, seed=0, rate=0.05):
    """s with about `rate` of its characters edited (substituted, dropped or inserted)."""
    rng = random.Random(f"noisy-text-{seed}")
    out = []
    for c in s:
        r = rng.random()
        if r < rate / 3:
            out.append(rng.choice("abcdefghijklmnopqrstuvwxyzéøü "))
        elif r < 2 * rate / 3:
            continue
        elif r < rate:
            out.append(c)
            out.append(rng.choice("abcdefghijklmnopqrstuvwxyz"))
        else:
            out.append(c)
    return "".join(out)


def describe(sample):
    """Share of non-ASCII, upper-cased and lower-cased names, and the length range."""
    n = len(sample)
    return {
        "count": n,
        "non_ascii": sum(not is_ascii(s) for s in sample) / n,
        "upper": sum(s.isupper() for s in sample) / n,
        "lower": sum(s.islower() for s in sample) / n,
        "min_len": min(map(len, sample)),
        "max_len": max(map(len, sample)),
    }


def check():
    """The promises above, on a few thousand names; raises AssertionError if one is broken."""
    sample = names(3000, seed=7)
    assert sample == names(3000, seed=7), "not deterministic"
    assert all(MIN_LEN <= len(s) <= MAX_LEN for s in sample)
    assert sum(not is_ascii(s) for s in sample) == 1000
    profile = describe(sample)
    assert 0.15 < profile["upper"] < 0.25 and 0.15 < profile["lower"] < 0.25, profile
    assert all(s == s.strip() and "  " not in s for s in sample)
    rng = random.Random(7)
    variants = [noisy_variant(s, rng) for s in sample]
    assert sum(v != s for v, s in zip(variants, sample)) > 0.9 * len(sample)
    for ascii_only in (True, False):
        fixed = fixed_length_names(500, 12, seed=7, ascii_only=ascii_only)
        assert all(len(s) == 12 and s == s.strip() for s in fixed)
        assert all(is_ascii(s) == ascii_only for s in fixed)
        # The non-ASCII ones keep a non-ASCII letter once accents and case are gone.
        assert all(is_ascii(strip_accents(s).lower()) == ascii_only for s in fixed)
    for length, accented in ((10, False), (17, True), (38, False)):
        base = one_name(length, seed=7, accented=accented)
        family = substitutions(base, 200, seed=7)
        assert len(base) == length and all(len(v) == length for v in family)
        assert is_ascii(strip_accents(base).lower()) != accented
        assert all(1 <= sum(x != y for x, y in zip(v, base)) <= 2 for v in family)
    t = text(5000, seed=7)
    assert len(t) == 5000 and abs(len(noisy_text(t, seed=7)) - 5000) < 200


if __name__ == "__main__":
    import sys

    if "--check" in sys.argv:
        check()
        print("names: all checks passed")
        sys.exit(0)
    sample = names(30, seed=1)
    rng = random.Random(1)
    for s in sample:
        print(f"{s!r:34} {noisy_variant(s, rng)!r}")
    print(describe(names(10000)))
    print(fixed_length_names(5), fixed_length_names(5, ascii_only=False))
