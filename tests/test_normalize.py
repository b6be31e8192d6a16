"""normalize against an independent model: the JavaScript engine's ICU (tests/unicode_model.js).

The C++ side runs through tests/cpp/normalize_probe, which also checks that normalize_into
agrees with normalize on every record. Both read and write length-prefixed UTF-8 records.
"""

import pathlib
import random
import shutil
import struct
import subprocess

import pytest

from conftest import ctest_result, program_environment, require_tool

MODEL = pathlib.Path(__file__).resolve().parent / "unicode_model.js"

SCALARS = [cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF]


NODE_INSTALL = "Node.js whose ICU carries Unicode 17.0 (node -p process.versions.unicode prints 17.0)"


@pytest.fixture(scope="module")
def node():
    path = shutil.which("node")
    require_tool(path is not None, "node is not installed: no reference model for normalisation",
                 NODE_INSTALL)
    version = subprocess.run([path, "-p", "process.versions.unicode"],
                             capture_output=True, text=True).stdout.strip()
    require_tool(version == "17.0", f"node carries Unicode {version or '(unknown)'}, the model needs 17.0",
                 NODE_INSTALL)
    return path


@pytest.fixture(scope="module")
def probe(cpp_tests):
    return str(cpp_tests / "normalize_probe")


def frame(texts):
    parts = []
    for text in texts:
        data = text.encode("utf-8")
        parts.append(struct.pack("<I", len(data)))
        parts.append(data)
    return b"".join(parts)


def unframe(data):
    texts = []
    pos = 0
    while pos < len(data):
        (size,) = struct.unpack_from("<I", data, pos)
        texts.append(data[pos + 4:pos + 4 + size].decode("utf-8"))
        pos += 4 + size
    return texts


def code_points(text):
    return "[" + " ".join(f"{ord(c):04X}" for c in text) + "]"


def run(command, payload):
    result = subprocess.run(command, input=payload, capture_output=True, env=program_environment(), timeout=1800)
    assert result.returncode == 0, f"{command[-1]} failed: {result.stderr.decode(errors='replace')}"
    return result.stdout


def assert_same_as_model(probe, node, texts):
    payload = frame(texts)
    ours = run([probe], payload)
    theirs = run([node, str(MODEL)], payload)
    if ours == theirs:
        return
    got, expected = unframe(ours), unframe(theirs)
    assert len(got) == len(expected) == len(texts)
    differing = [(text, a, b) for text, a, b in zip(texts, got, expected) if a != b]
    shown = "\n".join(f"  {code_points(text)}: normalize {code_points(a)}, model {code_points(b)}"
                      for text, a, b in differing[:8])
    pytest.fail(f"{len(differing)} of {len(texts)} inputs differ from the model:\n{shown}")


def test_fixed_examples(ctest_results):
    result = ctest_result(ctest_results, "normalize_self_test")
    assert result.passed, result.output
    assert result.output.startswith("self-test passed")


def test_every_code_point_alone(probe, node):
    assert_same_as_model(probe, node, [chr(cp) for cp in SCALARS])


def test_every_code_point_as_sigma_context(probe, node):
    # X before a sigma decides through Cased / Case_Ignorable whether a cased letter precedes;
    # X after "ΑΣ" whether one follows. The space between is neither Cased nor Case_Ignorable.
    assert_same_as_model(probe, node, [f"{chr(cp)}\u03a3 \u0391\u03a3{chr(cp)}" for cp in SCALARS])


def test_every_code_point_around_composing_pairs(probe, node):
    # X as the first part before a Kirat Rai vowel sign and a trailing jamo, and as the second
    # part after a leading jamo and an LV syllable.
    assert_same_as_model(
        probe, node,
        [f"{chr(cp)}\U00016d67 {chr(cp)}\u11a8 \u1100{chr(cp)} \uac00{chr(cp)}" for cp in SCALARS])


