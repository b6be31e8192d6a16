#!/usr/bin/env python3
"""Generate src/text/unicode_tables.cpp from the Unicode Character Database files in ucd/.

The tables give, per code point, what normalisation needs: the simple lowercase mapping,
Cased, Case_Ignorable, whether it is a mark (General_Category Mn, Mc or Me), and its full
recursive canonical decomposition; plus the canonical composition pairs of the primary
composites. Hangul syllables are left to arithmetic in the C++ code.

Usage:
    gen_unicode_tables.py            write src/text/unicode_tables.cpp
    gen_unicode_tables.py --output PATH
    gen_unicode_tables.py --check    exit 1 if the committed file is not what this script writes
"""

import argparse
import difflib
import pathlib
import re
import sys

UNICODE_VERSION = "17.0.0"
HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent
UCD = HERE / "ucd" / UNICODE_VERSION
OUTPUT = ROOT / "src" / "text" / "unicode_tables.cpp"
WHITE_SPACE_HEADER = ROOT / "src" / "text" / "white_space.hpp"

MAX_CP = 0x10FFFF
BLOCK_SHIFT = 8
BLOCK_SIZE = 1 << BLOCK_SHIFT

# Must agree with src/text/unicode_tables.hpp; the generated file static_asserts them.
FLAGS = {
    "flag_cased": 0x01,
    "flag_case_ignorable": 0x02,
    "flag_mark": 0x04,
    "flag_composes_with_previous": 0x08,
    "flag_special_lowercase": 0x10,
}
MAX_UTF8_GROWTH = 3
POOL_MARK_BIT = 1 << 31
POOL_COMPOSES_BIT = 1 << 30

# Hangul syllable arithmetic.
S_BASE, L_BASE, V_BASE, T_BASE = 0xAC00, 0x1100, 0x1161, 0x11A7
L_COUNT, V_COUNT, T_COUNT = 19, 21, 28
S_COUNT = L_COUNT * V_COUNT * T_COUNT

# The unconditional multi-character lowercase mapping, and the one context-dependent one.
SPECIAL_LOWERCASE = {0x0130: (0x0069, 0x0307), 0x03A3: None}
SIGMA_FORMS = (0x03C3, 0x03C2)


class GenerationError(Exception):
    pass


def data_lines(name):
    """Yields the ';'-separated fields of every data line of a UCD file."""
    path = UCD / name
    for line in path.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if line:
            yield [field.strip() for field in line.split(";")]


def code_range(text):
    if ".." in text:
        lo, hi = text.split("..")
        return range(int(lo, 16), int(hi, 16) + 1)
    cp = int(text, 16)
    return range(cp, cp + 1)


def property_set(name, prop):
    result = set()
    for fields in data_lines(name):
        if len(fields) >= 2 and fields[1] == prop:
            result.update(code_range(fields[0]))
    if not result:
        raise GenerationError(f"{name}: no code point has {prop}")
    return result


def load_general_category():
    category = {}
    for fields in data_lines("DerivedGeneralCategory.txt"):
        for cp in code_range(fields[0]):
            if cp in category:
                raise GenerationError(f"General_Category of U+{cp:04X} given twice")
            category[cp] = fields[1]
    if len(category) != MAX_CP + 1:
        raise GenerationError(f"General_Category covers {len(category)} code points, not all")
    return category


def load_mapping(name):
    mapping = {}
    for fields in data_lines(name):
        cp = int(fields[0], 16)
        if cp in mapping:
            raise GenerationError(f"{name}: U+{cp:04X} mapped twice")
        mapping[cp] = tuple(int(part, 16) for part in fields[1].split())
    return mapping


def header_white_space():
    """The code points that white_space.hpp tests for, read from its comparisons."""
    source = WHITE_SPACE_HEADER.read_text(encoding="utf-8")
    body = source[source.index("return"):]
    points = set()
    for lo, hi in re.findall(r"cp\s*>=\s*0x([0-9A-Fa-f]+)\s*&&\s*cp\s*<=\s*0x([0-9A-Fa-f]+)", body):
        points.update(range(int(lo, 16), int(hi, 16) + 1))
    points.update(int(cp, 16) for cp in re.findall(r"cp\s*==\s*0x([0-9A-Fa-f]+)", body))
    return points


def utf8_length(cp):
    return 1 if cp < 0x80 else 2 if cp < 0x800 else 3 if cp < 0x10000 else 4


