# Sourced by run.sh and widths.sh: sets `modules` to a directory whose
# node_modules holds xterm.js headless and its Unicode 11 addon, installed
# from the pinned package-lock.json into the build tree when missing or out of
# date. Exits 77 (skipped) when node or npm cannot be had, except under
# CI=true, where that is a failure.
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
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
# Tests that run at once share the install: one installs while the others
# wait, and the lock file is copied beside the modules only once they are
# whole, so that it marks a finished install.
mkdir -p "$modules"
exec {install_lock}>"$modules/.installing"
flock "$install_lock"
if [ ! -f "$modules/node_modules/@xterm/headless/package.json" ] || ! cmp -s "$lock" "$modules/installed-lock.json"; then
  command -v npm >/dev/null || unavailable "npm is not installed (tests/setup-debian.sh installs it)"
  rm -f "$modules/installed-lock.json"
  cp "$source_dir/tests/differential/package.json" "$lock" "$modules/"
  npm ci --prefix "$modules" --no-audit --no-fund --silent >"$modules/npm.log" 2>&1 ||
    unavailable "npm ci failed: $(tail -n 3 "$modules/npm.log")"
  cp "$lock" "$modules/installed-lock.json"
fi
flock -u "$install_lock"
