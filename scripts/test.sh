#!/usr/bin/env bash
# Runs every test: native unit tests under the sanitizers and the end-to-end tests of the
# Windows programs under Wine, all through one ctest. Does its own set-up first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --build --preset windows
cmake --build --preset native
ctest --preset all -j2 "$@"
# The fuzz targets of the backup and number readers, a bounded minute each.
if [ $# -eq 0 ]; then
  cmake --build --preset fuzz
  ctest --preset fuzz
fi
