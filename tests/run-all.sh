#!/usr/bin/env bash
# Every test of the project, from a fresh Debian 12 machine: installs what is
# missing, then runs each stage in tests/stages/ in turn.
set -uo pipefail
cd "$(dirname "$0")/.."

bash tests/setup-debian.sh || { echo "setup failed"; exit 1; }

passed=0 failed=0 failures=()
for stage in native windows sanitizers fuzz; do
  script=tests/stages/$stage.sh
  [ -f "$script" ] || continue
  echo "=== stage: $stage"
  start=$SECONDS
  if bash "$script"; then
    passed=$((passed + 1))
    echo "=== stage $stage passed in $((SECONDS - start)) s"
  else
    failed=$((failed + 1)); failures+=("$stage")
    echo "=== stage $stage FAILED after $((SECONDS - start)) s"
  fi
done

((failed)) && echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
exit $((failed > 0))
