"""A register of person names as real ones look, for the join benchmarks.

    python bench/register.py            # a sample and the share of distinct keys

- register(n, seed): n person names from twelve locales (English, German, French, Spanish,
  Italian, Portuguese, Dutch, Polish, Nordic, Turkish, Russian and Chinese romanised), with
  given names and surnames drawn by a Zipf law, so common names repeat as in a real register
  (about 72 % distinct keys at a million); surnames are built from each locale's stems and
  endings, some with a middle initial, a second given name, a double surname or written
  "Surname, Given"; most title-cased, some upper- and some lower-cased.
- typo_queries(names, n, seed): one or two typos of a listed name each (a neighbouring key,
  two letters swapped, a letter dropped or doubled), a fifth of them upper-cased.
- people(n, seed): n records of a person: the name as above, a street address (number,
  a street named after a person or a place of the locale, the locale's word for street,
  sometimes a flat), a city drawn by a Zipf law from a few hundred (big cities repeat as in
  a register) and a date of birth (ISO); a twentieth of each field but the name missing.
- typo_record(record, rng): a query for a record: typos in some fields, others missing.
"""

import bisect
import itertools
import random

from names import NEIGHBOURS

LOCALES = {
    "en": ("James Mary John Patricia Robert Jennifer Michael Linda William Elizabeth David Barbara Richard Susan "
           "Joseph Jessica Thomas Sarah Charles Karen Christopher Nancy Daniel Lisa Matthew Margaret Anthony Betty "
           "Mark Sandra Donald Ashley Steven Emily Paul Donna Andrew Michelle Joshua Carol",
           "Smith Johns Williams Brown Jones Miller Davis Wilson Taylor Clark Hall Allen Young King Wright Hill Green "
           "Baker Adams Nelson Carter Mitchell Roberts Turner Phillips Campbell Parker Evans Edwards Collins Stew Morr "
           "Cook Rogers Reed Bell Murphy Bail Coop Richard Ward Brook Wood Hugh Fost",
           "|son|s|ton|ford|ley|well|field|er|man|wood|by"),
    "de": ("Lukas Anna Leon Lena Finn Emma Jonas Mia Paul Hannah Felix Sophie Maximilian Marie Elias Lea Noah Laura "
           "Luis Johanna Jürgen Ursula Klaus Renate Dieter Monika Uwe Karin Günter Helga",
           "Müll Schmid Schneid Fisch Web Mey Wagn Beck Schulz Hoffm Schäf Koch Bau Rich Klein Wolf Schröd Neum "
           "Schwarz Zimmerm Braun Krüg Hofm Hartm Lang Schmitt Wern Krause Mei Lehm Köhl Herrm Walt Kön Mayer Huber",
           "|er|mann|ner|ke|el|berg|feld|hardt|stein|bauer"),
    "fr": ("Jean Marie Pierre Nathalie Michel Isabelle Philippe Sylvie Alain Catherine Nicolas Françoise Éric "
           "Valérie Christophe Sandrine Stéphane Céline Laurent Hélène Sébastien Aurélie Frédéric Chloé Julien Léa "
           "Mathieu Camille Thierry Manon",
           "Mart Bern Dub Thom Rob Rich Petit Dur Leroy Moreau Simon Laur Lefèb Mich Garn Fourn Gir Bonn Dupont "
           "Lamb Fontaine Rousseau Vincent Mull Lefèvr Faure André Merc Blanc Guér Boyer Chevall",
           "|in|ard|et|eau|ier|on|ot|elle|and|ais"),
    "es": ("Antonio María José Carmen Manuel Ana Francisco Isabel David Laura Juan Cristina Javier Marta Daniel "
           "Lucía José Luis Elena Jesús Pilar Alejandro Rosa Miguel Raquel Rafael Sofía Pablo Paula Ángel Núria",
           "Garc Rodrígu Gonzál Fernánd Lóp Martín Sánch Pér Gómez Martínez Jimén Ruiz Hernánd Díaz Moreno Muñoz "
           "Álvarez Romero Alonso Gutiérrez Navarro Torres Domínguez Vázquez Ramos Gil Ramírez Serrano Blanco Suárez",
           "|ez|ía|o|es|ero|illa|ado|ón|ales|eda"),
    "it": ("Giuseppe Maria Giovanni Anna Antonio Giuseppina Mario Rosa Luigi Angela Francesco Giovanna Angelo "
           "Teresa Vincenzo Lucia Pietro Carmela Salvatore Caterina Carlo Francesca Franco Antonietta Domenico "
           "Carla Bruno Elena Paolo Chiara",
           "Ross Russ Ferr Esposit Bianch Roman Colomb Ricc Marin Grec Brun Gall Cont De Luca Mancin Costa Giordan "
           "Rizz Lombard Morett Barbier Fontana Santor Mariani Rinald Carus Ferrar Gall Martin Leone Longo",
           "|i|o|ini|elli|etti|one|ano|ucci|otti|esi"),
    "pt": ("João Maria José Ana Antônio Francisca Carlos Antônia Paulo Adriana Pedro Juliana Lucas Márcia Luiz "
           "Fernanda Marcos Patrícia Luís Aline Gabriel Sandra Rafael Camila Daniel Amanda Marcelo Bruna Bruno Letícia",
           "Silv Sant Olive Souz Rodrigu Ferreir Alv Pere Lim Gom Ribeir Carvalh Almeid Lop Soar Fernand Vieir "
           "Barbos Roch Dias Nascim Andrad Mor Nun Marqu Machad Mend Frei Cardos Ram Gonçalv Teixeir",
           "|a|o|es|eira|inho|ão|elo|ares|ento|ira"),
    "nl": ("Daan Emma Sem Julia Lucas Mila Levi Tess Finn Sophie Milan Zoë Jesse Sara Noah Anna Bram Eva Thijs "
           "Lotte Jan Saskia Pieter Anouk Willem Femke Hendrik Ingrid Kees Marieke",
           "Jans Vries Bakk Viss Smit Meij Boer Mulder Groot Bos Vos Peters Hendriks Dijk Brouw Dekk Leeuw Wijk "
           "Dam Kok Vermeul Jacobs Berg Kuip Maas Hoek Koster Prins Huism Blok",
           "|en|er|sen|ma|stra|inga|huis|kamp|man|s"),
    "pl": ("Anna Piotr Maria Krzysztof Katarzyna Andrzej Małgorzata Tomasz Agnieszka Paweł Barbara Michał "
           "Ewa Marcin Krystyna Jan Elżbieta Grzegorz Magdalena Łukasz Joanna Adam Zofia Marek Monika Jakub "
           "Teresa Mateusz Danuta Wojciech",
           "Nowak Kowal Wiśniew Wójcik Kowalczyk Kamiń Lewandow Zieliń Szymań Woźniak Dąbrow Kozłow Jankow "
           "Mazur Kwiatkow Krawczyk Piotrow Grabow Nowakow Pawłow Michalsk Nowick Adamczyk Dudek Zając Wieczor "
           "Jabłoń Król Majewsk Olszew",
           "|ski|ska|icz|ak|owski|ewicz|czyk|ek|iński|y"),
    "no": ("Lars Anna Erik Maria Per Kari Jan Ingrid Olav Liv Nils Eva Knut Karin Hans Marit Bjørn Astrid "
           "Sven Sigrid Håkon Åsa Øystein Ragnhild Anders Solveig Magnus Linnea Johan Tove",
           "Hans Johans Olsen Lars Anders Pedersen Nils Karls Eriks Berg Haug Hag Joh Lund Dahl Moe Strand "
           "Bakke Lie Holm Sørens Jørgens Lindstr Söderb Nyström Åberg Sandberg Ekl Lindqv Björk",
           "|sen|son|dal|lund|berg|heim|vik|rud|stad|ström"),
    "tr": ("Mehmet Fatma Mustafa Ayşe Ahmet Emine Ali Hatice Hüseyin Zeynep Hasan Elif İbrahim Meryem İsmail "
           "Şerife Osman Sultan Yusuf Hanife Murat Merve Ömer Zehra Ramazan Hacer Halil Hülya Süleyman Özlem",
           "Yılmaz Kaya Demir Şahin Çelik Yıldız Yıldırım Öztürk Aydın Özdemir Arslan Doğan Kılıç Aslan Çetin "
           "Kara Koç Kurt Özkan Şimşek Polat Özer Erdoğan Güneş Akın Tekin Aksoy Bulut Kaplan Avcı",
           "|oğlu|er|han|can|soy|taş|kaya|gül|türk|"),
    "ru": ("Aleksandr Yelena Sergei Olga Dmitri Tatiana Andrei Natalia Aleksei Irina Maksim Svetlana Ivan "
           "Yekaterina Mikhail Anna Nikolai Maria Vladimir Marina Pavel Yulia Artyom Anastasia Igor Daria Roman "
           "Ksenia Oleg Galina",
           "Ivan Smirn Kuznets Popov Vasil Petr Sokol Mikhail Novik Fyodor Morozov Volk Alekse Lebed Semyon "
           "Yegor Pavl Kozl Stepan Nikol Orl Andre Makar Nikit Zakhar Zaits Solov Borisov Yakovl Grigor",
           "|ov|ova|ev|eva|in|ina|enko|sky|ovich|ich"),
    "zh": ("Wei Fang Xiu Ying Jing Min Jie Li Qiang Lei Jun Yang Yong Yan Jian Hui Tao Ling Ming Xia Chao "
           "Hong Ping Gang Hua Mei Bo Na Dan Kai",
           "Wang Li Zhang Liu Chen Yang Huang Zhao Wu Zhou Xu Sun Ma Zhu Hu Guo He Gao Lin Luo Zheng Liang Xie "
           "Song Tang Han Feng Deng Cao Peng",
           "||||||||||"),
}
LOCALE_WEIGHTS = [22, 11, 9, 10, 8, 7, 5, 6, 5, 6, 6, 5]
# Cumulative shares of "Given Surname", "Given I. Surname", "Surname, Given", "Given Given2
# Surname"; the rest "Given Surname-Surname2".
SHAPES = (0.28, 0.55, 0.65, 0.76)
# Zipf exponents of given names and surnames within a locale.
GIVEN_EXPONENT, SURNAME_EXPONENT = 0.7, 0.45


