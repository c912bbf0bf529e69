#!/usr/bin/env bash
# vtsnap's recordings against the real asciinema, both ways: `asciinema cat`
# of a recording gives back the bytes the program wrote, and asciinema's own
# recording of the same program replays in vtsnap-render to the file vtsnap
# wrote live.
#   asciinema.sh VTSNAP VTSNAP_RENDER
set -euo pipefail
vtsnap=$1
render=$2
for tool in asciinema script python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run tests/setup-debian.sh" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export ASCIINEMA_CONFIG_HOME=$work/config
fail() { echo "FAIL: $*" >&2; exit 1; }

# The program's output: enough multi-byte text that reads cut characters
# apart, colours of every kind, wide characters, cursor movement and a final
# screen drawn over what scrolled. `stty -opost` lets the bytes through the
# terminal unchanged, so they are also what a recording must hold.
python3 - <<'EOF'
import random
random.seed(19)
words = ["caf\u00e9", "\u20ac5", "\U0001F600", "\u65e5\u672c\u8a9e", "plain", "\x1b[31mred\x1b[0m",
         "\x1b[38;5;208m256\x1b[39m", "\x1b[48;2;10;20;30mdirect\x1b[49m", "tab\there", "\"quoted\\\""]
out = []
for line in range(6000):
    out.append(" ".join(random.choice(words) for _ in range(random.randint(1, 12))) + "\r\n")
out.append("\x1b[2J\x1b[H\x1b[1;33mtitle\x1b[0m\x1b[5;10Hmoved \u2588\u2588 \u5168\u89d2\x1b[10;1H\x1b[7mstatus\x1b[K\x1b[0m\r\n")
open("payload.bin", "wb").write("".join(out).encode("utf-8"))
open("bad.bin", "wb").write(b"a\xffb\xe2\x82c\r\n")
EOF
# asciinema rec, its input at its end, loses the last output of a program
# that ends at once: the program lingers a moment after its output.
program="stty -opost; cat $work/payload.bin; sleep 0.5"

"$vtsnap" -rows=30 -color -record=vtsnap.cast sh -c "$program" live.txt || fail "vtsnap ended with $?"

# Every line is JSON; the header and the events have asciicast v2's layout.
python3 - vtsnap.cast <<'EOF' || fail "vtsnap.cast is not asciicast v2"
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
assert lines[-1] == "", "the file ends with a line end"
header = json.loads(lines[0])
assert header["version"] == 2 and header["width"] == 120 and header["height"] == 30, header
assert isinstance(header["timestamp"], int) and header["env"] == {"TERM": "screen-256color"}, header
last = 0
for line in lines[1:-1]:
    time, kind, text = json.loads(line)
    assert kind == "o" and isinstance(text, str) and text and time >= last, line
    last = time
assert len(lines) > 10, "one event per block read"
EOF

# asciinema cat needs a terminal of its own; what it writes goes to a file.
script -qec "asciinema cat vtsnap.cast > cat.bin" /dev/null </dev/null >/dev/null
cmp cat.bin payload.bin || fail "asciinema cat does not give back the program's bytes"

# The one difference from the raw stream: bytes that are not UTF-8 become
# U+FFFF, which the screen drops as it drops them; replayed, the recording
# gives the live screen.
"$vtsnap" -record=bad.cast sh -c "stty -opost; cat $work/bad.bin" bad.txt
script -qec "asciinema cat bad.cast > bad-cat.bin" /dev/null </dev/null >/dev/null
printf 'a\357\277\277b\357\277\277c\r\n' > bad-expected.bin
cmp bad-cat.bin bad-expected.bin || fail "bytes that are not UTF-8 do not become U+FFFF"
"$render" bad.cast bad-replay.txt
cmp bad-replay.txt bad.txt || fail "a recording of bytes that are not UTF-8 does not replay to the live screen"

# asciinema's recording of the same program, on a terminal of the same size,
# replays to the file vtsnap wrote live; so does vtsnap's own.
script -qec "asciinema rec -q --overwrite --cols 120 --rows 30 -c '$program' asciinema.cast" /dev/null \
  </dev/null >/dev/null
[ -s asciinema.cast ] || fail "asciinema rec made no recording"
"$render" -color asciinema.cast replay.txt || fail "vtsnap-render ended with $?"
cmp replay.txt live.txt || fail "asciinema's recording does not replay to the live screen"
"$render" -color vtsnap.cast own.txt
cmp own.txt live.txt || fail "vtsnap's recording does not replay to the live screen"
grep -q "status" live.txt || fail "the live screen lacks the final screen"
echo "asciinema round trips: $(wc -l < vtsnap.cast) lines recorded, $(wc -l < asciinema.cast) by asciinema"
