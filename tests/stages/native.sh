#!/usr/bin/env bash
# Native build, unit tests and the POSIX end-to-end tests, then the install
# and the .deb made from the same build.
set -euo pipefail
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native -j2
bash tests/packaging/native.sh