def _zipf_chooser(items, exponent, rng):
    weights = list(itertools.accumulate(1.0 / (rank + 1) ** exponent for rank in range(len(items))))
    order = list(items)
    rng.shuffle(order)
    return lambda: order[bisect.bisect(weights, rng.random() * weights[-1])]


class _Locale:
    def __init__(self, name, given, stems, endings, rng):
        given = given.split()
        surnames = sorted({stem + ending for stem in stems.split() for ending in endings.split("|")})
        self.given = _zipf_chooser(given, GIVEN_EXPONENT, rng)
        self.surname = _zipf_chooser(surnames, SURNAME_EXPONENT, rng)


def _shape(locale, rng):
    given, surname = locale.given(), locale.surname()
    roll = rng.random()
    if roll < SHAPES[0]:
        return f"{given} {surname}"
    if roll < SHAPES[1]:
        return f"{given} {rng.choice('ABCDEFGHJKLMNOPRSTW')}. {surname}"
    if roll < SHAPES[2]:
        return f"{surname}, {given}"
    if roll < SHAPES[3]:
        return f"{given} {locale.given()} {surname}"
    return f"{given} {surname}-{locale.surname()}"


def register(n, seed=0):
    """n person names of a register, as described above."""
    rng = random.Random(f"register-{seed}")
    locales = [_Locale(name, *parts, rng) for name, parts in LOCALES.items()]
    pick = list(itertools.accumulate(LOCALE_WEIGHTS))
    out = []
    for _ in range(n):
        locale = locales[bisect.bisect(pick, rng.random() * pick[-1])]
        text = _shape(locale, rng)
        roll = rng.random()
        out.append(text.upper() if roll < 0.12 else text.lower() if roll < 0.2 else text)
    return out


