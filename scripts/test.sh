#!/usr/bin/env bash
# Runs every test through one ctest: the native unit tests under the sanitizers, the
# end-to-end tests of the Windows programs under Wine, and a short run (15 s) of each fuzz
# target of the backup and number readers. Does its own set-up first.
# Three tests at a time: two end-to-end scripts (one in each Wine prefix; they mostly wait)
# and a unit test or a fuzz target. Arguments go to ctest: `scripts/test.sh -R e2e_test_clients`
# runs one test, `scripts/test.sh -R e2e_` the end-to-end group.
# The release built twice and compared byte for byte is scripts/release.sh's (minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --build --preset windows
cmake --build --preset native
cmake --build --preset fuzz
ctest --preset all -j3 "$@"
