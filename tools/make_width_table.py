#!/usr/bin/env python3
"""Writes terminal/char_width_table.hpp: the number of cells of every code point.

    python3 tools/make_width_table.py [--data DIR] [--output FILE]

DIR holds the Unicode Character Database (default /usr/share/unicode, Debian's
unicode-data package); FILE defaults to standard output. The table is committed,
so that builds need neither Python nor the database; the test
char_width.table_is_generated regenerates it and compares.

The widths, as terminal/char_width.hpp returns them:
  -1  never shown: controls, surrogates, noncharacters, U+2028, U+2029, and
      U+FEFF (a byte-order mark; xterm.js drops it too);
   0  joins the character before it: nonspacing and enclosing marks, format
      characters but the soft hyphen (ZWSP, ZWNJ, ZWJ, U+2060-U+2064, the
      bidirectional controls, tags), Hangul jamo medials and finals
      U+1160-U+11FF; variation selectors are nonspacing marks;
   2  East Asian Wide and Fullwidth (unassigned code points in the ranges kept
      for ideographs included) and emoji presented as emoji by default;
   1  everything else, East Asian Ambiguous included.
Where these rules and xterm.js's Unicode 11 widths differ on a character of
Unicode 11, xterm.js wins, since it is the reference the screen is compared to
(docs/fidelity.md): the exceptions are listed below with why.
"""

import argparse
import os
import sys

LIMIT = 0x110000

# Block layout: the code point's high bits pick a block of 256 widths, stored
# four to a byte (width + 1 in two bits), so a block is one 64-byte line.
BLOCK_SHIFT = 8
BLOCK = 1 << BLOCK_SHIFT
PER_BYTE = 4

# xterm.js (Unicode 11 tables) gives these one cell: Hangul Jamo Extended-B,
# whose medials and finals would otherwise join like U+1160-U+11FF, and the
# regional indicators, presented as emoji by default but not East Asian Wide.
NARROW_AS_XTERM = [(0xD7B0, 0xD7FF), (0x1F1E6, 0x1F1FF)]
# Wide in Unicode 11, neutral since: MODERN PENTATHLON and RIFLE.
WIDE_AS_XTERM = [(0x1F93B, 0x1F93B), (0x1F946, 0x1F946)]
# Nonspacing in Unicode 11, a spacing mark since: HANUNOO SIGN PAMUDPOD.
JOINING_AS_XTERM = [(0x1734, 0x1734)]


def entries(path):
    """Yields (first, last, fields) for each data line of a UCD file."""
    with open(path, encoding='utf-8') as f:
        for line in f:
            data = line.split('#', 1)[0].strip()
            if not data:
                continue
            fields = [x.strip() for x in data.split(';')]
            first, _, last = fields[0].partition('..')
            yield int(first, 16), int(last or first, 16), fields[1:]


def missing(path):
    """Yields (first, last, value) for each '# @missing' line: the defaults."""
    with open(path, encoding='utf-8') as f:
        for line in f:
            if line.startswith('# @missing:'):
                span, value = line[len('# @missing:'):].split(';')
                first, _, last = span.strip().partition('..')
                yield int(first, 16), int(last or first, 16), value.strip()


def version(path):
    """The Unicode version a UCD file names in its first line (DerivedAge-15.0.0.txt)."""
    with open(path, encoding='utf-8') as f:
        first = f.readline()
    name = first.lstrip('# ').strip()
    return name[name.index('-') + 1:name.rindex('.txt')]


