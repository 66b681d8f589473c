#!/usr/bin/env bash
# Runs every test through one ctest: the native unit tests under the sanitizers, the
# end-to-end tests of the Windows programs under Wine, and a short run (5 s) of each fuzz
# target of the backup and number readers (CI then gives each a minute). Does its own
# set-up first.
# Three tests at a time: two end-to-end scripts (one in each Wine prefix; they mostly wait)
# and a unit test or a fuzz target. Arguments go to ctest: `scripts/test.sh -R e2e_test_clients`
# runs one test, `scripts/test.sh -R e2e_` the end-to-end group.
# The release built twice and compared byte for byte is scripts/release.sh's (minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# A new Wine prefix takes seconds, most of them waiting on Wine's services: the suite's
# prefixes are made while the trees build. ctest's own set-up then finds them ready.
E2E_WINEPREFIX="$PWD/build/native/wineprefix" PYTHONPATH="$PWD/tests:$PWD/selftest" \
  python3 tests/e2e/make_prefix.py >build/native/make_prefix.log 2>&1 &
prefixes=$!
cmake --build --preset windows
cmake --build --preset native
cmake --build --preset fuzz
wait "$prefixes" || { cat build/native/make_prefix.log; exit 1; }
ctest --preset all -j3 "$@"
