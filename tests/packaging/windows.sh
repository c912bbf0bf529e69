#!/usr/bin/env bash
# The Windows zip as users get it, packed by CPack from the windows build: it
# holds the two executables beside the README, and both run under Wine from
# the unpacked folder. Run after the windows build (tests/stages/windows.sh
# does, in its Wine prefix).
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/packaging/common.sh

build=build-windows
work=$PWD/$build/packaging-tests
rm -rf "$work"
mkdir -p "$work"
version=$(project_version "$build")

export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed"; exit 1; }
fi

name=vtsnap-$version-win64
zip=$work/$name.zip
made_zip() {
  cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work" || return 1
  [ -f "$zip" ] || { echo "no $zip"; ls "$work"; return 1; }
  expect_lines "$name/README.md
$name/vtsnap-render.exe
$name/vtsnap.exe" "$(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort)"
}
check "cpack makes $name.zip: the two executables beside the README" made_zip

folder=$work/unzipped/$name
unzip -q "$zip" -d "$work/unzipped"
cp "$build/vtsnap_test_child.exe" "$work/unzipped/"

# vtsnap.exe from a terminal, as a user at a console runs it, so that Wine
# gives it and the program console handles.
runs_vtsnap() {
  local status
  (cd "$folder" &&
   script -qec 'wine vtsnap.exe -rows=5 ../vtsnap_test_child.exe print packaged exit 7 demo.txt' /dev/null \
     </dev/null >/dev/null)
  status=$?
  [ "$status" -eq 7 ] || { echo "exit $status, expected 7"; return 1; }
  same_bytes <(printf '\357\273\277packaged\r\n') "$folder/demo.txt"
}
check "the unzipped vtsnap.exe runs a program under Wine" runs_vtsnap

runs_render() {
  # shellcheck disable=SC2059
  printf "$demo_stream" >"$work/demo.vt"
  (cd "$folder" && wine vtsnap-render.exe -rows=5 -color ../../demo.vt rendered.txt </dev/null) || return 1
  same_bytes <(demo_file) "$folder/rendered.txt"
}
check "the unzipped vtsnap-render.exe replays the demo under Wine" runs_render

wineserver -w
echo "packaging (windows): $passed passed, $failed failed"
exit $((failed > 0))
