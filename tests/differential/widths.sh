#!/usr/bin/env bash
# Compares charWidth with xterm.js's Unicode 11 widths on every code point
# Unicode 11 assigns (xterm_widths.js).
#   bash tests/differential/widths.sh WIDTHS [UCD]
# WIDTHS: the vtsnap-widths program; UCD: the Unicode Character Database
# (default /usr/share/unicode, Debian's unicode-data). Exit 77 (skipped) when
# node, xterm.js or the database cannot be had, except under CI=true.
set -uo pipefail
source "$(dirname "$0")/xterm_modules.sh"

ucd=${2:-/usr/share/unicode}
[ -f "$ucd/DerivedAge.txt" ] || unavailable "$ucd/DerivedAge.txt is missing (tests/setup-debian.sh installs unicode-data)"
NODE_PATH=$modules/node_modules exec node "$source_dir/tests/differential/xterm_widths.js" --widths "$1" --ucd "$ucd"
