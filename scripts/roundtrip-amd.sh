# The AMD half of the round trip, sourced by scripts/roundtrip.sh (which defines step,
# same_state, winpath, wine, bin, work and system32): two GPUs with ids 7 and -2, every
# setting supported and on, modes at 3.
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
backup=$work/amd-backup.txt
echo
echo "=== preset-amd"
step "$backup" "$bin/amd/preset-amd.exe" status
step "$backup" "$bin/amd/preset-amd.exe" apply gamer "$(winpath "$backup")"
step "$backup" "$bin/amd/preset-amd.exe" apply extremo "$(winpath "$backup")"
step "$backup" "$bin/amd/preset-amd.exe" restore "$(winpath "$backup")"
same_state "$work/adlx-state.before" "$work/adlx-state.txt"
unset SIM_ADLX_GPUS SIM_ADLX_IDS SIM_ADLX_STATE SIM_ADLX_LOG
rm -f "$system32/amdadlx64.dll"
