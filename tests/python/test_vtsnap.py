"""The Python binding against the command line: the module's files equal
vtsnap-render's and vtsnap's, and its types, errors and cell values.

Run by ctest (PYTHONPATH=build/python, VTSNAP_BUILD=build); the emulator
itself is tested by the C++ suites.
"""

import glob
import os
import random
import subprocess
import threading

import pytest

import vtsnap

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VTSNAP_BUILD", os.path.join(SOURCE, "build"))


def render_tool(path, tmp_path, *options):
    out = tmp_path / "out.txt"
    subprocess.run([os.path.join(BUILD, "vtsnap-render"), *options, str(path), str(out)], check=True)
    return out.read_bytes()


def feed_in_blocks(screen, data, rng):
    at = 0
    while at < len(data):
        size = rng.choice([1, 2, 3, 7, 64, 4096, 65536])
        block = data[at:at + size]
        # Every kind of buffer the module takes.
        screen.feed(rng.choice([bytes, bytearray, memoryview])(block))
        at += size


@pytest.mark.parametrize("path", sorted(glob.glob(os.path.join(SOURCE, "tests/recordings/*.vt"))),
                         ids=os.path.basename)
def test_recordings_equal_vtsnap_render(path, tmp_path):
    data = open(path, "rb").read()
    rng = random.Random(path)
    for color in (False, True):
        option = ["-color"] if color else []
        want = render_tool(path, tmp_path, "-rows=40", *option)
        screen = vtsnap.Screen(120, 40)
        feed_in_blocks(screen, data, rng)
        assert screen.file_bytes(color) == want
        assert screen.text(color).encode() == want[3:]
        assert vtsnap.render(data, rows=40, color=color).encode() == want[3:]


def test_generated_streams_equal_vtsnap_render(tmp_path):
    subprocess.run([os.path.join(BUILD, "tests", "vtsnap-diffgen"), "--batch", "1", "300", str(tmp_path)],
                   check=True, stdout=subprocess.DEVNULL)
    rng = random.Random(1)
    for path in sorted(tmp_path.glob("*.vt")):
        color = rng.random() < 0.5
        want = render_tool(path, tmp_path, "-rows=30", "-cols=80", *(["-color"] if color else []))
        screen = vtsnap.Screen(80, 30)
        feed_in_blocks(screen, path.read_bytes(), rng)
        assert screen.file_bytes(color) == want, path.name


HEADER = '{"version": 2, "width": 10, "height": 2}'
REPLAYS = {
    "v2": HEADER + '\n[0.1, "o", "one\\r\\ntwo"]\n[0.2, "i", "ignored"]\n\n[0.3, "o", "\\r\\n\\u4e2d"]\n',
    "v3": '{"version": 3, "term": {"cols": 10, "rows": 2}}\n# note\n[0.1, "o", "one\\r\\n"]\n[0.2, "o", "two"]',
    "byte-order mark": "\ufeff" + HEADER + '\n[0.1, "o", "x"]\n',
    "header alone": HEADER,
    "raw, like a header": '{"not": "a header"}\nplain\n',
    "raw, a lone brace": "{\nplain\n",
    "version 1": '{"version": 1, "width": 10, "height": 2, "stdout": [[0.1, "x"]]}\n',
    "version 1 spread": '{\n  "version": 1,\n  "width": 10\n}\n',
    "not an event": HEADER + '\n[0.1, "o", "x"]\nnot an event\n',
    "too large": '{"version": 2, "width": 32767, "height": 32767}\n[0.1, "o", "x"]\n',
}


@pytest.mark.parametrize("name", REPLAYS)
def test_render_replays_as_vtsnap_render(name, tmp_path):
    data = REPLAYS[name]
    path, out = tmp_path / "input", tmp_path / "out.txt"
    path.write_bytes(data.encode())
    tool = subprocess.run([os.path.join(BUILD, "vtsnap-render"), str(path), str(out)], capture_output=True)
    if tool.returncode == 0:
        assert vtsnap.render(data) == vtsnap.render(data.encode()) == out.read_bytes()[3:].decode()
    else:
        assert tool.returncode == 1
        with pytest.raises(ValueError) as refused:
            vtsnap.render(data)
        # The same words, up to the hint that names each one's way to choose a size.
        assert tool.stderr.decode().split(";")[0] == f"vtsnap-render: {path}: {refused.value}\n".split(";")[0]


PROGRAMS = [
    ["sh", "-c", "printf 'plain\\n\\033[31mred\\033[0m \\344\\270\\255 e\\314\\201\\n'; exit 3"],
    ["sh", "-c", "seq 1 250"],
    ["sh", "-c", "printf 'abc\\rX\\033[2C!\\n'; kill -TERM $$"],
]


