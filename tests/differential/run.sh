#!/usr/bin/env bash
# Runs the differential test: installs xterm.js headless from the pinned
# package-lock.json into the build tree when it is missing, then compares.
#   bash tests/differential/run.sh [--count N] [--first N] [--shrink] [--show N]
#                                  [--recordings DIR] [--render PATH] [--gen PATH]
# Defaults: the native build in build/, no generated streams unless --count.
# Exit 77 (skipped) when node or xterm.js cannot be had, except under CI=true,
# where that is a failure.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=${VTSNAP_BUILD:-$source_dir/build}
modules=$build/differential-node

unavailable() {
  echo "differential: $1" >&2
  if [ "${CI:-}" = true ]; then exit 1; fi
  echo "differential: skipped" >&2
  exit 77
}

command -v node >/dev/null || unavailable "node is not installed (tests/setup-debian.sh installs it)"
lock=$source_dir/tests/differential/package-lock.json
if [ ! -f "$modules/node_modules/@xterm/headless/package.json" ] || ! cmp -s "$lock" "$modules/package-lock.json"; then
  command -v npm >/dev/null || unavailable "npm is not installed (tests/setup-debian.sh installs it)"
  mkdir -p "$modules"
  cp "$source_dir/tests/differential/package.json" "$lock" "$modules/"
  npm ci --prefix "$modules" --no-audit --no-fund --silent >"$modules/npm.log" 2>&1 ||
    unavailable "npm ci failed: $(tail -n 3 "$modules/npm.log")"
fi

render=$build/vtsnap-render
[ -x "$render" ] || render=$build/tools/vtsnap-render
NODE_PATH=$modules/node_modules exec node "$source_dir/tests/differential/differential.js" \
  --render "$render" --gen "$build/tests/vtsnap-diffgen" "$@"