def build():
    category = load_general_category()
    marks = {cp for cp, gc in category.items() if gc in ("Mn", "Mc", "Me")}
    cased = property_set("DerivedCoreProperties.txt", "Cased")
    case_ignorable = property_set("DerivedCoreProperties.txt", "Case_Ignorable")
    full_exclusion = property_set("DerivedNormalizationProps.txt", "Full_Composition_Exclusion")
    exclusion = property_set("CompositionExclusions.txt", "Composition_Exclusion")
    white_space = property_set("PropList.txt", "White_Space")
    lowercase = load_mapping("SimpleLowercase.txt")
    decomposition = load_mapping("CanonicalDecomposition.txt")

    in_header = header_white_space()
    if white_space != in_header or len(white_space) != 25:
        raise GenerationError(
            "White_Space differs from src/text/white_space.hpp: "
            f"only in PropList {sorted(map(hex, white_space - in_header))}, "
            f"only in the header {sorted(map(hex, in_header - white_space))}")
    if not exclusion <= full_exclusion:
        raise GenerationError("Composition_Exclusion is not part of Full_Composition_Exclusion")
    for cp, lower in lowercase.items():
        if len(lower) != 1:
            raise GenerationError(f"simple lowercase of U+{cp:04X} is not one code point")
    for cp, parts in decomposition.items():
        if S_BASE <= cp < S_BASE + S_COUNT or any(S_BASE <= p < S_BASE + S_COUNT for p in parts):
            raise GenerationError(f"decomposition of U+{cp:04X} involves a Hangul syllable")
        if len(parts) == 1 and cp not in full_exclusion:
            raise GenerationError(f"singleton U+{cp:04X} is not excluded from composition")

    def full_decomposition(cp):
        if cp not in decomposition:
            return (cp,)
        return tuple(p for part in decomposition[cp] for p in full_decomposition(part))

    # Primary composites: two-character mappings not excluded from composition.
    pairs = {}
    for cp, parts in decomposition.items():
        if len(parts) == 2 and cp not in full_exclusion:
            pairs[(parts[0] << 21) | parts[1]] = cp
    composes_with_previous = {key & 0x1FFFFF for key in pairs}
    composes_with_previous.update(range(V_BASE, V_BASE + V_COUNT))
    composes_with_previous.update(range(T_BASE + 1, T_BASE + T_COUNT))

    # The normaliser writes into buffers sized from the input; prove the bounds it relies on.
    # Each input character feeds the composer at most MAX_UTF8_GROWTH times its own UTF-8
    # bytes and at most one code point per byte, and composing never lengthens the text.
    for cp in range(MAX_CP + 1):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        if cp in SPECIAL_LOWERCASE:
            forms = [SPECIAL_LOWERCASE[cp]] if SPECIAL_LOWERCASE[cp] else [(s,) for s in SIGMA_FORMS]
        else:
            forms = [lowercase.get(cp, (cp,))]
        for form in forms:
            fed = [p for c in form for p in full_decomposition(c) if p not in marks]
            size = utf8_length(cp)
            if sum(map(utf8_length, fed)) > MAX_UTF8_GROWTH * size or len(fed) > size:
                raise GenerationError(f"U+{cp:04X} normalises to more than the buffers allow")
    for key, composite in pairs.items():
        if utf8_length(composite) > utf8_length(key >> 21) + utf8_length(key & 0x1FFFFF):
            raise GenerationError(f"composite U+{composite:04X} is longer than its parts")
    # The normaliser feeds ASCII and whole Hangul syllables to the composer as they are: a
    # syllable's jamo would compose straight back, as a leading jamo never composes with what
    # stands before it.
    for cp in composes_with_previous:
        if cp < 0x80 or L_BASE <= cp < L_BASE + L_COUNT or S_BASE <= cp < S_BASE + S_COUNT:
            raise GenerationError(f"U+{cp:04X} unexpectedly composes with the character before it")

    # Decomposition pool: each full decomposition once, entries tagged with mark and
    # composes-with-previous bits so the normaliser needs no further lookups for them.
    pool = []
    pool_offset = {}
    records = []
    record_index = {}
    cp_record = [0] * (MAX_CP + 1)
    for cp in range(MAX_CP + 1):
        flags = 0
        if cp in cased:
            flags |= FLAGS["flag_cased"]
        if cp in case_ignorable:
            flags |= FLAGS["flag_case_ignorable"]
        if cp in marks:
            flags |= FLAGS["flag_mark"]
        if cp in composes_with_previous:
            flags |= FLAGS["flag_composes_with_previous"]
        if cp in SPECIAL_LOWERCASE:
            flags |= FLAGS["flag_special_lowercase"]
        delta = lowercase[cp][0] - cp if cp in lowercase else 0
        offset = length = 0
        if cp in decomposition:
            parts = full_decomposition(cp)
            tagged = tuple(
                p | (POOL_MARK_BIT if p in marks else 0) | (POOL_COMPOSES_BIT if p in composes_with_previous else 0)
                for p in parts)
            if tagged not in pool_offset:
                pool_offset[tagged] = len(pool)
                pool.extend(tagged)
            offset, length = pool_offset[tagged], len(tagged)
        record = (delta, offset, length, flags)
        if record not in record_index:
            record_index[record] = len(records)
            records.append(record)
        cp_record[cp] = record_index[record]

    blocks = []
    block_number = {}
    block_index = []
    for start in range(0, MAX_CP + 1, BLOCK_SIZE):
        block = tuple(cp_record[start:start + BLOCK_SIZE])
        if block not in block_number:
            block_number[block] = len(blocks)
            blocks.append(block)
        block_index.append(block_number[block])

    if len(blocks) > 0xFFFF or len(records) > 0xFFFF or len(pool) > 0xFFFF:
        raise GenerationError("tables outgrew their 16-bit indices")
    if max(length for _, _, length, _ in records) > 0xFF:
        raise GenerationError("a decomposition is too long")
    return {
        "block_index": block_index,
        "blocks": blocks,
        "records": records,
        "pool": pool,
        "pairs": sorted(pairs.items()),
    }


