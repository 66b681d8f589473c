#!/usr/bin/env bash
# The main job, as a user would see it: both programs under Wine against the simulated
# drivers, status, apply "gamer", apply "extremo", restore, with each result line, its exit
# code and the backup file between the steps, and the driver state before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --build --preset windows >/dev/null

root=$PWD
bin=$root/build/windows
work=$root/build/roundtrip
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$root/build/roundtrip-prefix WINEDEBUG=-all
wine=/usr/lib/wine/wine64
"$wine" cmd /c exit >/dev/null 2>&1 || true
system32=$WINEPREFIX/drive_c/windows/system32

winpath() { printf 'Z:%s' "${1//\//\\}"; }

step() {  # step <label> <exe> <args...>
  local label=$1 exe=$2
  shift 2
  local out code
  set +e
  out=$("$wine" "$exe" "$@" | tr -d '\r')
  code=$?
  set -e
  printf '\n$ %s %s\n%s\nexit code %s\n' "$(basename "$exe" .exe)" "$*" "$out" "$code"
  if [ -f "$label" ]; then
    printf -- '--- backup file %s\n' "$(basename "$label")"
    tr -d '\r' <"$label"
  else
    printf -- '--- no backup file\n'
  fi
}

same_state() {  # same_state <before> <after>: the simulated driver state, order aside
  if diff <(tr -d '\r' <"$1" | sort) <(tr -d '\r' <"$2" | sort) >/dev/null; then
    echo "driver state after restore: identical to before the first apply"
  else
    echo "driver state after restore DIFFERS from before the first apply:"
    diff <(tr -d '\r' <"$1" | sort) <(tr -d '\r' <"$2" | sort) || true
    exit 1
  fi
}

# NVIDIA: a base profile with 11 of the 13 managed settings; the other two are absent and
# must be absent again after the restore.
cp "$bin/sim/nvapi/nvapi64.dll" "$system32/nvapi64.dll"
export SIM_NVAPI_STATE=$work/nvapi-state.txt SIM_NVAPI_LOG=$work/nvapi-calls.log
cat >"$SIM_NVAPI_STATE" <<'STATE'
0x1057EB71=0x00000000
0x0064B541=0x00000000
0x00CE2691=0x00000003
0x00198FFF=0x00000000
0x00AC8497=0x00000010
0x10835002=0x00000001
0x107EFC5B=0x00000001
0x10D2BB16=0x00000001
0x00A879CF=0x00000000
0x00E73211=0x00000000
0x0084CD70=0x00000000
STATE
cp "$SIM_NVAPI_STATE" "$work/nvapi-state.before"
backup=$work/nvidia-backup.txt
echo "=== preset-nvidia"
step "$backup" "$bin/nvidia/preset-nvidia.exe" status
step "$backup" "$bin/nvidia/preset-nvidia.exe" apply gamer "$(winpath "$backup")"
step "$backup" "$bin/nvidia/preset-nvidia.exe" apply extremo "$(winpath "$backup")"
step "$backup" "$bin/nvidia/preset-nvidia.exe" restore "$(winpath "$backup")"
same_state "$work/nvapi-state.before" "$SIM_NVAPI_STATE"
unset SIM_NVAPI_STATE SIM_NVAPI_LOG
rm -f "$system32/nvapi64.dll"

if [ -f scripts/roundtrip-amd.sh ]; then
  # shellcheck source=roundtrip-amd.sh
  source scripts/roundtrip-amd.sh
fi
