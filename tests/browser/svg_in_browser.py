#!/usr/bin/env python3
"""The picture end to end: vtsnap writes the SVG and the page of the page
test's screen, and two renderers show it. In headless Chromium, in the light
and the dark scheme, every cell that shows a background or a full block has
the page's colour at its centre. rsvg-convert renders it without a word to a
PNG of its size. The text of each row, read in document order, is the text
file's line; hostile output leaves the file well-formed XML holding no
element or attribute but the picture's own; the same run gives the same
bytes; and the picture in docs/ is this test's.

usage: svg_in_browser.py VTSNAP VTSNAP_RENDER WORKDIR DOCS_PICTURE
"""
import os
import subprocess
import sys
import unicodedata
import xml.etree.ElementTree as ElementTree

import page_in_browser as page_test
from page_in_browser import (COLS, DARK, DEFAULTS, ESC, FULL, LIGHT, ROWS, Checks, Shot, check_cells, file_lines,
                             read_png)

SVG = "{http://www.w3.org/2000/svg}"
CELL_W, CELL_H, MARGIN = 9, 18, 8
# The picture's elements and attributes: all there is, so that nothing of the
# program's making, no script, foreignObject, reference or event, gets in.
ELEMENTS = {"svg", "style", "rect", "g", "text", "tspan"}
ATTRIBUTES = {"width", "height", "viewBox", "{http://www.w3.org/XML/1998/namespace}space", "class", "x", "y",
              "fill", "transform"}

HOSTILE = "".join([
    "<script>alert(1)</script></pre></div><!-- \"'&amp;\r\n",
    "\x1b]0;<script>title</script>\x07<img src=x onerror=alert(1)>\r\n",
    ESC + "31m</text></svg><style>\r\n",
    "\u2028<a href='x'>\u2029\u009b31m\x00\x01\x7f\ufeff\ufffe\uffff\r\n",
    "]]><![CDATA[ x ]]> <!ENTITY xxe SYSTEM \"file:///etc/passwd\"> &xxe; <!DOCTYPE svg>\r\n",
    "<?xml-stylesheet href=\"x.css\"?><foreignObject><use xlink:href=\"#a\" onload=\"alert(1)\"/>\r\n",
]).encode("utf-8") + b"lone surrogate \xed\xa0\x80 overlong \xc0\xbc C1 \xc2\x85 end"


def cells(line):
    """The character that shows in each cell of a file line: both cells of a wide one."""
    shown = {}
    for ch in line:
        if unicodedata.combining(ch):
            continue
        for _ in range(2 if unicodedata.east_asian_width(ch) in "WF" else 1):
            shown[len(shown)] = ch
    return shown


def row_texts(root):
    """The text of each text element, by row, read in document order."""
    rows = {}
    for text in root.iter(SVG + "text"):
        row = int(text.get("y")) // CELL_H
        rows[row] = rows.get(row, "") + "".join(text.itertext())
    return [rows.get(r, "") for r in range(max(rows) + 1)] if rows else []