@pytest.mark.parametrize("args", PROGRAMS, ids=["colours", "scrolling", "signal"])
def test_run_equals_vtsnap(args, tmp_path):
    out, log = tmp_path / "screen.txt", tmp_path / "run.log"
    tool = subprocess.run([os.path.join(BUILD, "vtsnap"), "-rows=20", "-color", "-log=" + str(log), *args,
                           str(out)])
    result = vtsnap.run(args, rows=20, color=True, transcript=True)
    assert result.exit_code == tool.returncode
    assert result.screen.file_bytes(True) == out.read_bytes()
    assert result.transcript.encode() == log.read_bytes()[3:]


def test_run_timeout_leaves_the_program_running(tmp_path):
    marker = tmp_path / "ended"
    with pytest.raises(TimeoutError):
        vtsnap.run(["sh", "-c", "sleep 1; touch '%s'" % marker], timeout=0.2)
    assert not marker.exists()
    for _ in range(50):
        if marker.exists():
            break
        threading.Event().wait(0.1)
    assert marker.exists()


def test_cells_cursor_and_lines():
    screen = vtsnap.Screen(8, 3)
    screen.feed("a\x1b[1;31;44mb\x1b[38;5;200;48;2;1;2;3mc\x1b[0m\u4e2de\u0301\r\n x\t")
    cell = screen.cell
    assert (cell(0, 0).char, cell(0, 0).width, cell(0, 0).fg, cell(0, 0).bg) == ("a", 1, None, None)
    assert (cell(0, 1).fg, cell(0, 1).bg) == (1, 4)
    assert (cell(0, 2).fg, cell(0, 2).bg) == (200, (1, 2, 3))
    assert (cell(0, 3).char, cell(0, 3).width) == ("\u4e2d", 2)
    assert (cell(0, 4).char, cell(0, 4).width) == ("", 0)
    assert cell(0, 5).char == "e\u0301"
    assert screen.cursor == (1, 7)
    assert screen.lines() == ["abc\u4e2de\u0301", " x", ""]
    assert screen.text() == "abc\u4e2de\u0301\r\n x\r\n"
    assert "<span class=\"w\">\u4e2d</span>" in screen.html()
    assert (screen.cols, screen.rows) == (8, 3)
    screen.reset()
    assert screen.text() == "" and screen.cursor == (0, 0) and screen.rows == 3


@pytest.mark.parametrize("call, error", [
    (lambda: vtsnap.Screen(0, 5), ValueError),
    (lambda: vtsnap.Screen(5, 32768), ValueError),
    (lambda: vtsnap.Screen("5", 5), TypeError),
    (lambda: vtsnap.Screen().feed(5), TypeError),
    (lambda: vtsnap.Screen().feed(None), TypeError),
    (lambda: vtsnap.Screen(5, 5).cell(5, 0), IndexError),
    (lambda: vtsnap.Screen(5, 5).cell(0, -1), IndexError),
    (lambda: vtsnap.render(b"x", cols=0), ValueError),
    (lambda: vtsnap.render(3), TypeError),
    (lambda: vtsnap.run(["true"], rows=0), ValueError),
])
def test_errors(call, error):
    with pytest.raises(error):
        call()


def test_fuzz_corpus_feeds_alike_in_any_blocks():
    """Every input of the fuzz corpus, whole and in random blocks, from
    threads at once: no crash, and the same screen."""
    paths = sorted(glob.glob(os.path.join(SOURCE, "fuzz/corpus/screen/*")) +
                   glob.glob(os.path.join(SOURCE, "fuzz/regressions/screen/*")))
    assert paths
    failures = []

    def check(path, seed):
        data = open(path, "rb").read()
        whole = vtsnap.Screen(40, 10)
        whole.feed(data)
        for color in (False, True):
            pieces = vtsnap.Screen(40, 10)
            feed_in_blocks(pieces, data, random.Random(seed))
            if pieces.file_bytes(color) != whole.file_bytes(color) or pieces.cursor != whole.cursor:
                failures.append(path)
            whole.html()

    threads = [threading.Thread(target=check, args=(p, i)) for i, p in enumerate(paths)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_docstrings():
    for name in ["Screen", "Cell", "render", "run", "RunResult"]:
        assert getattr(vtsnap, name).__doc__
    for name in ["feed", "lines", "text", "file_bytes", "html", "cell", "reset", "cursor", "cols", "rows"]:
        assert getattr(vtsnap.Screen, name).__doc__, name
