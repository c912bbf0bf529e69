# Feeds the first BYTES of a recorded stream to pyte in 4096-byte blocks,
# prints the screen's text and exits. pyte is too slow for the whole stream:
# bench/compare times a slice and scales it to the stream's size.
#   python3 pyte_feed.py FILE BYTES [ROWS]
import sys

import pyte

with open(sys.argv[1], "rb") as f:
    data = f.read(int(sys.argv[2]))
rows = int(sys.argv[3]) if len(sys.argv) > 3 else 100
screen = pyte.Screen(120, rows)
stream = pyte.ByteStream(screen)
for at in range(0, len(data), 4096):
    stream.feed(data[at : at + 4096])
sys.stdout.write("\n".join(screen.display) + "\n")
