#!/usr/bin/env bash
# The native build as users get it: installed by `cmake --install` into a
# temporary prefix, and packed by CPack into two .debs, the tools and the
# Python module, whose control fields, contents and lintian verdict are
# checked. The installed and the unpacked tools are run on a demo program, the
# manual page must render without a warning, and the unpacked module runs the
# README's example, as does the module pip installs from the checkout. Run
# after the native build (tests/stages/native.sh does).
set -uo pipefail
# Outputs are read whole before grep -q looks at them: under pipefail, a grep
# that stops at its match kills the writer with SIGPIPE and fails the check.
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
  local tool line
  for tool in vtsnap vtsnap-render; do
    line=$("$1/$tool" --version)
    grep -qE "^$tool ${version//./\\.}( \(commit [0-9a-f]+\))?\$" <<<"$line" ||
      { echo "$tool --version: $line"; return 1; }
  done
}
check "the installed tools print the version $version" prints_version "$prefix/bin"
check "the installed manual page renders without a warning and covers every option" \
  man_page "$prefix/share/man/man1/vtsnap.1"
# man_by_name MANDIR: `man vtsnap` and `man vtsnap-render` find the page there.
man_by_name() {
  local page text
  for page in vtsnap vtsnap-render; do
    text=$(MANWIDTH=80 man -M "$1" "$page" 2>&1)
    grep -q '^VTSNAP(1)' <<<"$text" || { echo "man $page: no page"; return 1; }
  done
}
check "man finds vtsnap and vtsnap-render in the prefix" man_by_name "$prefix/share/man"

# --- the .debs: the tools, and the Python module for the interpreter the
# build chose
python=$(sed -n 's/^VTSNAP_PYTHON:[A-Z]*=//p' "$build/CMakeCache.txt")
python_version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
next_python=$("$python" -c 'import sys; print("%d.%d" % (sys.version_info[0], sys.version_info[1] + 1))')
ext_suffix=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
deb=$work/deb/vtsnap_${version}_${arch}.deb
pydeb=$work/deb/python3-vtsnap_${version}_${arch}.deb
made_debs() {
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" || return 1
  expect_lines "$(basename "$pydeb")
$(basename "$deb")" "$(cd "$work/deb" && LC_ALL=C ls -- *.deb)"
}
check "cpack makes $(basename "$deb") and $(basename "$pydeb")" made_debs

