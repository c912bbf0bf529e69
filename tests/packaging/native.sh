#!/usr/bin/env bash
# The native build as users get it: installed by `cmake --install` into a
# temporary prefix, and packed by CPack into a .deb whose control fields,
# contents and lintian verdict are checked. The installed and the unpacked
# tools are run on a demo program, and the manual page must render without a
# warning. Run after the native build (tests/stages/native.sh does).
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/packaging/common.sh

build=build
work=$PWD/$build/packaging-tests
rm -rf "$work"
mkdir -p "$work"
version=$(project_version "$build")
arch=$(dpkg --print-architecture)

# run_demo BINDIR DIR: vtsnap from BINDIR passes the demo's exit code on and
# leaves its screen in the file; vtsnap-render makes the same file of the
# demo's bytes.
run_demo() {
  local bin=$1 dir=$2 status
  mkdir -p "$dir"
  demo_file >"$dir/expected.txt"
  (cd "$dir" && "$bin/vtsnap" -rows=5 -color sh -c "printf '$demo_stream'; exit $demo_exit" demo.txt)
  status=$?
  [ "$status" -eq "$demo_exit" ] || { echo "vtsnap: exit $status, expected $demo_exit"; return 1; }
  same_bytes "$dir/expected.txt" "$dir/demo.txt" || return 1
  # shellcheck disable=SC2059
  printf "$demo_stream" | "$bin/vtsnap-render" -rows=5 -color - - >"$dir/rendered.txt" || return 1
  same_bytes "$dir/expected.txt" "$dir/rendered.txt"
}

# The options of the README's usage lines: `tool [-opt] [-opt=N] ... operands`
# and `tool --opt` alone.
readme_options() {
  local tool='^ +(build/)?vtsnap(-render)?(\.exe)? '
  {
    grep -E "$tool\\[" README.md | grep -oE '\[-{1,2}[a-zA-Z]+(=[A-Z]+)?\]' | tr -d '[]'
    grep -E "$tool--?[a-z]+\$" README.md | grep -oE -- '--?[a-z]+$'
  } | sort -u
}

