#!/usr/bin/env bash
# Makes the width table afresh from the Unicode Character Database and fails
# on any difference from the committed terminal/char_width_table.hpp.
#   bash tests/char_width_table.sh [UCD]
# UCD defaults to /usr/share/unicode (Debian's unicode-data). Exit 77
# (skipped) when python3 or the database is missing, except under CI=true.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
ucd=${1:-/usr/share/unicode}

unavailable() {
  echo "char_width_table: $1" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  echo "char_width_table: skipped" >&2
  exit 77
}
command -v python3 >/dev/null || unavailable "python3 is not installed (tests/setup-debian.sh installs it)"
[ -f "$ucd/DerivedAge.txt" ] || unavailable "$ucd/DerivedAge.txt is missing (tests/setup-debian.sh installs unicode-data)"

made=$(mktemp)
trap 'rm -f "$made"' EXIT
python3 "$source_dir/tools/make_width_table.py" --data "$ucd" --output "$made" || exit 1
if ! cmp -s "$made" "$source_dir/terminal/char_width_table.hpp"; then
  echo "terminal/char_width_table.hpp differs from the table made from $ucd:"
  diff "$source_dir/terminal/char_width_table.hpp" "$made" | head -n 20
  echo "run: python3 tools/make_width_table.py --output terminal/char_width_table.hpp"
  exit 1
fi
echo "char_width_table: terminal/char_width_table.hpp is what $ucd makes"
