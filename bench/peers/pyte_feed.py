# Feeds the first megabyte of a recorded stream to pyte in 4096-byte blocks
# and prints MB/s (pyte is too slow for the whole stream).
import sys
import time

import pyte

data = open(sys.argv[1], "rb").read()[: 1 << 20]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 100
screen = pyte.Screen(120, rows)
stream = pyte.ByteStream(screen)
start = time.perf_counter()
for at in range(0, len(data), 4096):
    stream.feed(data[at : at + 4096])
print("%.1f" % (len(data) / (time.perf_counter() - start) / 1e6))
