# The table of bench/python-table: python_table.py DIR PYTE_SLICE.
# Memory is read as the peak resident size of a process feeding the stream
# once and eight times over: flat in the input's size when the two agree.
import os
import subprocess
import sys
import time

import pyte

import vtsnap

BLOCK = 64 << 10
STREAMS = ["plain", "sgr", "redraw", "utf8", "progress", "ls-lR", "dpkg-l", "top"]
work, slice_bytes = sys.argv[1], int(sys.argv[2])


def best_rate(feed, data, passes=5):
    best = 0.0
    for _ in range(passes):
        view = memoryview(data)
        start = time.perf_counter()
        for at in range(0, len(data), BLOCK):
            feed(view[at:at + BLOCK])
        best = max(best, len(data) / (time.perf_counter() - start) / 1e6)
    return best


def peak_memory(path, repeat):
    """Peak resident memory (MB) of a process that feeds the stream `repeat`
    times over, read a block at a time."""
    code = ("import resource, sys, vtsnap\n"
            "s = vtsnap.Screen(120, 100)\n"
            "for _ in range(%d):\n"
            "    with open(sys.argv[1], 'rb') as f:\n"
            "        while block := f.read(%d): s.feed(block)\n"
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)\n" % (repeat, BLOCK))
    out = subprocess.run([sys.executable, "-c", code, path], check=True, capture_output=True, text=True).stdout
    return int(out) / 1024


print("%-9s %11s %11s %8s %11s %9s" % ("stream", "C++", "Python", "Py/C++", "pyte", "Py/pyte"))
for name in STREAMS:
    path = os.path.join(work, name + ".vt")
    data = open(path, "rb").read()
    # C++ and Python take turns, so that a busy moment on the machine does not
    # fall on one side only; the best of all passes counts.
    cpp = py = 0.0
    for _ in range(3):
        cpp = max(cpp, float(subprocess.run(["build/bench/vtsnap-feed", path, "100", str(BLOCK)], check=True,
                                            capture_output=True, text=True).stdout))
        py = max(py, best_rate(vtsnap.Screen(120, 100).feed, data))
    peer = pyte.Screen(120, 100)
    stream = pyte.ByteStream(peer)
    slow = best_rate(lambda b: stream.feed(bytes(b)), data[:slice_bytes], passes=1)
    print("%-9s %7.0f MB/s %7.0f MB/s %7.0f%% %6.2f MB/s %8.0fx" % (name, cpp, py, 100 * py / cpp, slow, py / slow))

path = os.path.join(work, "sgr.vt")
size = os.path.getsize(path) / 1e6
print("peak memory feeding sgr: %.0f MB: %.1f MB; %.0f MB: %.1f MB (the interpreter included)"
      % (size, peak_memory(path, 1), 8 * size, peak_memory(path, 8)))