def _stress_groups():
    r = range
    white_space = [0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, *r(0x2000, 0x200B),
                   0x2028, 0x2029, 0x202F, 0x205F, 0x3000]
    not_white_space = [*r(0x1C, 0x20), 0x200B, 0xFEFF, 0x180E]
    sigma = [0x03A3, 0x03A3, 0x03A3, 0x03C3, 0x03C2]
    sigma_neighbours = [0x27, 0xB7, 0x301, 0xAD, 0x2019, 0x2E, 0x3A, 0x5E, 0x60, 0x345, 0x2B0, 0x1D2C,
                        0x2071, 0x37A, 0x10FC, 0x0391, 0x03B1, 0x0392, ord("A"), ord("z"), ord("5"),
                        0x20, 0x2D, 0xE0020, 0xE0041, 0x1F3FB, 0x200D, 0xFE0F]
    marks = [*r(0x300, 0x370), *r(0x1AB0, 0x1B00), *r(0x20D0, 0x20F1), 0x903, 0x93E, 0x94D, 0x0BBE,
             0x0CD5, 0x0488, 0x0489, 0x3099, 0x309A, 0x1E944, 0x1D165, 0x1D16D]
    hangul = [0xAC00, 0xAC01, 0xD55C, 0xAD6D, 0xC5B4, 0xD7A3, 0xB098, 0xCC28]
    jamo = [*r(0x1100, 0x1113), 0x1113, 0x115F, 0x1160, *r(0x1161, 0x1176), 0x1176, 0x11A7,
            *r(0x11A8, 0x11C3), 0x11C3, 0x11FF, 0xA960, 0xD7B0, 0xD7CB, 0x3131, 0x314F]
    precomposed = [*r(0xC0, 0x100), *r(0x100, 0x180), *r(0x1E00, 0x1E20), *r(0x1EA0, 0x1EC0),
                   *r(0x1F00, 0x1F20), *r(0x1F70, 0x1F80), *r(0x1FB0, 0x1FC0), 0x1FEE, 0x385,
                   *r(0x386, 0x3CF), 0x419, 0x439, 0x4D0, 0x304C, 0x30D0, 0x0958, 0x0F73, 0x0344,
                   0x2ADC, 0xFB1D, 0xFB2A, 0x1D15E, 0x2126, 0x212A, 0xF900, 0x2F800, 0x0B94, 0x0CC0]
    special = [0x130, 0x1E9E, 0x212B, 0x03A3, 0x0386, 0x0390, 0x03B0, 0x1E96, 0xFB01, 0xFB00,
               0x01C4, 0x01C5, 0x0149, 0xFF21, 0x1C90, 0x13A0, 0xAB70, 0x10400, 0x1E900, 0x2C65,
               0x023A, 0x0587]
    kirat_rai = [*r(0x16D63, 0x16D6B), *r(0x16D40, 0x16D43), 0x16D67, 0x16D67]
    ascii = [*r(ord("A"), ord("Z") + 1), *r(ord("a"), ord("z") + 1), 0x20, 0x20, 0x20, *r(0x30, 0x3A)]
    astral = [0x1F600, 0x1D400, 0x20000, 0x2F81F, 0xE0001, 0xF0000, 0x10FFFF, 0x1044F, 0x1E943,
              0x16E40, 0x16E60, 0x1F1E6, 0x10780]
    return [white_space, not_white_space, sigma, sigma, sigma_neighbours, marks, marks, hangul, jamo,
            jamo, precomposed, special, kirat_rai, ascii, ascii, astral]


def _random_texts(rng, count, min_length, max_length):
    groups = _stress_groups()
    texts = []
    for _ in range(count):
        length = rng.randint(min_length, max_length)
        texts.append("".join(chr(rng.choice(rng.choice(groups))) for _ in range(length)))
    return texts


def test_random_stress_sequences(probe, node):
    assert_same_as_model(probe, node, _random_texts(random.Random(20250917), 120_000, 1, 12))


def test_mostly_latin(probe, node):
    # Runs of ASCII of every length up to a few words, broken by single non-ASCII characters,
    # so that each run ends at every offset within a word and near the end of the text.
    rng = random.Random(13)
    groups = _stress_groups()
    latin = [*range(0xC0, 0x180), 0x130, 0x3A3, 0x1E9E, 0x301, 0x308, 0x2019, 0xA0]
    texts = []
    for _ in range(30_000):
        parts = []
        for _ in range(rng.randint(1, 4)):
            parts.append("".join(chr(rng.choice([*range(0x20, 0x7F), 0x09])) for _ in range(rng.randint(0, 20))))
            parts.append(chr(rng.choice(latin if rng.random() < 0.8 else rng.choice(groups))))
        texts.append("".join(parts)[:rng.randint(1, 60)])
    texts += ["x" * n + "\u00e9" + "Y" * m for n in range(18) for m in range(18)]
    assert_same_as_model(probe, node, texts)


def test_pure_ascii(probe, node):
    rng = random.Random(7)
    texts = ["".join(chr(rng.choice([*range(128), *b"  \t\nAZaz"])) for _ in range(rng.randint(0, 20)))
             for _ in range(20_000)]
    assert_same_as_model(probe, node, texts)


def test_long_and_medium_texts(probe, node):
    # Several hundred bytes and more take the growing-string path rather than the stack buffer.
    rng = random.Random(11)
    texts = _random_texts(rng, 3000, 60, 140)
    texts += _random_texts(rng, 6, 2000, 6000)
    texts += ["\u03a3" * 3000, "\u039f\u03a3'" * 2000, "\u1100\u1161\u11a8" * 1500,
              "\u0301" * 5000 + " x " + "\u0301" * 5000, " " * 4000, "A\u0300" * 4000,
              "\U00016d63" + "\U00016d67" * 3000, "\uac00" * 300 + "e\u0301" * 300]
    assert_same_as_model(probe, node, texts)