def load(data):
    category = ['Cn'] * LIMIT
    for first, last, fields in entries(os.path.join(data, 'extracted', 'DerivedGeneralCategory.txt')):
        category[first:last + 1] = [fields[0]] * (last - first + 1)

    eaw_path = os.path.join(data, 'extracted', 'DerivedEastAsianWidth.txt')
    long_names = {'Neutral': 'N', 'Wide': 'W', 'Fullwidth': 'F', 'Ambiguous': 'A', 'Narrow': 'Na', 'Halfwidth': 'H'}
    east_asian = ['N'] * LIMIT
    for first, last, value in missing(eaw_path):
        east_asian[first:last + 1] = [long_names.get(value, value)] * (last - first + 1)
    for first, last, fields in entries(eaw_path):
        east_asian[first:last + 1] = [fields[0]] * (last - first + 1)

    emoji = [False] * LIMIT
    for first, last, fields in entries(os.path.join(data, 'emoji', 'emoji-data.txt')):
        if fields[0] == 'Emoji_Presentation':
            emoji[first:last + 1] = [True] * (last - first + 1)
    return category, east_asian, emoji


def inside(c, spans):
    return any(first <= c <= last for first, last in spans)


def widths(data):
    category, east_asian, emoji = load(data)
    result = []
    for c in range(LIMIT):
        gc = category[c]
        noncharacter = 0xFDD0 <= c <= 0xFDEF or (c & 0xFFFE) == 0xFFFE
        if gc in ('Cc', 'Cs') or noncharacter or c in (0x2028, 0x2029, 0xFEFF):
            width = -1
        elif gc in ('Mn', 'Me') or (gc == 'Cf' and c != 0x00AD) or 0x1160 <= c <= 0x11FF or inside(c, JOINING_AS_XTERM):
            width = 0
        elif inside(c, NARROW_AS_XTERM):
            width = 1
        elif east_asian[c] in ('W', 'F') or emoji[c] or inside(c, WIDE_AS_XTERM):
            width = 2
        else:
            width = 1
        result.append(width)
    return result


def layout(table):
    """Splits the table into a block index and the distinct packed blocks."""
    index, blocks, seen = [], [], {}
    for start in range(0, LIMIT, BLOCK):
        packed = bytes(
            sum((table[start + i + k] + 1) << (2 * k) for k in range(PER_BYTE))
            for i in range(0, BLOCK, PER_BYTE))
        if packed not in seen:
            seen[packed] = len(blocks)
            blocks.append(packed)
        index.append(seen[packed])
    return index, blocks


def array(values, per_line):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append('    ' + ', '.join('0x%02X' % v for v in values[i:i + per_line]) + ',')
    return '\n'.join(lines)


def render(data):
    table = widths(data)
    index, blocks = layout(table)
    if len(blocks) > 256:
        sys.exit('make_width_table.py: %d distinct blocks do not fit a byte index' % len(blocks))
    packed = b''.join(blocks)
    unicode_version = version(os.path.join(data, 'DerivedAge.txt'))
    return f'''// Generated by tools/make_width_table.py from the Unicode {unicode_version} character database; do not edit.
// The width of code point c is ((kWidthCells[kWidthBlocks[c >> {BLOCK_SHIFT}] * {BLOCK // PER_BYTE} + (c & {BLOCK - 1}) / {PER_BYTE}] >> 2 * (c % {PER_BYTE})) & 3) - 1.
#pragma once

#include <cstdint>

namespace vtsnap::char_width_table {{

inline constexpr int kBlockShift = {BLOCK_SHIFT};
inline constexpr int kBlockBytes = {BLOCK // PER_BYTE};

// For each block of {BLOCK} code points, the number of its packed widths below.
inline constexpr std::uint8_t kWidthBlocks[{len(index)}] = {{
{array(index, 24)}
}};

// {len(blocks)} distinct blocks, {BLOCK // PER_BYTE} bytes each: four widths a byte, width + 1 in two bits,
// the lowest code point in the lowest bits.
alignas(64) inline constexpr std::uint8_t kWidthCells[{len(packed)}] = {{
{array(packed, 16)}
}};

}}  // namespace vtsnap::char_width_table
'''


def main():
    parser = argparse.ArgumentParser(description='Writes the character width table.')
    parser.add_argument('--data', default='/usr/share/unicode', help='the Unicode Character Database')
    parser.add_argument('--output', help='the header to write (default: standard output)')
    args = parser.parse_args()
    text = render(args.data)
    if args.output:
        with open(args.output, 'w', encoding='utf-8', newline='\n') as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == '__main__':
    main()
