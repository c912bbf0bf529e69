#!/usr/bin/env python3
"""The page end to end: vtsnap runs a program that draws colours, blanks and
wide characters, and headless Chromium shows the page it wrote. From the
screenshot, chosen cells must have their colours (in the light and the dark
scheme); from the DOM, each row's text must be the text file's line; wide
characters must leave the columns after them where narrow ones do.

usage: page_in_browser.py VTSNAP VTSNAP_RENDER WORKDIR
"""
import html.parser
import os
import shutil
import struct
import subprocess
import sys
import zlib

ROWS = 10
COLS = 120
ESC = "\x1b["
MARK = (0x12, 0x34, 0x56)    # the screen's corners, to find its cells
ALIGN = (0xFF, 0x00, 0xAA)   # column 4 after wide and narrow characters
FULL = "\u2588"              # a full block: its middle shows the foreground


def bg(rgb):
    return ESC + "48;2;%d;%d;%dm" % rgb


def stream():
    rows = [
        bg(MARK) + " " + ESC + "0mM" + ESC + "1;120H" + bg(MARK) + " " + ESC + "0m\r\n",
        # basic, bright, 256 cube, grey ramp, direct, default: a block then a blank
        ESC + "31;42m" + FULL + " " + ESC + "0m " + ESC + "91;104m" + FULL + " " + ESC + "0m "
        + ESC + "38;5;208;48;5;25m" + FULL + " " + ESC + "0m " + ESC + "38;5;240;48;5;250m" + FULL + " "
        + ESC + "0m " + ESC + "38;2;10;200;30;48;2;200;10;150m" + FULL + " " + ESC + "0m " + FULL + " <b>&amp;\r\n",
        "status" + ESC + "44m" + ESC + "K" + ESC + "0m\r\n",
        "x" + ESC + "43m   " + ESC + "0m\r\n",
        "\u4e2d\u6587" + bg(ALIGN) + " " + ESC + "0mtail\r\n",
        "abcd" + bg(ALIGN) + " " + ESC + "0mtail\r\n",
        "\u2705\u2705" + bg(ALIGN) + " " + ESC + "0mtail e\u0301 \u2500\u2500\r\n",
        "</pre><script>alert(1)</script>\u2028'\"\r\n",
        "\r\n",
        bg(MARK) + " " + ESC + "0mM",
    ]
    return "".join(rows).encode("utf-8")


# (row, column, background or None, foreground of a block or None) in each scheme
LIGHT = "light"
DARK = "dark"
CELLS = [
    (1, 0, None, (0xCD, 0x00, 0x00)), (1, 1, (0x00, 0xCD, 0x00), None),      # basic
    (1, 3, None, (0xFF, 0x00, 0x00)), (1, 4, (0x5C, 0x5C, 0xFF), None),      # bright
    (1, 6, None, (0xFF, 0x87, 0x00)), (1, 7, (0x00, 0x5F, 0xAF), None),      # 256: cube
    (1, 9, None, (0x58, 0x58, 0x58)), (1, 10, (0xBC, 0xBC, 0xBC), None),     # 256: greys
    (1, 12, None, (10, 200, 30)), (1, 13, (200, 10, 150), None),             # direct
    (2, 60, (0x00, 0x00, 0xEE), None), (2, 119, (0x00, 0x00, 0xEE), None),  # coloured blanks to the end
    (3, 2, (0xCD, 0xCD, 0x00), None),                                        # coloured blanks after text
]
DEFAULTS = {LIGHT: ((0x00, 0x00, 0x00), (0xFF, 0xFF, 0xFF)), DARK: ((0xE5, 0xE5, 0xE5), (0x00, 0x00, 0x00))}


def read_png(path):
    """Width, height and rows of RGB tuples of an 8-bit, non-interlaced PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and interlace == 0 and colour in (2, 6), header
    step = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * step
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up = previous[i]
            corner = previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append([tuple(line[x * step:x * step + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def extent(pixels, colour, y_range=None):
    """Bounding box (x0, y0, x1, y1), exclusive, of the pixels of one colour."""
    xs, ys = [], []
    for y, row in enumerate(pixels):
        if y_range and not (y_range[0] <= y < y_range[1]):
            continue
        for x, p in enumerate(row):
            if p == colour:
                xs.append(x)
                ys.append(y)
    if not xs:
        return None
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


class RowText(html.parser.HTMLParser):
    """The text of each element of class "r", as the DOM holds it."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.rows, self.depth, self.tags = [], 0, []

    def handle_starttag(self, tag, attrs):
        if tag == "div" and ("class", "r") in attrs:
            self.rows.append("")
            self.depth = 1
        elif self.depth:
            self.depth += 1
        self.tags.append(tag)

    def handle_endtag(self, tag):
        if self.depth:
            self.depth -= 1

    def handle_data(self, data):
        if self.depth:
            self.rows[-1] += data


