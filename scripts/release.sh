#!/usr/bin/env bash
# Builds the release ZIP: preset-nvidia.exe, preset-amd.exe, README.md, LICENSE and
# SHA256SUMS. Does its own set-up, runs every test first (RELEASE_SKIP_TESTS=1 skips them
# for a quick try), builds the programs in a tree of their own (RELEASE_BUILD_DIR, default
# build/release), installs them with CMake and packs the installed files. The same commit
# gives the same bytes in any directory, at any time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

tested=""
if [ "${RELEASE_SKIP_TESTS:-0}" != 1 ]; then
  scripts/test.sh
  tested=build/windows
fi

# Every file time in the ZIP is the commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: warning: the working tree differs from the commit" >&2
fi

build="${RELEASE_BUILD_DIR:-build/release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target preset-nvidia preset-amd

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
name="$(cache CMAKE_PROJECT_NAME)-$(cache CMAKE_PROJECT_VERSION)-win64"
stage="$build/stage/$name"
rm -rf "$build/stage"
cmake --install "$build" --prefix "$stage" >/dev/null
python3 scripts/release_zip.py "$stage" "$build/$name.zip"

# What ships is what the tests ran: the tested build gives the same bytes.
if [ -n "$tested" ]; then
  for exe in nvidia/preset-nvidia.exe amd/preset-amd.exe; do
    if ! cmp -s "$tested/$exe" "$build/$exe"; then
      echo "release: $build/$exe differs from the tested $tested/$exe" >&2
      exit 1
    fi
  done
fi
echo "release: $build/$name.zip"
(cd "$stage" && cat SHA256SUMS)
