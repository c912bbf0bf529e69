#!/usr/bin/env bash
# Cross build for Windows with mingw-w64, then the unit tests, the end-to-end
# tests and the zip's tests under Wine, in a Wine prefix inside the build tree.
set -uo pipefail
cd "$(dirname "$0")/../.."

build=build-windows
cmake --preset windows >/dev/null || exit 1
cmake --build --preset windows -j2 || exit 1

export WINEPREFIX=$PWD/$build/wineprefix WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and they would be offered for download.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix"
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
fi

passed=0 failed=0
pass() { passed=$((passed + $1)); }
fail() { failed=$((failed + $1)); echo "FAILED: $2"; }

# vtsnap.exe stands alone: a PE executable importing only system DLLs.
headers=$(x86_64-w64-mingw32-objdump -p "$build/vtsnap.exe")
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
if grep -q 'file format pei-x86-64' <<<"$headers" && grep -q 'Subsystem.*Windows CUI' <<<"$headers" &&
   [ -n "$imports" ] && ! grep -qvxE 'kernel32\.dll|msvcrt\.dll|shell32\.dll|ucrtbase\.dll|api-ms-win-.*' <<<"$imports"; then
  echo "vtsnap.exe: static PE, imports only" $imports
  pass 1
else
  fail 1 "vtsnap.exe is not a stand-alone PE executable (imports: $imports)"
fi

# Runs a GoogleTest executable and adds up its counts. `console` runs it from
# a pseudo terminal, so that Wine gives it (and the vtsnap.exe it starts)
# console handles, as a user at a Windows console would have; its report then
# goes to a file, since the terminal would get it mixed with cursor sequences.
run_gtest() {
  local name=$1 mode=$2 exe=$3 log status ok bad
  log=$build/$(basename "$exe" .exe).log
  if [ "$mode" = console ]; then
    script -qec "wine $(printf %q "$exe") --log=$(printf %q "$log")" /dev/null </dev/null >/dev/null
    status=$?
    tr -d '\r' <"$log"
  else
    wine "$exe" </dev/null 2>&1 | tr -d '\r' | tee "$log"
    status=${PIPESTATUS[0]}
  fi
  ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  rm -f "$log"
  pass "${ok:-0}"
  if [ "$status" -ne 0 ] || [ -z "$ok" ]; then fail "${bad:-1}" "$name"; fi
}

rm -rf "$build/e2e-work"
run_gtest "unit tests under Wine" plain "$build/vtsnap_tests.exe"
run_gtest "end-to-end tests under Wine" console "$build/vtsnap_e2e_tests.exe"

# The zip made from this build, unpacked and run.
if bash tests/packaging/windows.sh; then pass 1; else fail 1 "the Windows zip"; fi

wineserver -w
echo "windows: $passed passed, $failed failed"
exit $((failed > 0))