def chromium(*args):
    command = [shutil.which("chromium") or "chromium", "--headless", "--no-sandbox", "--disable-gpu",
               "--hide-scrollbars", "--force-device-scale-factor=1", "--no-first-run", *args]
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120, check=True).stdout


class Shot:
    """A file as headless Chromium shows it in one colour scheme, with the cell grid that the corner marks bound
    (`found` is False without them)."""

    def __init__(self, path, scheme, png):
        chromium("--window-size=1100,230", "--screenshot=" + png,
                 *(["--force-dark-mode"] if scheme == DARK else []), "file://" + path)
        _, _, self.pixels = read_png(png)
        box = extent(self.pixels, MARK)
        self.found = box is not None
        if self.found:
            self.left, self.top, right, bottom = box
            self.cell_w, self.cell_h = (right - self.left) / COLS, (bottom - self.top) / ROWS

    def centre(self, row, col):
        return self.pixels[int(self.top + (row + 0.5) * self.cell_h)][int(self.left + (col + 0.5) * self.cell_w)]


class Checks:
    """Checks that print as they go and are counted: check(ok, what)."""

    def __init__(self, work):
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        self.failures = []

    def __call__(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures.append(what)

    def end(self, what):
        print("%s: %d checks failed" % (what, len(self.failures)))
        return 1 if self.failures else 0


def file_lines(path):
    """The lines of a text file vtsnap wrote."""
    return open(path, "rb").read().decode("utf-8").lstrip("\ufeff").split("\r\n")[:-1]


def check_cells(check, what, shot, cells):
    """Each (row, col, background, foreground) cell shows its background, or its foreground where it has none."""
    for row, col, background, foreground in cells:
        want = background or foreground
        got = shot.centre(row, col)
        check(got == want, "%s: row %d column %d is %02x%02x%02x (got %02x%02x%02x)" % ((what, row, col) + want + got))


def main():
    vtsnap, render, work = sys.argv[1:4]
    check = Checks(work)

    recorded = os.path.join(work, "stream.bin")
    with open(recorded, "wb") as f:
        f.write(stream())
    page = os.path.join(work, "page.html")
    text = os.path.join(work, "screen.txt")
    run = subprocess.run([vtsnap, "-rows=%d" % ROWS, "-html=" + page, "cat", recorded, text], timeout=60)
    check(run.returncode == 0, "vtsnap ends with 0")
    replayed = os.path.join(work, "replayed.html")
    run = subprocess.run([render, "-rows=%d" % ROWS, "-html=" + replayed, recorded, os.path.join(work, "r.txt")])
    check(run.returncode == 0 and open(replayed, "rb").read() == open(page, "rb").read(),
          "vtsnap-render writes the same page for the same stream")

    # The DOM: each row's text is the text file's line; no element came from the program.
    parser = RowText()
    parser.feed(chromium("--dump-dom", "file://" + page).decode("utf-8"))
    lines = file_lines(text)
    check(parser.rows == lines, "the DOM's rows are the text file's lines")
    if parser.rows != lines:
        for got, want in zip(parser.rows, lines):
            print("   page %r\n   file %r" % (got, want))
    check(not {"script", "pre", "b"} & set(parser.tags), "no element of the program's making")

    for scheme in (LIGHT, DARK):
        shot = Shot(page, scheme, os.path.join(work, "page-%s.png" % scheme))
        check(shot.found, scheme + ": the corner marks are there")
        if not shot.found:
            continue
        fg, bg_default = DEFAULTS[scheme]
        check_cells(check, scheme, shot, CELLS + [(1, 15, None, fg), (1, 16, bg_default, None), (3, 5, bg_default, None)])

        # Column 4 begins at the same place after two wide characters as after four narrow ones.
        starts = []
        for row in (4, 5, 6):
            band = (int(shot.top + row * shot.cell_h) + 2, int(shot.top + (row + 1) * shot.cell_h) - 2)
            mark = extent(shot.pixels, ALIGN, band)
            starts.append(mark[0] if mark else None)
        expected = shot.left + 4 * shot.cell_w
        check(None not in starts and max(starts) - min(starts) <= 1 and abs(starts[0] - expected) <= 1.5,
              "%s: column 4 starts at x=%.1f after wide and narrow characters alike (%s)" % (scheme, expected, starts))

    return check.end("page in the browser")


if __name__ == "__main__":
    sys.exit(main())