def main():
    vtsnap, render, work, docs_picture = sys.argv[1:5]
    check = Checks(work)

    def well_formed(path, what):
        """The parsed picture, when it is well-formed and holds only the picture's own markup."""
        data = open(path, "rb").read()
        try:
            data.decode("utf-8")
            utf8 = True
        except UnicodeDecodeError:
            utf8 = False
        check(utf8, what + ": UTF-8 throughout")
        unsafe = [b for b in data if b < 0x20 and b != 0x0A]
        check(not unsafe and b"\xef\xbf\xbe" not in data and b"\xef\xbf\xbf" not in data,
              what + ": no control character, U+FFFE or U+FFFF")
        try:
            root = ElementTree.fromstring(data)
        except ElementTree.ParseError as error:
            check(False, "%s: well-formed XML (%s)" % (what, error))
            return None
        check(True, what + ": well-formed XML")
        strangers = set()
        for element in root.iter():
            tag = element.tag.replace(SVG, "")
            if tag not in ELEMENTS:
                strangers.add(element.tag)
            strangers |= set(element.attrib) - ATTRIBUTES
        check(not strangers, what + ": only the picture's elements and attributes %s" % sorted(strangers))
        return root

    def renders_in_rsvg(path, rows, what):
        png = path + ".rsvg.png"
        run = subprocess.run(["rsvg-convert", "-o", png, path], stderr=subprocess.PIPE, timeout=120)
        check(run.returncode == 0 and not run.stderr, what + ": rsvg-convert renders it without a word %r"
              % run.stderr.decode(errors="replace"))
        if run.returncode == 0:
            width, height, _ = read_png(png)
            want = (2 * MARGIN + COLS * CELL_W, 2 * MARGIN + rows * CELL_H)
            check((width, height) == want, what + ": rsvg-convert's PNG is %dx%d (got %dx%d)" % (want + (width, height)))

    recorded = os.path.join(work, "stream.bin")
    with open(recorded, "wb") as f:
        f.write(page_test.stream())
    text = os.path.join(work, "screen.txt")
    page = os.path.join(work, "page.html")
    pictures = [os.path.join(work, name) for name in ("screen.svg", "again.svg", "replayed.svg")]
    for picture in pictures[:2]:
        run = subprocess.run([vtsnap, "-rows=%d" % ROWS, "-html=" + page, "-svg=" + picture, "cat", recorded, text],
                             timeout=60)
        check(run.returncode == 0, "vtsnap ends with 0")
    run = subprocess.run([render, "-rows=%d" % ROWS, "-svg=" + pictures[2], recorded, os.path.join(work, "r.txt")])
    check(run.returncode == 0, "vtsnap-render ends with 0")
    picture = pictures[0]
    bytes_of = [open(p, "rb").read() for p in pictures]
    check(bytes_of[0] == bytes_of[1], "two runs of the same program give the same bytes")
    check(bytes_of[0] == bytes_of[2], "vtsnap-render writes the same picture for the same stream")
    docs = open(docs_picture, "rb").read() if os.path.exists(docs_picture) else b""
    check(docs == bytes_of[0], "%s is this test's picture (else: cp %s %s)" % (docs_picture, picture, docs_picture))

    lines = file_lines(text)
    root = well_formed(picture, "the screen")
    if root is not None:
        check(row_texts(root) == lines, "each row's text is the text file's line")
    renders_in_rsvg(picture, len(lines), "the screen")

    # Every cell that shows only a background or a full block has the page's colour at its centre.
    for scheme in (LIGHT, DARK):
        shots = {kind: Shot(path, scheme, os.path.join(work, "%s-%s.png" % (kind, scheme)))
                 for kind, path in (("page", page), ("svg", picture))}
        for kind, shot in shots.items():
            check(shot.found, "%s, %s: the corner marks are there" % (kind, scheme))
        if not all(shot.found for shot in shots.values()):
            continue
        svg, shown_page = shots["svg"], shots["page"]
        check((svg.cell_w, svg.cell_h) == (CELL_W, CELL_H) and (svg.left, svg.top) == (MARGIN, MARGIN),
              "%s: the picture's cells are %dx%d from (%d, %d)" % (scheme, CELL_W, CELL_H, MARGIN, MARGIN))
        compared, differing = 0, []
        for row in range(ROWS):
            shown = cells(lines[row]) if row < len(lines) else {}
            for col in range(COLS):
                if shown.get(col, " ") not in (" ", FULL):
                    continue
                compared += 1
                if svg.centre(row, col) != shown_page.centre(row, col):
                    differing.append((row, col, svg.centre(row, col), shown_page.centre(row, col)))
        check(not differing, "%s: %d cells of blanks and blocks in the page's colours %s"
              % (scheme, compared, differing[:5]))
        fg, bg_default = DEFAULTS[scheme]
        check_cells(check, scheme, svg, page_test.CELLS + [(1, 15, None, fg), (1, 16, bg_default, None)])

    # Hostile output: well-formed, nothing of the program's making, the text file's text.
    hostile = os.path.join(work, "hostile.bin")
    with open(hostile, "wb") as f:
        f.write(HOSTILE)
    hostile_svg, hostile_text = os.path.join(work, "hostile.svg"), os.path.join(work, "hostile.txt")
    run = subprocess.run([vtsnap, "-rows=12", "-svg=" + hostile_svg, "cat", hostile, hostile_text], timeout=60)
    check(run.returncode == 0, "hostile: vtsnap ends with 0")
    root = well_formed(hostile_svg, "hostile")
    hostile_lines = file_lines(hostile_text)
    if root is not None:
        got = row_texts(root)
        check(got == hostile_lines, "hostile: each row's text is the text file's line")
        if got != hostile_lines:
            for a, b in zip(got, hostile_lines):
                print("   svg  %r\n   file %r" % (a, b))
    renders_in_rsvg(hostile_svg, len(hostile_lines), "hostile")

    return check.end("the picture in two renderers")


if __name__ == "__main__":
    sys.exit(main())