# man_page PAGE: groff and man render it without a warning; it has the
# sections users look for, and every option of the README's usage lines.
man_page() {
  local page=$1 text warnings section option missing=()
  warnings=$(zcat -f "$page" | groff -man -ww -z 2>&1) || return 1
  [ -z "$warnings" ] || { echo "groff -ww: $warnings"; return 1; }
  warnings=$(MANWIDTH=100 man --warnings=w -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "man -l: $warnings"; return 1; }
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "THE OUTPUT FILE" "EXIT STATUS" TERM \
                 "DIFFERENCES FROM A REAL TERMINAL" EXAMPLES; do
    grep -qx "$section" <<<"$text" || missing+=("section $section")
  done
  while read -r option; do
    grep -qF -- "$option" <<<"$text" || missing+=("option $option")
  done < <(readme_options)
  ((${#missing[@]} == 0)) || { printf 'missing: %s\n' "${missing[@]}"; return 1; }
}

# --- cmake --install into a temporary prefix
prefix=$work/prefix
installed() {
  cmake --install "$build" --prefix "$prefix" || return 1
  expect_lines "bin
bin/vtsnap
bin/vtsnap-render
include
include/vtsnap
include/vtsnap/vtsnap.hpp
lib
lib/cmake
lib/cmake/vtsnap
lib/cmake/vtsnap/vtsnapConfig.cmake
lib/cmake/vtsnap/vtsnapConfigVersion.cmake
lib/cmake/vtsnap/vtsnapTargets-relwithdebinfo.cmake
lib/cmake/vtsnap/vtsnapTargets.cmake
lib/libvtsnap.a
share
share/doc
share/doc/vtsnap
share/doc/vtsnap/README.md
share/man
share/man/man1
share/man/man1/vtsnap-render.1
share/man/man1/vtsnap.1" "$(cd "$prefix" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)" || return 1
  [ "$(readlink "$prefix/share/man/man1/vtsnap-render.1")" = vtsnap.1 ] || { echo "vtsnap-render.1 is no link to vtsnap.1"; return 1; }
  cmp -s README.md "$prefix/share/doc/vtsnap/README.md" || { echo "the installed README differs"; return 1; }
}
check "cmake --install into a temporary prefix lays out the tools, the manual page, the README and the library" installed
check "the installed tools run the demo" run_demo "$prefix/bin" "$work/run-installed"
# prints_version BINDIR: both tools print the package's version.
prints_version() {
  local tool
  for tool in vtsnap vtsnap-render; do
    "$1/$tool" --version | grep -qE "^$tool ${version//./\\.}( \(commit [0-9a-f]+\))?\$" ||
      { echo "$tool --version: $("$1/$tool" --version)"; return 1; }
  done
}
check "the installed tools print the version $version" prints_version "$prefix/bin"
check "the installed manual page renders without a warning and covers every option" \
  man_page "$prefix/share/man/man1/vtsnap.1"
# man_by_name MANDIR: `man vtsnap` and `man vtsnap-render` find the page there.
man_by_name() {
  local page
  for page in vtsnap vtsnap-render; do
    MANWIDTH=80 man -M "$1" "$page" 2>&1 | grep -q '^VTSNAP(1)' || { echo "man $page: no page"; return 1; }
  done
}
check "man finds vtsnap and vtsnap-render in the prefix" man_by_name "$prefix/share/man"

# --- the .deb
deb=$work/deb/vtsnap_${version}_${arch}.deb
made_deb() {
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" || return 1
  [ -f "$deb" ] || { echo "no $deb"; ls "$work/deb"; return 1; }
}
check "cpack makes $(basename "$deb")" made_deb

control_fields() {
  local info field expected got
  info=$(dpkg-deb --info "$deb") || return 1
  grep -qE '^ +[0-9]+ bytes, +[0-9]+ lines +control' <<<"$info" || { echo "no control file: $info"; return 1; }
  grep -qE '^ +[0-9]+ bytes, +[0-9]+ lines +md5sums' <<<"$info" || { echo "no md5sums: $info"; return 1; }
  while IFS='|' read -r field expected; do
    got=$(dpkg-deb -f "$deb" "$field" | head -n 1)
    [[ $got =~ ^$expected$ ]] || { echo "$field: '$got' does not match '$expected'"; return 1; }
  done <<EOF
Package|vtsnap
Version|${version//./\\.}
Architecture|$arch
Section|utils
Priority|optional
Depends|libc6 \(>= [0-9.]+\)
Maintainer|[^<>]+ <[^<>@ ]+@[^<>@ ]+>
Installed-Size|[0-9]+
Description|keeps a text file of a console program's screen
EOF
  # The long description: indented lines of at most 80 columns.
  awk '/^Description:/ {d = 1; next} d && /^ / {n++; if (length($0) > 80) bad = 1} d && !/^ / {d = 0}
       END {exit !(n > 0 && !bad)}' <(dpkg-deb -f "$deb") || { echo "no or overlong long description"; return 1; }
  # It names every file the tool writes.
  local described
  described=$(dpkg-deb -f "$deb" Description | tr -s ' \n' ' ')
  for name in "transcript" "web page" "asciicast recording"; do
    grep -q "$name" <<<"$described" || { echo "the description does not name the $name"; return 1; }
  done
}
check "dpkg-deb --info: the control fields, libc the only dependency" control_fields

contents() {
  local listing
  listing=$(dpkg-deb --contents "$deb") || return 1
  # Mode, owner, path and link target; times and sizes aside.
  expect_lines "drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/vtsnap
-rwxr-xr-x root/root ./usr/bin/vtsnap-render
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/vtsnap/
-rw-r--r-- root/root ./usr/share/doc/vtsnap/README.md
-rw-r--r-- root/root ./usr/share/doc/vtsnap/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vtsnap/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
lrwxrwxrwx root/root ./usr/share/man/man1/vtsnap-render.1.gz -> vtsnap.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/vtsnap.1.gz" \
    "$(awk '{line = $1 " " $2 " " $6; for (i = 7; i <= NF; i++) line = line " " $i; print line}' <<<"$listing" |
       LC_ALL=C sort -k3)"
}
check "dpkg-deb --contents: the tools, the manual page, the README, copyright and changelog" contents

root=$work/unpacked
unpacked() {
  dpkg-deb -x "$deb" "$root" || return 1
  file "$root/usr/bin/vtsnap" "$root/usr/bin/vtsnap-render" | grep -v ', stripped$' && return 1
  zcat "$root/usr/share/doc/vtsnap/changelog.gz" | head -n 1 | grep -qF "vtsnap ($version)" ||
    { echo "the changelog is not of $version"; return 1; }
}
check "dpkg-deb -x unpacks it: stripped tools, a changelog of $version" unpacked
check "the unpacked tools run the demo" run_demo "$root/usr/bin" "$work/run-unpacked"
check "the packed manual page renders without a warning" man_page "$root/usr/share/man/man1/vtsnap.1.gz"
check "man finds vtsnap and vtsnap-render in the package" man_by_name "$root/usr/share/man"

lintian_clean() {
  local status
  lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1
  status=$?
  grep -v 'running with root privileges' "$work/lintian.txt"
  return "$status"
}
check "lintian: no error and no warning" lintian_clean

echo "packaging (native): $passed passed, $failed failed"
exit $((failed > 0))
