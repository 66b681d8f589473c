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

round_trip() {  # round_trip <exe> <backup> <state before> <state after>
  local exe=$1 backup=$2
  step "$backup" "$exe" status
  step "$backup" "$exe" apply gamer "$(winpath "$backup")"
  step "$backup" "$exe" apply extremo "$(winpath "$backup")"
  step "$backup" "$exe" restore "$(winpath "$backup")"
  same_state "$3" "$4"
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
echo "=== preset-nvidia"
round_trip "$bin/nvidia/preset-nvidia.exe" "$work/nvidia-backup.txt" \
  "$work/nvapi-state.before" "$SIM_NVAPI_STATE"
unset SIM_NVAPI_STATE SIM_NVAPI_LOG
rm -f "$system32/nvapi64.dll"

# AMD: two GPUs with ids 7 and -2, every setting supported and on, modes at 3.
cp "$bin/sim/adlx/amdadlx64.dll" "$system32/amdadlx64.dll"
export SIM_ADLX_GPUS=2 SIM_ADLX_IDS=7,-2
export SIM_ADLX_STATE=$(winpath "$work/adlx-state.txt") SIM_ADLX_LOG=$(winpath "$work/adlx-calls.log")
{
  echo "rsr=1"
  echo "afmf=1"
  for gpu in gpu0 gpu1; do
    for s in chill boost frtc sharpening mlaa anisotropic enhanced-sync fsr frame-generation; do
      echo "$gpu.$s=1"
    done
    for m in aa-mode tessellation-mode vsync-mode; do
      echo "$gpu.$m=3"
    done
  done
} >"$work/adlx-state.txt"
cp "$work/adlx-state.txt" "$work/adlx-state.before"
echo
echo "=== preset-amd"
round_trip "$bin/amd/preset-amd.exe" "$work/amd-backup.txt" \
  "$work/adlx-state.before" "$work/adlx-state.txt"
unset SIM_ADLX_GPUS SIM_ADLX_IDS SIM_ADLX_STATE SIM_ADLX_LOG
rm -f "$system32/amdadlx64.dll"
