#!/usr/bin/env bash
# Runs the differential test: installs xterm.js headless from the pinned
# package-lock.json into the build tree when it is missing, then compares.
#   bash tests/differential/run.sh [--count N] [--first N] [--wide] [--shrink]
#                                  [--show N] [--recordings DIR] [--render PATH]
#                                  [--gen PATH]
# Defaults: the native build in build/, no generated streams unless --count.
# Exit 77 (skipped) when node or xterm.js cannot be had, except under CI=true,
# where that is a failure.
set -uo pipefail
source "$(dirname "$0")/xterm_modules.sh"

render=$build/vtsnap-render
NODE_PATH=$modules/node_modules exec node "$source_dir/tests/differential/differential.js" \
  --render "$render" --gen "$build/tests/vtsnap-diffgen" "$@"
