#!/usr/bin/env bash
# Builds the two release ZIPs and a SHA256SUMS beside them that lists both:
#   gpu-presets-<version>-win64.zip   the programs, the end users' README, SIGNING.md,
#                                     LICENSE, SHA256SUMS
#   gpu-presets-<version>-devkit.zip  the guide and simulated-driver docs, the simulated
#                                     libraries, the clients and their NuGet, Python and
#                                     CMake packages, the self-test for Windows, README,
#                                     SIGNING.md, LICENSE, SHA256SUMS
# Does its own set-up, runs every test first, builds in a tree of its own
# (RELEASE_BUILD_DIR, default build/release), installs each package with CMake and packs
# the installed files. Each client package of the kit is then taken in as its ecosystem
# does and runs the client cases (tests/release/test_packages.py), and the kit's self-test
# runs from the two unpacked ZIPs under Wine (tests/release/test_kit_selftest.py). The same
# commit gives the same bytes in any directory, at any time: at the end a second release is
# built in another directory, under another umask, and compared with this one byte for byte
# (tests/release/test_reproducible.py).
#   RELEASE_SKIP_TESTS=1  a quick try: no tests, no comparison with the tested build, no
#                         self-test of the kit, no second release
#   RELEASE_TESTS_DONE=1  scripts/test.sh has just passed on this tree (CI runs it first):
#                         the tests are not run again, everything else is done
#
# Signing: with RELEASE_SIGN_PFX (a PKCS#12 file), RELEASE_SIGN_PASS (its password, may be
# empty) and optionally RELEASE_SIGN_TIMESTAMP (an RFC 3161 time-stamp URL), both programs
# get an Authenticode signature (SHA-256, with osslsigncode) before the ZIPs and sums are
# made, and each signature is verified against the certificates in the file and the
# system's. A signature holds its time, so a signed release is not reproducible; without
# RELEASE_SIGN_PFX nothing is signed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The password goes to the tools in a file of our own, never on a command line that any
# process could read.
passin=(-passin pass:)
readpass=(-pass "")
if [ -n "${RELEASE_SIGN_PFX:-}" ]; then
  signing="$(mktemp -d)"
  trap 'rm -rf "$signing"' EXIT
  if [ -n "${RELEASE_SIGN_PASS:-}" ]; then
    printf '%s' "$RELEASE_SIGN_PASS" >"$signing/pass"
    passin=(-passin "file:$signing/pass")
    readpass=(-readpass "$signing/pass")
  fi
  # Checked before the long build: a wrong file or password ends the release here.
  openssl pkcs12 -in "$RELEASE_SIGN_PFX" "${passin[@]}" -nokeys -out "$signing/trusted.pem"
  if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    cat /etc/ssl/certs/ca-certificates.crt >>"$signing/trusted.pem"
  fi
fi

# sign_programs <installed win64 folder>: signs and verifies each program there, then
# writes the folder's SHA256SUMS again, over the signed files. The build tree keeps the
# unsigned programs, which are the ones the tests ran.
sign_programs() {
  local folder="$1" exe timestamp=()
  if [ -n "${RELEASE_SIGN_TIMESTAMP:-}" ]; then
    timestamp=(-ts "$RELEASE_SIGN_TIMESTAMP")
  fi
  for exe in "$folder"/*.exe; do
    osslsigncode sign -pkcs12 "$RELEASE_SIGN_PFX" "${readpass[@]}" -h sha256 \
      -n "$(basename "$exe" .exe)" "${timestamp[@]}" -in "$exe" -out "$exe.signed" >/dev/null
    mv "$exe.signed" "$exe"
    osslsigncode verify -in "$exe" -CAfile "$signing/trusted.pem" \
      -TSA-CAfile "$signing/trusted.pem" -ignore-cdp >/dev/null
    echo "release: signed $exe"
  done
  cmake -DCMAKE_INSTALL_PREFIX="$folder" \
    -DPRESETS_SUMS_NAMES="$(cut -c67- "$folder/SHA256SUMS" | paste -sd ';')" \
    -P cmake/write_sha256sums.cmake >/dev/null
}

tested=""
if [ "${RELEASE_SKIP_TESTS:-0}" != 1 ]; then
  [ "${RELEASE_TESTS_DONE:-0}" = 1 ] || scripts/test.sh
  tested=build/windows
fi

# Every file time in the ZIPs is the commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "release: warning: the working tree differs from the commit" >&2
fi

build="${RELEASE_BUILD_DIR:-build/release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target preset-nvidia preset-amd presets_devkit

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
base="$(cache CMAKE_PROJECT_NAME)-$(cache CMAKE_PROJECT_VERSION)"
rm -rf "$build/stage"
zips=()
for package in win64 devkit; do
  stage="$build/stage/$base-$package"
  cmake --install "$build" --component "$package" --prefix "$stage" >/dev/null
  if [ -n "${RELEASE_SIGN_PFX:-}" ] && [ "$package" = win64 ]; then
    sign_programs "$stage"
  fi
  python3 scripts/release_zip.py "$stage" "$build/$base-$package.zip"
  zips+=("$base-$package.zip")
done
# Published beside the ZIPs, so each can be checked before it is unpacked.
(cd "$build" && printf "%s\n" "${zips[@]}" | LC_ALL=C sort | xargs sha256sum >SHA256SUMS.part &&
  mv SHA256SUMS.part SHA256SUMS)

# What ships is what the tests ran: the tested build gives the same bytes.
if [ -n "$tested" ]; then
  shipped=(nvidia/preset-nvidia.exe amd/preset-amd.exe)
  for file in "$build/stage/$base-devkit"/sim/*/*; do
    shipped+=("${file#"$build/stage/$base-devkit/"}")
  done
  for file in "${shipped[@]}"; do
    if ! cmp -s "$tested/$file" "$build/$file"; then
      echo "release: $build/$file differs from the tested $tested/$file" >&2
      exit 1
    fi
  done
fi
# The kit's packages work where a front-end team takes them in, and its self-test runs from
# the unpacked ZIPs under Wine, as a front-end team starts it.
if [ -n "$tested" ]; then
  RELEASE_BUILD_DIR="$build" python3 tests/release/test_packages.py
  RELEASE_BUILD_DIR="$build" python3 tests/release/test_kit_selftest.py
fi
# A second release of the same commit, built from nothing elsewhere, gives the same bytes.
# A signed release carries the time it was signed, so the check then makes both its own.
if [ -n "$tested" ]; then
  if [ -n "${RELEASE_SIGN_PFX:-}" ]; then
    python3 tests/release/test_reproducible.py
  else
    RELEASE_REPRO_FIRST="$build" python3 tests/release/test_reproducible.py
  fi
fi
for zip in "${zips[@]}"; do echo "release: $build/$zip"; done
cat "$build/SHA256SUMS"