def format_array(declaration, values, per_line, width=0):
    lines = [f"{declaration} = {{"]
    for start in range(0, len(values), per_line):
        chunk = values[start:start + per_line]
        lines.append("    " + " ".join(f"{value:>{width}}," for value in chunk))
    lines.append("};")
    return "\n".join(lines)


def render(tables):
    block_index = tables["block_index"]
    index_type = "std::uint8_t" if len(tables["blocks"]) <= 0x100 else "std::uint16_t"
    block_entries = [entry for block in tables["blocks"] for entry in block]
    pairs = tables["pairs"]
    records = [f"{{{delta}, {offset}, {length}, 0x{flags:02X}}}" for delta, offset, length, flags in tables["records"]]

    out = [
        f"// Generated by tools/unicode/gen_unicode_tables.py from the Unicode {UNICODE_VERSION} data in",
        f"// tools/unicode/ucd/{UNICODE_VERSION}. Do not edit: change the script and run it again.",
        "",
        '#include "text/unicode_tables.hpp"',
        "",
        "namespace pelgar::text::unicode {",
        "",
    ]
    for name, value in FLAGS.items():
        out.append(f"static_assert({name} == 0x{value:02X});")
    out.append(f"static_assert(decomposition_mark_bit == 0x{POOL_MARK_BIT:08X}u);")
    out.append(f"static_assert(decomposition_composes_bit == 0x{POOL_COMPOSES_BIT:08X}u);")
    out.append(f"static_assert(block_shift == {BLOCK_SHIFT});")
    out.append(f"static_assert(max_utf8_growth == {MAX_UTF8_GROWTH});")
    out.append("")
    out.append(f"// {len(tables['blocks'])} distinct blocks of {BLOCK_SIZE} code points.")
    out.append(format_array(f"const {index_type} block_index[{len(block_index)}]", block_index, 24))
    out.append("")
    out.append(format_array(f"const std::uint16_t block_records[{len(block_entries)}]", block_entries, 16))
    out.append("")
    out.append("// {lowercase delta, decomposition offset, decomposition length, flags}")
    out.append(format_array(f"const CharRecord records[{len(records)}]", records, 4))
    out.append("")
    out.append("// Full canonical decompositions; marks among them are not in canonical order.")
    out.append(format_array(f"const std::uint32_t decomposition_pool[{len(tables['pool'])}]",
                            [f"0x{entry:08X}" for entry in tables["pool"]], 8))
    out.append("")
    out.append("// Primary composites: (first << 21 | second) -> composite, sorted by key.")
    out.append(format_array(f"const std::uint64_t composition_keys[{len(pairs)}]",
                            [f"0x{key:011X}" for key, _ in pairs], 6))
    out.append("")
    out.append(format_array(f"const char32_t composition_results[{len(pairs)}]",
                            [f"0x{value:05X}" for _, value in pairs], 8))
    out.append("")
    out.append(f"const std::size_t composition_pair_count = {len(pairs)};")
    out.append("")
    out.append("}  // namespace pelgar::text::unicode")
    out.append("")
    return "\n".join(out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed file instead of writing it")
    parser.add_argument("--output", type=pathlib.Path, default=OUTPUT, help="file to write or check")
    args = parser.parse_args(argv)

    try:
        text = render(build())
    except (GenerationError, OSError, ValueError) as error:
        print(f"gen_unicode_tables: {error}", file=sys.stderr)
        return 1

    if args.check:
        try:
            current = args.output.read_text(encoding="utf-8")
        except OSError as error:
            print(f"gen_unicode_tables: cannot read {args.output}: {error}", file=sys.stderr)
            return 1
        if current != text:
            diff = difflib.unified_diff(current.splitlines(), text.splitlines(),
                                        "committed", "generated", lineterm="", n=1)
            shown = list(diff)[:20]
            print(f"gen_unicode_tables: {args.output} is out of date; run "
                  "tools/unicode/gen_unicode_tables.py\n" + "\n".join(shown), file=sys.stderr)
            return 1
        return 0

    args.output.parent.mkdir(parents=True, exist_ok=True)
    with open(args.output, "w", encoding="utf-8", newline="\n") as handle:
        handle.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
