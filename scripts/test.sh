#!/usr/bin/env bash
# Runs every test: native unit tests under the sanitizers and the end-to-end tests of the
# Windows programs under Wine, all through one ctest, then a short run of each fuzz target
# of the backup and number readers, the three at once. Does its own set-up first.
# Three tests at a time: two end-to-end scripts (one in each Wine prefix; they mostly wait)
# and one unit test. Arguments go to ctest (`scripts/test.sh -R e2e_test_clients`) and
# skip the fuzz run.
# FUZZ_PRESET=fuzz-ci runs the fuzz targets longer, as CI does.
# Two release builds compared byte for byte are scripts/release.sh's job (minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --build --preset windows
cmake --build --preset native
[ $# -gt 0 ] || cmake --build --preset fuzz
ctest --preset all -j3 "$@"
[ $# -gt 0 ] || ctest --preset "${FUZZ_PRESET:-fuzz}"