# control_fields DEB FIELDS: DEB has a control file and md5sums, each line
# `field|regex` of FIELDS matches its field, and the long description is
# indented lines of at most 80 columns.
control_fields() {
  local deb=$1 info field expected got
  info=$(dpkg-deb --info "$deb") || return 1
  grep -qE '^ +[0-9]+ bytes, +[0-9]+ lines +control' <<<"$info" || { echo "no control file: $info"; return 1; }
  grep -qE '^ +[0-9]+ bytes, +[0-9]+ lines +md5sums' <<<"$info" || { echo "no md5sums: $info"; return 1; }
  while IFS='|' read -r field expected; do
    got=$(dpkg-deb -f "$deb" "$field" | head -n 1)
    [[ $got =~ ^$expected$ ]] || { echo "$field: '$got' does not match '$expected'"; return 1; }
  done <<<"$2"
  awk '/^Description:/ {d = 1; next} d && /^ / {n++; if (length($0) > 80) bad = 1} d && !/^ / {d = 0}
       END {exit !(n > 0 && !bad)}' <(dpkg-deb -f "$deb") || { echo "no or overlong long description"; return 1; }
}
common_fields="Source|vtsnap
Version|${version//./\\.}
Architecture|$arch
Priority|optional
Maintainer|[^<>]+ <[^<>@ ]+@[^<>@ ]+>
Installed-Size|[0-9]+"

tools_fields() {
  control_fields "$deb" "Package|vtsnap
Section|utils
Depends|libc6 \(>= [0-9.]+\)
Description|keeps a text file of a console program's screen
$common_fields" || return 1
  # It names every file the tool writes.
  local described
  described=$(dpkg-deb -f "$deb" Description | tr -s ' \n' ' ')
  for name in "transcript" "web page" "asciicast recording"; do
    grep -q "$name" <<<"$described" || { echo "the description does not name the $name"; return 1; }
  done
}
check "dpkg-deb --info vtsnap: the control fields, libc the only dependency" tools_fields

# The module's package needs the Python it was built for, and the libraries
# dpkg-shlibdeps finds; it byte-compiles the module when installed and
# cleans up before removal.
python_fields() {
  control_fields "$pydeb" "Package|python3-vtsnap
Section|python
Depends|python3 \(>= ${python_version//./\\.}~\), python3 \(<< ${next_python//./\\.}\)(, [a-z0-9.+-]+ \(>= [^)]+\))+
Description|vtsnap's terminal emulator as a Python module
$common_fields" || return 1
  local depends script info
  depends=$(dpkg-deb -f "$pydeb" Depends)
  grep -qE '(^|, )libc6 \(' <<<"$depends" || { echo "no libc6 in: $depends"; return 1; }
  info=$(dpkg-deb --info "$pydeb")
  for script in postinst prerm; do
    grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\\* +$script +#!/bin/sh\$" <<<"$info" ||
      { echo "no executable $script"; return 1; }
  done
  grep -q 'py3compile -p python3-vtsnap' <<<"$(dpkg-deb --info "$pydeb" postinst)" || { echo "no py3compile"; return 1; }
  grep -q 'py3clean -p python3-vtsnap' <<<"$(dpkg-deb --info "$pydeb" prerm)" || { echo "no py3clean"; return 1; }
}
check "dpkg-deb --info python3-vtsnap: the control fields, python3 $python_version, py3compile, py3clean" python_fields

# listing DEB: mode, owner, path and link target of each file; times and
# sizes aside.
listing() {
  dpkg-deb --contents "$1" |
    awk '{line = $1 " " $2 " " $6; for (i = 7; i <= NF; i++) line = line " " $i; print line}' | LC_ALL=C sort -k3
}
tools_contents() {
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
-rw-r--r-- root/root ./usr/share/man/man1/vtsnap.1.gz" "$(listing "$deb")"
}
check "dpkg-deb --contents vtsnap: the tools, the manual page, the README, copyright and changelog" tools_contents
python_contents() {
  expect_lines "drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/lib/
drwxr-xr-x root/root ./usr/lib/python3/
drwxr-xr-x root/root ./usr/lib/python3/dist-packages/
drwxr-xr-x root/root ./usr/lib/python3/dist-packages/vtsnap/
-rw-r--r-- root/root ./usr/lib/python3/dist-packages/vtsnap/__init__.py
-rw-r--r-- root/root ./usr/lib/python3/dist-packages/vtsnap/_vtsnap$ext_suffix
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/python3-vtsnap/
-rw-r--r-- root/root ./usr/share/doc/python3-vtsnap/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/python3-vtsnap/copyright" "$(listing "$pydeb")"
}
check "dpkg-deb --contents python3-vtsnap: the module in dist-packages, copyright and changelog" python_contents

# Both packages unpacked into one root, as they install.
root=$work/unpacked
dist_packages=$root/usr/lib/python3/dist-packages
unpacked() {
  dpkg-deb -x "$deb" "$root" && dpkg-deb -x "$pydeb" "$root" || return 1
  file "$root/usr/bin/vtsnap" "$root/usr/bin/vtsnap-render" "$dist_packages/vtsnap/_vtsnap$ext_suffix" |
    grep -v ', stripped$' && return 1
  local package
  for package in vtsnap python3-vtsnap; do
    grep -qF "vtsnap ($version)" <<<"$(zcat "$root/usr/share/doc/$package/changelog.gz" | sed -n 1p)" ||
      { echo "$package: the changelog is not of $version"; return 1; }
  done
}
check "dpkg-deb -x unpacks them: stripped tools and module, changelogs of $version" unpacked
check "the unpacked tools run the demo" run_demo "$root/usr/bin" "$work/run-unpacked"
check "the packed manual page renders without a warning" man_page "$root/usr/share/man/man1/vtsnap.1.gz"
check "man finds vtsnap and vtsnap-render in the package" man_by_name "$root/usr/share/man"

# one_liner DIR PYTHON...: the README's first lines of Python run, with the
# module found in DIR (no byte code written there).
one_liner() {
  local dir=$1 found
  shift
  (cd "$work" && "$@" -B -c 'import vtsnap; s = vtsnap.Screen(20, 3); s.feed(b"hi\x1b[31m!"); print(s.text())') \
    >"$work/one-liner.txt" || return 1
  same_bytes <(printf 'hi!\r\n\n') "$work/one-liner.txt" || return 1
  found=$(cd "$work" && "$@" -B -c 'import vtsnap; print(vtsnap.__file__)') || return 1
  [[ $found == "$dir"/* ]] || { echo "vtsnap came from $found, not $dir"; return 1; }
}
check "Debian's python3 imports the unpacked module and runs the README's example" \
  one_liner "$dist_packages" env PYTHONPATH="$dist_packages" "$python"

lintian_clean() {
  local status
  lintian --fail-on error,warning "$deb" "$pydeb" >"$work/lintian.txt" 2>&1
  status=$?
  grep -v 'running with root privileges' "$work/lintian.txt"
  return "$status"
}
check "lintian: no error and no warning on either package" lintian_clean

# --- pip, as the README installs the module: into a virtual environment that
# sees Debian's packages, from the checkout, with nothing from a registry.
venv=$work/venv
pip_installed() {
  "$python" -m venv --system-site-packages "$venv" || return 1
  "$venv/bin/pip" install --quiet --no-index --no-build-isolation . || return 1
}
check "pip install --no-index --no-build-isolation . into a virtual environment" pip_installed
check "the pip-installed module runs the README's example" one_liner "$venv/lib" "$venv/bin/python"

echo "packaging (native): $passed passed, $failed failed"
exit $((failed > 0))
