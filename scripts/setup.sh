#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing, then configures
# both build trees. Safe to run again: it installs only missing packages.
set -euo pipefail
cd "$(dirname "$0")/.."

# mono-mcs and mono-runtime compile and run the C# client's tests and build its NuGet
# package; osslsigncode and openssl sign a release and test the signing; nuget and
# python3-venv take the client packages in as their ecosystems do, in the release's tests.
packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine64 googletest libgtest-dev
          libgmock-dev python3 python3-venv clang libclang-rt-14-dev mono-mcs mono-runtime
          nuget osslsigncode openssl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The three trees are configured side by side: each mostly waits on its compiler checks.
configure() { [ -f "build/$1/build.ninja" ] || cmake --preset "$1" >/dev/null; }
configure windows & windows=$!
configure native & native=$!
configure fuzz & fuzz=$!
wait "$windows"
wait "$native"
wait "$fuzz"
