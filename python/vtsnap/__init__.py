"""vtsnap's terminal emulator for Python programs that read screens.

A Screen interprets a program's output (UTF-8 text and VT control sequences)
exactly as the vtsnap tool does, and gives its rows, cells and cursor, and the
file vtsnap would write for it::

    import vtsnap
    screen = vtsnap.Screen(20, 3)
    screen.feed(b"hi\\x1b[31m!")
    screen.text()          # 'hi!\\r\\n'
    screen.cell(0, 2).fg   # 1: palette red

render() replays a whole stream or asciicast recording in one call, and run()
runs a program on a pseudo terminal and returns its final screen.
"""

import os
import select
import subprocess
import sys
import time

from ._vtsnap import Cell, Screen, render_bytes

__all__ = ["Cell", "Screen", "RunResult", "render", "run"]


def render(data, cols=None, rows=None, color=False):
    """The text of vtsnap's screen file for `data`, without the byte-order mark.

    `data` is a raw output stream or an asciicast recording of version 2 or 3
    (bytes, bytearray, memoryview or str), replayed as vtsnap-render replays
    it. The screen is `cols` x `rows`; None takes a recording's size, or
    120 x 100. Raises ValueError for a size outside 1 to 32767, a recording of
    another version, one whose header asks for more than 8388608 cells (pass
    `cols` and `rows` to replay it at a size of your choosing) or one with a
    line that is not an event; TypeError for data of another type.
    """
    return render_bytes(data, cols, rows, color)[3:].decode("utf-8")


class RunResult:
    """What run() returns: the program's exit code, its final Screen, and the
    transcript (the text of every row that left the top of the screen, then
    the final screen's) when run() was asked for it, else None."""

    def __init__(self, exit_code, screen, transcript):
        self.exit_code = exit_code
        self.screen = screen
        self.transcript = transcript

    def __repr__(self):
        return "RunResult(exit_code=%r, screen=%r)" % (self.exit_code, self.screen)


def run(args, rows=100, color=False, cwd=None, env=None, timeout=None, transcript=False):
    """Runs a program on a pseudo terminal of 120 columns and `rows` rows, as
    vtsnap does (TERM=screen-256color), and returns a RunResult once it has
    ended and its output is read.

    `args` is a list of strings, as subprocess takes it; `cwd` and `env` are
    passed on. The program's exit code is returned as vtsnap returns it: 128
    + the signal's number when a signal ended it. With `transcript`, the
    result also holds the transcript as vtsnap's -log= writes it (without the
    byte-order mark; `color` keeps its colours).

    `timeout` (seconds) raises TimeoutError when the program has not ended by
    then; the program is left running, for the caller to end: vtsnap never
    ends a program itself.

    POSIX only: raises NotImplementedError on Windows.
    """
    if sys.platform == "win32":
        raise NotImplementedError("vtsnap.run() needs a POSIX pseudo terminal")
    import fcntl
    import pty
    import struct
    import termios

    screen = Screen(rows=int(rows))  # 120 columns; ValueError for a height outside 1 to 32767
    environment = dict(os.environ if env is None else env)
    environment["TERM"] = "screen-256color"
    master, slave = pty.openpty()
    try:
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", screen.rows, screen.cols, 0, 0))
        process = subprocess.Popen(args, stdin=slave, stdout=slave, stderr=slave, cwd=cwd, env=environment,
                                   start_new_session=True, close_fds=True)
    except BaseException:
        os.close(master)
        os.close(slave)
        raise
    os.close(slave)
    deadline = None if timeout is None else time.monotonic() + timeout
    if transcript:
        screen.keep_transcript(color)
    try:
        while True:
            wait = None if deadline is None else max(0.0, deadline - time.monotonic())
            ready, _, _ = select.select([master], [], [], wait)
            if not ready:
                raise TimeoutError("%r has not ended after %s seconds" % (args, timeout))
            try:
                block = os.read(master, 65536)
            except OSError:  # EIO: every copy of the terminal's other side is closed
                block = b""
            if not block:
                break
            screen.feed(block)
    finally:
        os.close(master)
    status = process.wait()
    exit_code = 128 - status if status < 0 else status
    return RunResult(exit_code, screen, screen.transcript() if transcript else None)

