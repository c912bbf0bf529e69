#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing
# vtsnap. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm-14
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64
  bsdutils procps
  # Packaging: CPack's .deb (dpkg-shlibdeps, file), and its checks.
  dpkg-dev file lintian man-db groff-base bsdextrautils unzip
  # Recordings checked against the real asciinema, which runs under script(1).
  asciinema
  # The character width table's generator and its data.
  python3 unicode-data
  # The Python module: built with pybind11 for /usr/bin/python3, installed with pip, setuptools and wheel into a
  # virtual environment, tested with pytest and timed against pyte.
  python3-dev pybind11-dev python3-pybind11 python3-setuptools python3-pip python3-wheel python3-venv python3-pytest
  python3-pyte
  # The page's browser test: headless Chromium, a monospace font, and fonts for wide characters whose glyphs are
  # not two columns wide, as on users' machines.
  chromium fonts-dejavu-core fonts-wqy-microhei fonts-noto-color-emoji
  # The picture's second renderer.
  librsvg2-bin
)
# Node.js for the differential test: Debian's, unless the machine has its own
# (a NodeSource nodejs brings npm and conflicts with Debian's npm package).
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
