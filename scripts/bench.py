#!/usr/bin/env python3
"""Start-up benchmark under Wine: median wall time and peak memory of each command next
to an empty, statically linked Windows program, all measured in this one invocation.

Peak memory is the largest resident set of the run's own process (the Windows program
runs inside the Wine process the benchmark starts; Wine's server, shared by all runs, is
not counted), as the median over the runs.

One more row shows what the NVIDIA loader's preload of six system libraries costs: the
same status run from a copy named mfpmp.exe, the one program name the loader skips it for.
Under Wine those libraries (cryptnet.dll brings in crypt32, user32, shell32 and more) are
loaded and initialised from scratch in every process, which real Windows does far faster.
Two more show preset-amd's own share of apply and restore: the same runs against a
simulated driver that keeps no state file, so that its writes cost nothing (it saves its
whole state to a new file and renames it at every write, which Wine makes slow).

The last rows time an apply followed by a restore of a backup 1 and 16 folders below the
benchmark's own folder, for both programs (preset-amd again without a state file): a run
walks to its backup's folder once, opening each folder on the way, so the depth should
cost next to nothing.

Usage: scripts/bench.py [--runs N]   (builds nothing: run scripts/test.sh or
cmake --build --preset windows first)
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[1]
BIN = REPO / "build" / "windows"
WORK = REPO / "build" / "bench"
PREFIX = REPO / "build" / "bench-prefix"
WINE = "/usr/lib/wine/wine64"
# How often a run Wine failed to start is tried, as the tests do.
STARTS = 4


def env(extra):
    e = {k: v for k, v in os.environ.items() if not k.startswith(("SIM_NVAPI_", "SIM_ADLX_"))}
    e.update({"WINEPREFIX": str(PREFIX), "WINEDEBUG": "-all"}, **extra)
    return e


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def timed(exe, args, extra):
    """(seconds, output, exit code, peak resident KiB) of one run. A run that Wine failed to
    start (no output and exit 1, which no program measured here ends with) is timed again."""
    for attempt in range(STARTS):
        ran = timed_once(exe, args, extra)
        if ran[1:3] != ("", 1) or attempt == STARTS - 1:
            return ran
    return ran


def timed_once(exe, args, extra):
    # Output to a file, not a pipe: Wine's services may inherit the descriptor and hold a
    # pipe open after the program has ended, which would be timed too.
    with tempfile.TemporaryFile() as out:
        start = time.perf_counter()
        proc = subprocess.Popen([WINE, str(exe), *args], env=env(extra), stdout=out,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        elapsed = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return (elapsed, out.read().decode(errors="replace").strip(), proc.returncode,
                usage.ru_maxrss)


DEPTHS = (1, 16)


def deep_backup(depth, name):
    """A backup path `depth` folders below the benchmark's folder."""
    return winpath(WORK.joinpath(*("depth%d-%02d" % (depth, i) for i in range(depth)), name))


def round_trip(exe, backup, extra):
    """apply gamer, then restore: their seconds summed, the restore's line and exit code,
    the larger peak."""
    applied = timed(exe, ["apply", "gamer", backup], extra)
    if not applied[1].startswith("result=ok"):
        return applied
    restored = timed(exe, ["restore", backup], extra)
    return (applied[0] + restored[0], restored[1], restored[2], max(applied[3], restored[3]))


class Series:
    def __init__(self):
        self.times = {}
        self.peaks = {}

    def add(self, name, seconds, peak_kib):
        self.times.setdefault(name, []).append(seconds)
        self.peaks.setdefault(name, []).append(peak_kib)

    def median_ms(self, name):
        return statistics.median(self.times[name]) * 1000.0

    def median_peak_mib(self, name):
        return statistics.median(self.peaks[name]) / 1024.0

    def median_paired_ratio(self, name, base):
        """The median over rounds of this row's time over the base row's in the same round:
        a slow minute of a noisy machine slows both, where the ratio of the two medians
        can set one row's slow minute against the other's quick one."""
        return statistics.median(t / b for t, b in zip(self.times[name], self.times[base]))