def typo(text, rng):
    """One typo of the kinds people make: a neighbouring key, a swap, a dropped or doubled letter."""
    letters = [i for i, c in enumerate(text) if c.isalpha()]
    if not letters:
        return text
    i = rng.choice(letters)
    kind = rng.random()
    if kind < 0.4:
        near = NEIGHBOURS.get(text[i].lower())
        if near:
            c = rng.choice(near)
            return text[:i] + (c.upper() if text[i].isupper() else c) + text[i + 1:]
    if kind < 0.6 and i + 1 < len(text):
        return text[:i] + text[i + 1] + text[i] + text[i + 2:]
    if kind < 0.8 and len(text) > 4:
        return text[:i] + text[i + 1:]
    return text[:i] + text[i] + text[i:]


def typo_queries(names, n, seed=0):
    """n queries, each one or two typos of a name of the register; a fifth upper-cased."""
    rng = random.Random(f"typos-{seed}")
    out = []
    for _ in range(n):
        text = rng.choice(names)
        for _ in range(rng.choice((1, 2))):
            text = typo(text, rng)
        out.append(text.upper() if rng.random() < 0.2 else text)
    return out


STREET_WORDS = {"en": ("{} Street", "{} Road", "{} Avenue", "{} Lane"), "de": ("{}straße", "{}weg", "{}platz"),
                "fr": ("rue {}", "avenue {}", "boulevard {}"), "es": ("calle {}", "avenida {}"),
                "it": ("via {}", "piazza {}"), "pt": ("rua {}", "avenida {}"), "nl": ("{}straat", "{}laan"),
                "pl": ("ul. {}", "aleja {}"), "no": ("{}gata", "{}veien"), "tr": ("{} Sokak", "{} Caddesi"),
                "ru": ("ulitsa {}", "prospekt {}"), "zh": ("{} Lu", "{} Jie")}
