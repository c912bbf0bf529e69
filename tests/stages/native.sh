#!/usr/bin/env bash
# Native build, unit tests and the POSIX end-to-end tests.
set -euo pipefail
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native -j2