def nvidia_state(path):
    path.write_text("".join(f"0x{i:08X}=0x00000000\n" for i in (
        0x1057EB71, 0x0064B541, 0x00CE2691, 0x00198FFF, 0x00AC8497, 0x10835002, 0x107EFC5B,
        0x10D2BB16, 0x00A879CF, 0x20FDD1F9, 0x00E73211, 0x0084CD70, 0x002ECAF2)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=21)
    opts = parser.parse_args()

    shutil.rmtree(WORK, ignore_errors=True)
    WORK.mkdir(parents=True)
    subprocess.run([WINE, "cmd", "/c", "exit"], env=env({}), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    system32 = PREFIX / "drive_c" / "windows" / "system32"
    shutil.copyfile(BIN / "sim" / "nvapi" / "nvapi64.dll", system32 / "nvapi64.dll")
    amd_dll = BIN / "sim" / "adlx" / "amdadlx64.dll"
    amd_exe = BIN / "amd" / "preset-amd.exe"
    have_amd = amd_dll.exists() and amd_exe.exists()
    if have_amd:
        shutil.copyfile(amd_dll, system32 / "amdadlx64.dll")

    nv = {"SIM_NVAPI_STATE": winpath(WORK / "nvapi-state.txt")}
    nvidia_state(WORK / "nvapi-state.txt")
    amd = {"SIM_ADLX_STATE": winpath(WORK / "adlx-state.txt"), "SIM_ADLX_GPUS": "2"}
    empty = BIN / "bench" / "empty-program.exe"
    nv_exe = BIN / "nvidia" / "preset-nvidia.exe"
    nv_unpreloaded = WORK / "mfpmp.exe"
    shutil.copyfile(nv_exe, nv_unpreloaded)
    nv_backup = winpath(WORK / "nvidia-backup.txt")
    amd_backup = winpath(WORK / "amd-backup.txt")
    amd_stateless = {"SIM_ADLX_GPUS": "2"}
    amd_stateless_backup = winpath(WORK / "amd-stateless-backup.txt")

    series = Series()
    for run in range(opts.runs + 2):  # the first two runs warm Wine's caches and are dropped
        samples = [("empty program", *timed(empty, [], {}))]
        samples.append(("preset-nvidia status", *timed(nv_exe, ["status"], nv)))
        samples.append(("preset-nvidia apply gamer", *timed(nv_exe, ["apply", "gamer", nv_backup], nv)))
        samples.append(("preset-nvidia restore", *timed(nv_exe, ["restore", nv_backup], nv)))
        samples.append(("  status without preload", *timed(nv_unpreloaded, ["status"], nv)))
        if have_amd:
            samples.append(("preset-amd status", *timed(amd_exe, ["status"], amd)))
            samples.append(("preset-amd apply gamer", *timed(amd_exe, ["apply", "gamer", amd_backup], amd)))
            samples.append(("preset-amd restore", *timed(amd_exe, ["restore", amd_backup], amd)))
            samples.append(("  apply gamer, no state file",
                            *timed(amd_exe, ["apply", "gamer", amd_stateless_backup], amd_stateless)))
            samples.append(("  restore, no state file",
                            *timed(amd_exe, ["restore", amd_stateless_backup], amd_stateless)))
        for depth in DEPTHS:
            samples.append((f"nvidia apply+restore, {depth} deep",
                            *round_trip(nv_exe, deep_backup(depth, "nvidia.txt"), nv)))
            if have_amd:
                samples.append((f"amd apply+restore, {depth} deep",
                                *round_trip(amd_exe, deep_backup(depth, "amd.txt"),
                                            amd_stateless)))
        for name, seconds, line, code, peak in samples:
            if name != "empty program" and not line.startswith("result=ok"):
                sys.exit(f"{name} failed: exit {code}: {line}")
            if run >= 2:
                series.add(name, seconds, peak)

    base = series.median_ms("empty program")
    base_peak = series.median_peak_mib("empty program")
    print(f"median under Wine over {opts.runs} runs")
    print(f"{'command':<28} {'wall ms':>8} {'ratio':>6} {'paired':>7} {'peak MiB':>9} {'ratio':>6}")
    for name in series.times:
        ms, peak = series.median_ms(name), series.median_peak_mib(name)
        paired = series.median_paired_ratio(name, "empty program")
        print(f"{name:<28} {ms:>8.1f} {ms / base:>6.2f} {paired:>7.2f} {peak:>9.1f} "
              f"{peak / base_peak:>6.2f}")
    for program in ("nvidia", "amd"):
        deep, shallow = (f"{program} apply+restore, {depth} deep" for depth in reversed(DEPTHS))
        if deep in series.times:
            print(f"{program}: {DEPTHS[1]} folders deep against {DEPTHS[0]}: "
                  f"{series.median_ms(deep) / series.median_ms(shallow):.2f}")


if __name__ == "__main__":
    main()