CITY_PARTS = ("Ash Bridge Brook Castle Clear Deer Elm Fair Glen Green Hazel High Holly Lake Mill North Oak "
              "Red Rose Silver South Stone Sun West White Wood Bad Neu Saint Villa Porto San Kirk Nord").split()
CITY_ENDINGS = "ton ford ham field bury port mouth wick dale stead burg heim ville court ia ova ovo sund".split()


def people(n, seed=0):
    """n person records (name, address, city, dob), as described above."""
    rng = random.Random(f"people-{seed}")
    names = register(n, seed)
    locales = [_Locale(name, *parts, rng) for name, parts in LOCALES.items()]
    words = list(STREET_WORDS.values())
    cities = sorted({a + b for a in CITY_PARTS for b in CITY_ENDINGS})
    city = _zipf_chooser(cities[:400], 1.0, rng)
    out = []
    for name in names:
        k = rng.randrange(len(locales))
        street = rng.choice(words[k]).format(rng.choice((locales[k].surname, locales[k].given))())
        flat = f", flat {rng.randint(1, 40)}" if rng.random() < 0.15 else ""
        dob = "%04d-%02d-%02d" % (rng.randint(1930, 2008), rng.randint(1, 12), rng.randint(1, 28))
        record = {"name": name, "address": f"{rng.randint(1, 250)} {street}{flat}", "city": city(), "dob": dob}
        for field in ("address", "city", "dob"):
            if rng.random() < 0.05:
                record[field] = None
        out.append(record)
    return out


def typo_record(record, rng, typos=0.3, missing=0.1):
    """A query for a record: each field with a typo at rate `typos`, missing at rate `missing`
    (the name never, so that every query has a field)."""
    query = {}
    for field, text in record.items():
        if text is not None and field != "name" and rng.random() < missing:
            text = None
        elif text is not None and rng.random() < typos:
            text = typo(text, rng) if field != "dob" else text[:8] + text[9] + text[8]
        query[field] = text
    return query


if __name__ == "__main__":
    import pelgar_join as pj
    from pelgar_join import _native

    sample = register(1_000_000, seed=1)
    print("\n".join(sample[:20]))
    print(typo_queries(sample, 10, seed=1))
    index = pj.Index(sample)
    keys = _native.index_keys(index._capsule)
    print("distinct keys: %.3f" % (len(set(keys)) / len(keys)))
